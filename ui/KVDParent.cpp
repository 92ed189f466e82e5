#include "ui/KVDParent.h"

#include "app/KavidApp.h"
#include "logging/Trace.h"
#include "resources/resource.h"
#include "strings/StringTable.h"
#include "system/Helper.h"
#include "ui/AboutBoxDlg.h"
#include "ui/KVDMainDlg.h"
#include "ui/KvdDiagnoseDlg.h"
#include "ui/KvdHelpDlg.h"

KVD_TRACE_SOURCE();

using namespace kvd::ui;
namespace kind = DUDiduzuz::kind;

CKVDParent::CKVDParent(CKavidApp& app)
    : CDialog(*app.Ui(), IDD_PARENT),
      m_app(app),
      m_hIcon(m_ui.LoadIcon(IDR_MAINFRAME)),
      m_pMainDlg(std::make_unique<CKVDMainDlg>(app)),
      m_pDiagnoseDlg(std::make_unique<CKvdDiagnoseDlg>(app)),
      m_pHelpDlg(std::make_unique<CKvdHelpDlg>(app)) {}

CKVDParent::~CKVDParent() {
  DestroyPage(m_pHelpDlg);
  DestroyPage(m_pDiagnoseDlg);
  DestroyPage(m_pMainDlg);
}

template <class Page>
void CKVDParent::DestroyPage(std::unique_ptr<Page>& page) {
  if (!page) return;
  if (page->View() != nullptr) m_ui.DestroyWindow(*page);
  page.reset();
}

bool CKVDParent::OnInitDialog() {
  KVD_SCOPE(L"CKVDParent::OnInitDialog");
  IDialogView& view = *View();
  view.SetIcon(m_hIcon, true);
  view.SetIcon(m_hIcon, false);
  view.SetWindowText(GlobalLag.GetString(L"TITLE"));

  m_app.m_pSysMenu = m_ui.GetSystemMenu(GetSafeHwnd());
  const std::wstring about = GlobalLag.GetString(L"ABOUT_TITLE");
  if (!about.empty() && m_app.m_pSysMenu != 0) {
    m_ui.AppendMenu(m_app.m_pSysMenu, MfSeparator, 0, L"");
    m_ui.AppendMenu(m_app.m_pSysMenu, MfString, IDM_ABOUTBOX, about);
  }

  CUtil util(m_app.Ports());
  if (util.IsRestartPending()) util.RemoveRestartMarks();

  // The page's resource is visible, so ShowWindow reports it was already shown.
  const bool shown = m_ui.CreateModeless(*m_pMainDlg, 0) && m_pMainDlg->View()->Show(true);
  KVD_LOG_TEXT(kind::Info, shown ? L"KVDMainDlg displayed" : L"Failed to display KVDMainDlg");
  m_nCurrentPage = kDevicePage;
  if (m_pMainDlg->View() != nullptr) m_pMainDlg->View()->SetParent(GetSafeHwnd());
  return true;
}

void CKVDParent::OnCancel() {
  // Escape, the Close command and WM_CLOSE: the program ends here, but never under a running
  // check or repair, which would be left without its page.
  if (m_app.m_bBusy) return;
  EndDialog(IdCancel);
}

bool CKVDParent::OnCommand(int id, int code) {
  KVD_SCOPE(L"CKVDParent::OnCommand");
  static_cast<void>(code);
  if (id == IDM_CHOOSE_LANGUAGE || (id >= IDM_SIMULATION_FIRST && id <= IDM_SIMULATION_LAST)) {
    // The language selection and the simulation commands are not part of this version: the
    // menu carries their commands, and they are only logged.
    KVD_LOG(kind::Debug, L"The menu command %d is not available in this version.", id);
    return true;
  }
  return false;
}

bool CKVDParent::OnSysCommand(std::uint32_t command) {
  if ((command & 0xFFF0) != IDM_ABOUTBOX) return false;
  CAboutBoxDlg about(m_app);
  m_ui.DoModal(about, GetSafeHwnd());
  return true;
}

std::intptr_t CKVDParent::OnDeviceChange(std::uintptr_t wParam, std::intptr_t lParam) {
  KVD_SCOPE(L"CKVDParent::OnDeviceChange");
  KVD_LOG(kind::Info, L"WM_DEVICECHANGE MSG with WPARAM = %d and LPARAM = %d",
          static_cast<int>(wParam), static_cast<int>(lParam));
  return 1;
}

int CKVDParent::OnNcHitTest(int hit) {
  // A click on the window icon must not open the system menu; the caption's does.
  return hit == HtSysMenu ? HtCaption : hit;
}

void CKVDParent::OnNcLButtonDown() {
  if (m_nCurrentPage != kDevicePage) return;
  if (m_ui.GetKeyState(VkLShift) < 0 && m_ui.GetKeyState(VkLControl) < 0) OpenSimulationMenu();
}

void CKVDParent::OpenSimulationMenu() {
  const Rect window = m_ui.GetWindowRect(GetSafeHwnd());
  const int x = window.left + m_ui.GetSystemMetrics(SmCxDlgFrame);
  const int y =
      window.top + m_ui.GetSystemMetrics(SmCyCaption) + m_ui.GetSystemMetrics(SmCyDlgFrame) + 3;
  m_ui.TrackResourceMenu(IDR_SIMULATION_MENU, x, y, GetSafeHwnd());
}

bool CKVDParent::OnUserMessage(std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam,
                               std::intptr_t* result) {
  if (message != kPageRequest) return false;
  *result = OnPageRequest(wParam, lParam);
  return true;
}

bool CKVDParent::ShowPage(CDialog& page) {
  if (!m_ui.CreateModeless(page, 0)) return false;
  page.View()->Show(true);
  page.View()->SetParent(GetSafeHwnd());
  return true;
}

std::intptr_t CKVDParent::OnPageRequest(std::uintptr_t wParam, std::intptr_t lParam) {
  KVD_SCOPE(L"CKVDParent::OnPageRequest");
  if (wParam == 3) {
    // Back from the help page: the diagnosis page as it was, results and all.
    if (!m_pDiagnoseDlg || m_pDiagnoseDlg->View() == nullptr) return 0;
    m_pDiagnoseDlg->View()->Show(true);
    m_pDiagnoseDlg->View()->SetItemFocus(IDC_BTN_RETEST);
    m_nCurrentPage = kDiagnosisPage;
    return 1;
  }
  if (!m_pMainDlg || !m_pDiagnoseDlg || !m_pHelpDlg) return 0;
  if (lParam == 0) {
    DestroyPage(m_pMainDlg);
    m_pMainDlg = std::make_unique<CKVDMainDlg>(m_app);
    m_pMainDlg->m_bRefill = true;
    ShowPage(*m_pMainDlg);
    m_nCurrentPage = kDevicePage;
  } else if (lParam == 1) {
    DestroyPage(m_pDiagnoseDlg);
    m_pDiagnoseDlg = std::make_unique<CKvdDiagnoseDlg>(m_app);
    m_pDiagnoseDlg->m_bSimulation = wParam == 100;
    ShowPage(*m_pDiagnoseDlg);
    // A check that stops answering is reported to this page.
    g_hWatchTarget = m_pDiagnoseDlg->GetSafeHwnd();
    m_nCurrentPage = kDiagnosisPage;
  } else {
    DestroyPage(m_pHelpDlg);
    m_pHelpDlg = std::make_unique<CKvdHelpDlg>(m_app);
    ShowPage(*m_pHelpDlg);
    m_nCurrentPage = kHelpPage;
  }
  return 1;
}
