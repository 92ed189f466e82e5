#pragma once

#include <cstdint>
#include <map>
#include <memory>

#include "ui/Dialog.h"
#include "ui/StartupUi.h"

namespace kvd::ui::win32 {

class DialogBinding;

// The dialog toolkit over plain Win32 (no framework): dialogs from the resources of kavid.exe,
// each bound to its dialog object through DWLP_USER, and the start-up work of the windows
// (common controls, the banner, rich edit). See docs/ui.md for how each framework step of the
// pages maps onto Win32.
class CWin32Ui final : public IStartupUi, public IUiToolkit {
 public:
  CWin32Ui();
  ~CWin32Ui() override;
  CWin32Ui(const CWin32Ui&) = delete;
  CWin32Ui& operator=(const CWin32Ui&) = delete;

  // IStartupUi
  void InitCommonControls() override;
  bool LoadBanner(int id) override;
  void InitRichEdit() override;

  // IUiToolkit
  int DoModal(CDialog& dialog, WindowHandle owner) override;
  bool CreateModeless(CDialog& dialog, WindowHandle owner) override;
  void DestroyWindow(CDialog& dialog) override;
  IconHandle LoadIcon(int id) override;
  MenuHandle GetSystemMenu(WindowHandle window) override;
  bool AppendMenu(MenuHandle menu, std::uint32_t flags, std::uintptr_t id,
                  const std::wstring& text) override;
  int EnableMenuItem(MenuHandle menu, std::uint32_t item, std::uint32_t flags) override;
  bool TrackResourceMenu(int resource, int x, int y, WindowHandle owner) override;
  Rect GetWindowRect(WindowHandle window) override;
  int GetSystemMetrics(int index) override;
  short GetKeyState(int virtualKey) override;
  void ShowWaitCursor() override;
  std::uintptr_t LoadPicture(int id) override;
  void DeletePicture(std::uintptr_t picture) override;
  ImageListHandle CreateImageList(int width, int height) override;
  int ImageListAddPicture(ImageListHandle images, std::uintptr_t picture) override;
  int ImageListAddBitmap(ImageListHandle images, int resource) override;
  void DestroyImageList(ImageListHandle images) override;
  void BeginWaitCursor() override;
  void RemoveTaskbarButton(WindowHandle window) override;
  void EndWaitCursor() override;

  // The decoded banner (an HBITMAP), or 0.
  std::uintptr_t Banner() const { return m_hBanner; }
  // The first modal dialog without owner (the host): what a page created "without owner"
  // gets as its parent, as the framework gives it the main window.
  WindowHandle MainWindow() const { return m_hMainWindow; }

 private:
  friend class DialogBinding;

  std::uintptr_t m_hBanner = 0;
  std::uintptr_t m_hRichEdit = 0;
  WindowHandle m_hMainWindow = 0;
  void* m_hRestoreCursor = nullptr;  // HCURSOR before BeginWaitCursor
};

}  // namespace kvd::ui::win32

// Decodes a resource of type "PNG" into a device-independent bitmap handle (HBITMAP as a number).
bool LoadPNGFromResource(std::uintptr_t module, int id, std::uintptr_t* bitmap);
