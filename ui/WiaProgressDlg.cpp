#include "ui/WiaProgressDlg.h"

#include "logging/Trace.h"
#include "resources/resource.h"
#include "strings/StringTable.h"

KVD_TRACE_SOURCE();

namespace kind = DUDiduzuz::kind;
using kvd::platform::SyncHandle;
using kvd::platform::WindowHandle;

CWiaProgressDlg::CWiaProgressDlg(kvd::ui::IUiToolkit& ui, kvd::platform::Platform& platform,
                                 WindowHandle owner, SyncHandle ready)
    : CDialog(ui, IDD_PROGRESS), m_platform(platform), m_hOwner(owner), m_hReady(ready) {}

bool CWiaProgressDlg::OnInitDialog() {
  KVD_SCOPE(L"CWiaProgressDlg::OnInitDialog");
  kvd::ui::IDialogView& view = *View();
  view.SetWindowText(GlobalLag.GetString(L"SCANNING_TITLE"));
  if (m_hOwner != 0) {
    m_platform.messages.SendMessage(m_hOwner, msg::ScanProgressShown, GetSafeHwnd(), 0);
  }
  view.ProgressSetRange(IDC_PROGRESS, 0, 100);
  if (m_hReady != 0) m_platform.sync.SetEvent(m_hReady);
  m_ui.RemoveTaskbarButton(GetSafeHwnd());
  return true;
}

bool CWiaProgressDlg::OnUserMessage(std::uint32_t message, std::uintptr_t, std::intptr_t,
                                    std::intptr_t* result) {
  if (message != msg::EndScanProgress) return false;
  EndDialog(kEnded);
  *result = 0;
  return true;
}

CWiaProgress::CWiaProgress(kvd::ui::IUiToolkit& ui, kvd::platform::Platform& platform,
                           WindowHandle owner)
    : m_ui(ui), m_platform(platform), m_hOwner(owner) {}

CWiaProgress::~CWiaProgress() { Close(); }

WindowHandle CWiaProgress::Show() {
  KVD_SCOPE(L"CWiaProgress::Show");
  Close();
  m_hReady = m_platform.sync.CreateEvent(false, false, nullptr);
  m_pDialog = std::make_unique<CWiaProgressDlg>(m_ui, m_platform, m_hOwner, m_hReady);
  m_pThread = std::make_unique<CThreadGroup>(m_platform);
  CWiaProgressDlg* dialog = m_pDialog.get();
  kvd::ui::IUiToolkit* ui = &m_ui;
  const WindowHandle owner = m_hOwner;
  const CThreadGroup::Thread thread =
      m_pThread->Start(L"WiaProgress", [ui, dialog, owner] { ui->DoModal(*dialog, owner); });
  // Up, or its thread gone (the window could not be made): either way the scan goes on.
  const SyncHandle waits[] = {m_hReady, thread.EndedEvent()};
  if (m_hReady == 0 || waits[1] == 0 ||
      m_platform.sync.WaitForMultipleObjects(2, waits, false, kReadyMs) !=
          kvd::platform::wait::Object0) {
    KVD_LOG(kind::Error, L"The scan's progress window did not come up.");
  }
  return dialog->GetSafeHwnd();
}

void CWiaProgress::SetPosition(int percent) {
  if (m_pDialog && m_pDialog->View() != nullptr) {
    m_pDialog->View()->ProgressSetPos(IDC_PROGRESS, percent);
  }
}

void CWiaProgress::Close() {
  if (!m_pThread) return;
  KVD_SCOPE(L"CWiaProgress::Close");
  const WindowHandle window = m_pDialog ? m_pDialog->GetSafeHwnd() : 0;
  if (window != 0) m_platform.messages.PostMessage(window, msg::EndScanProgress, 0, 0);
  if (m_pThread->WaitForAll(kEndMs) != 0) {
    // Its window did not end: the thread still uses the dialog, so both are left behind.
    KVD_LOG(kind::Error, L"The scan's progress window did not end: it is left behind.");
    static_cast<void>(m_pThread.release());
    static_cast<void>(m_pDialog.release());
  } else {
    m_pThread.reset();
    m_pDialog.reset();
  }
  if (m_hReady != 0) m_platform.sync.CloseHandle(m_hReady);
  m_hReady = 0;
}
