// The two pages that are placeholders in this version (see their headers).
#include "app/KavidApp.h"
#include "resources/resource.h"
#include "strings/StringTable.h"
#include "ui/KvdDiagnoseDlg.h"
#include "ui/KvdHelpDlg.h"

using namespace kvd::ui;

namespace {
constexpr int kBack = 1003;
constexpr int kClose = 1006;
constexpr int kStatusLine = 1012;
}  // namespace

CKvdDiagnoseDlg::CKvdDiagnoseDlg(CKavidApp& app) : CDialog(*app.Ui(), IDD_DIAGNOSE), m_app(app) {}

bool CKvdDiagnoseDlg::OnInitDialog() {
  IDialogView& view = *View();
  view.SetItemFont(IDC_TITLE, m_app.m_hTitleFont);
  view.SetItemText(IDC_TITLE, GlobalLag.GetString(L"TITLE"));
  const auto& devices =
      m_app.m_pDiagMgr ? m_app.m_pDiagMgr->Devices() : std::vector<_DeviceDetails>();
  const int index = m_app.m_nDeviceIndex;
  view.SetItemFont(kStatusLine, m_app.m_hTextFont);
  view.SetItemText(kStatusLine, index >= 0 && static_cast<std::size_t>(index) < devices.size()
                                    ? devices[static_cast<std::size_t>(index)].strFriendlyName
                                    : GlobalLag.GetString(L"QV_SCANNER"));
  for (const auto& [id, key] : {std::pair{kBack, L"BACK"}, std::pair{kClose, L"CLOSE"}}) {
    view.SetItemFont(id, m_app.m_hButtonFont);
    view.SetItemText(id, GlobalLag.GetString(key));
  }
  // No run starts on this page: nothing is busy.
  m_app.m_bBusy = false;
  m_ui.EnableMenuItem(m_app.m_pSysMenu, ScClose, MfEnabled);
  return true;
}

bool CKvdDiagnoseDlg::OnCommand(int id, int code) {
  if (code != BnClicked) return false;
  const WindowHandle parent = View()->Parent();
  if (id == kBack && parent != 0) {
    EndDialog(IdCancel);
    m_app.Ports().messages.SendMessage(parent, 1033, 0, 0);
    return true;
  }
  if (id == kClose && parent != 0) {
    m_app.Ports().messages.SendMessage(parent, wm::Close, 0, 0);
    return true;
  }
  return false;
}

CKvdHelpDlg::CKvdHelpDlg(CKavidApp& app) : CDialog(*app.Ui(), IDD_HELP), m_app(app) {}

bool CKvdHelpDlg::OnInitDialog() {
  IDialogView& view = *View();
  view.SetItemFont(IDC_TITLE, m_app.m_hTitleFont);
  view.SetItemText(IDC_TITLE, GlobalLag.GetString(L"TITLE"));
  view.SetItemFont(kBack, m_app.m_hButtonFont);
  view.SetItemText(kBack, GlobalLag.GetString(L"BACK"));
  return true;
}

bool CKvdHelpDlg::OnCommand(int id, int code) {
  if (code != BnClicked || id != kBack) return false;
  const WindowHandle parent = View()->Parent();
  if (parent == 0) return false;
  EndDialog(IdCancel);
  m_app.Ports().messages.SendMessage(parent, 1033, 3, 1);
  return true;
}
