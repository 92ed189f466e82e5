#pragma once

#include "ui/StartupUi.h"

// The Win32 start-up work: common controls, the banner through GDI+, the rich-edit library.
class CWin32StartupUi final : public IStartupUi {
 public:
  CWin32StartupUi() = default;
  ~CWin32StartupUi() override;
  CWin32StartupUi(const CWin32StartupUi&) = delete;
  CWin32StartupUi& operator=(const CWin32StartupUi&) = delete;

  void InitCommonControls() override;
  bool LoadBanner(int id) override;
  void InitRichEdit() override;

  // The decoded banner (an HBITMAP), or 0.
  std::uintptr_t Banner() const { return m_hBanner; }

 private:
  std::uintptr_t m_hBanner = 0;
  std::uintptr_t m_hRichEdit = 0;
};

// Decodes a resource of type "PNG" into a device-independent bitmap handle (HBITMAP as a number).
bool LoadPNGFromResource(std::uintptr_t module, int id, std::uintptr_t* bitmap);
