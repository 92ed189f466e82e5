#include "ui/InstructionDlg.h"

#include "app/KavidApp.h"
#include "resources/resource.h"
#include "strings/StringTable.h"
#include "system/Helper.h"

using namespace kvd::ui;

CInstructionDlg::CInstructionDlg(CKavidApp& app)
    : CDialog(*app.Ui(), IDD_INSTRUCTION), m_app(app) {}

CInstructionDlg::~CInstructionDlg() {
  if (m_hBackground != 0) m_ui.DeletePicture(m_hBackground);
}

bool CInstructionDlg::OnInitDialog() {
  m_hBackground = m_ui.LoadPicture(IDP_INSTRUCTION);
  IDialogView& view = *View();
  view.SetItemFont(IDC_INSTRUCTION_TEXT, m_app.m_hTextFont);
  view.SetItemFont(IDC_TITLE, m_app.m_hTitleFont);
  view.SetItemFont(IdCancel, m_app.m_hButtonFont);
  view.SetWindowText(GlobalLag.GetString(L"TITLE"));
  // One empty line between the introduction and the first step.
  std::wstring text = GlobalLag.GetString(L"INSTRUCTION") + L"\r\n";
  const bool vista = CUtil(m_app.Ports()).IsVistaOrLater();
  const wchar_t* const vistaSteps[] = {L"INSTRUCTION1", L"INSTRUCTION2", L"INSTRUCTION3",
                                       L"INSTRUCTION4"};
  const wchar_t* const xpSteps[] = {L"INSTRUCTION1", L"INSTRUCTION5"};
  if (vista) {
    for (const wchar_t* key : vistaSteps) text += L"\r\n" + GlobalLag.GetString(key);
  } else {
    for (const wchar_t* key : xpSteps) text += L"\r\n" + GlobalLag.GetString(key);
  }
  view.SetItemText(IDC_INSTRUCTION_TEXT, text);
  view.SetItemText(IDC_TITLE, GlobalLag.GetString(L"TITLE"));
  view.SetItemText(IdCancel, GlobalLag.GetString(L"CLOSE"));
  return true;
}
