#include "ui/PrgrsDlg.h"

#include "app/KavidApp.h"
#include "resources/resource.h"
#include "strings/StringTable.h"

using namespace kvd::ui;

CPrgrsDlg::CPrgrsDlg(CKavidApp& app) : CDialog(*app.Ui(), IDD_PROGRESS) {}

bool CPrgrsDlg::OnInitDialog() {
  IDialogView& view = *View();
  view.ProgressSetPos(IDC_PROGRESS, 0);
  view.ProgressSetRange(IDC_PROGRESS, 0, 100);
  view.SetWindowText(GlobalLag.GetString(L"SCANNING_TITLE"));
  return true;
}

bool CPrgrsDlg::OnClose() { return !m_bClosing; }

void CPrgrsDlg::OnCancel() {
  if (m_bClosing) CDialog::OnCancel();
}

CProgressDialog::~CProgressDialog() { Close(); }

kvd::platform::WindowHandle CProgressDialog::Show() {
  Close();
  m_pDialog = std::make_unique<CPrgrsDlg>(m_app);
  if (!m_app.Ui()->CreateModeless(*m_pDialog, 0)) {
    m_pDialog.reset();
    return 0;
  }
  m_pDialog->View()->Show(true);
  return m_pDialog->GetSafeHwnd();
}

void CProgressDialog::SetPosition(int percent) {
  if (m_pDialog && m_pDialog->View() != nullptr)
    m_pDialog->View()->ProgressSetPos(IDC_PROGRESS, percent);
}

void CProgressDialog::Close() {
  if (!m_pDialog) return;
  m_pDialog->m_bClosing = true;
  if (m_pDialog->View() != nullptr) m_app.Ui()->DestroyWindow(*m_pDialog);
  m_pDialog.reset();
}
