#include "ui/AboutBoxDlg.h"

#include "app/KavidApp.h"
#include "resources/resource.h"
#include "strings/StringTable.h"
#include "system/Helper.h"

using namespace kvd::ui;

CAboutBoxDlg::CAboutBoxDlg(CKavidApp& app)
    : CDialog(*app.Ui(), IDD_ABOUTBOX), m_app(app), m_hIcon(m_ui.LoadIcon(IDR_MAINFRAME)) {}

bool CAboutBoxDlg::OnInitDialog() {
  IDialogView& view = *View();
  view.SetIcon(m_hIcon, true);
  view.SetIcon(m_hIcon, true);
  view.SetItemFont(IdOk, m_app.m_hButtonFont);
  view.SetItemText(IdOk, GlobalLag.GetString(L"OK"));
  view.SetWindowText(GlobalLag.GetString(L"ABOUT_TITLE"));
  std::wstring version;
  CUtil(m_app.Ports()).GetAppVersion(version);
  const std::wstring text = GlobalLag.GetString(L"TITLE") + L"\r\n" +
                            GlobalLag.GetString(L"VERSION") + L" " + version + L"\r\n" +
                            GlobalLag.GetString(L"COPYRIGHT");
  view.SetItemFont(IDC_ABOUT_TEXT, m_app.m_hTitleFont);
  view.SetItemText(IDC_ABOUT_TEXT, text);
  return true;
}
