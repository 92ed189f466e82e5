// The help page: a placeholder in this version (see its header).
#include "ui/KvdHelpDlg.h"
#include "app/KavidApp.h"
#include "resources/resource.h"
#include "strings/StringTable.h"

using namespace kvd::ui;

namespace {
constexpr int kBack = 1003;
}  // namespace

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
