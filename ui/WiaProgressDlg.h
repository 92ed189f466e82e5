// The progress window of a WIA transfer: the bare progress bar (resource 153) run modally on a
// thread of its own, so that it stays alive while the transfer blocks the scan's thread. Its
// owner learns its window by message 1034 and may end it with message 1035 (the diagnosis page
// does when the scanner stops answering).
#pragma once

#include <memory>

#include "platform/api/Platform.h"
#include "system/Threads.h"
#include "ui/Dialog.h"
#include "ui/ProgressDialog.h"

namespace msg {
inline constexpr std::uint32_t ScanProgressShown = kvd::platform::kWmUser + 10;  // 1034
inline constexpr std::uint32_t EndScanProgress = kvd::platform::kWmUser + 11;    // 1035
}  // namespace msg

class CWiaProgressDlg : public kvd::ui::CDialog {
 public:
  // What EndDialog answers when the window is ended by its owner or its object.
  static constexpr int kEnded = 8;

  CWiaProgressDlg(kvd::ui::IUiToolkit& ui, kvd::platform::Platform& platform,
                  kvd::platform::WindowHandle owner, kvd::platform::SyncHandle ready);

 protected:
  bool OnInitDialog() override;
  bool OnUserMessage(std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam,
                     std::intptr_t* result) override;
  // Only its owner ends it: neither Escape nor a close request does.
  void OnCancel() override {}
  bool OnClose() override { return true; }

 private:
  kvd::platform::Platform& m_platform;
  kvd::platform::WindowHandle m_hOwner;
  kvd::platform::SyncHandle m_hReady;
};

// WiaWrap's progress window: Show starts the window's thread and returns once the window is up
// (or could not be made), Close ends it and its thread.
class CWiaProgress final : public IProgressDialog {
 public:
  // How long Show waits for the window, and Close for its thread.
  static constexpr std::uint32_t kReadyMs = 10000;
  static constexpr std::uint32_t kEndMs = 5000;

  CWiaProgress(kvd::ui::IUiToolkit& ui, kvd::platform::Platform& platform,
               kvd::platform::WindowHandle owner);
  ~CWiaProgress() override;
  CWiaProgress(const CWiaProgress&) = delete;
  CWiaProgress& operator=(const CWiaProgress&) = delete;

  kvd::platform::WindowHandle Show() override;
  void SetPosition(int percent) override;
  void Close() override;

 private:
  kvd::ui::IUiToolkit& m_ui;
  kvd::platform::Platform& m_platform;
  kvd::platform::WindowHandle m_hOwner;
  kvd::platform::SyncHandle m_hReady = 0;
  std::unique_ptr<CWiaProgressDlg> m_pDialog;
  std::unique_ptr<CThreadGroup> m_pThread;
};
