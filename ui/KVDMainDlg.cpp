#include "ui/KVDMainDlg.h"

#include "app/KavidApp.h"
#include "logging/Trace.h"
#include "resources/resource.h"
#include "strings/StringTable.h"
#include "system/Helper.h"

KVD_TRACE_SOURCE();

using namespace kvd::ui;
namespace kind = DUDiduzuz::kind;

namespace {
constexpr int kColumnWidth = 180;
}  // namespace

CKVDMainDlg::CKVDMainDlg(CKavidApp& app) : CDialog(*app.Ui(), IDD_MAIN), m_app(app) {}

bool CKVDMainDlg::OnInitDialog() {
  KVD_SCOPE(L"CKVDMainDlg::OnInitDialog");
  auto& ports = m_app.Ports();
  if (m_app.m_pDiagMgr) m_app.m_pDiagMgr->SetHandle(GetSafeHwnd());
  // The enumeration thread waits for this page before it reports.
  SignalListenEvent(ports.sync);
  m_bWaiting = ports.messages.SetTimer(GetSafeHwnd(), IDT_WAIT_CURSOR, kWaitCursorMs);

  IDialogView& view = *View();
  if (!CUtil(ports).IsTechnicalInfoPresent(m_strTechInfoPath))
    view.EnableItem(IDC_BTN_TECHINFO, false);
  view.EnableItem(IDC_BTN_DIAGNOSE, false);
  SetTexts();
  if (m_bRefill) {
    // Before the enumeration reported, its array may still grow: this page then fills when
    // the report comes, as the first page does.
    if (m_app.m_bDeviceListArrived) FillListCtrl();
    m_bRefill = false;
  }
  return true;
}

void CKVDMainDlg::SetTexts() {
  IDialogView& view = *View();
  view.ListSetExtendedStyle(IDC_LIST_DEVICES, 0xFFFFFFFFu, LvsExFullRowSelect | LvsExSubItemImages);
  view.SetItemFont(IDC_LIST_DEVICES, m_app.m_hListFont);
  view.ListDeleteAllItems(IDC_LIST_DEVICES);
  const wchar_t* headings[] = {L"SCANNER", L"PORT", L"MODEL"};
  for (int column = 0; column < 3; ++column) {
    view.ListDeleteColumn(IDC_LIST_DEVICES, column);
    view.ListInsertColumn(IDC_LIST_DEVICES, column, GlobalLag.GetString(headings[column]),
                          kColumnWidth);
  }
  struct Button {
    int id;
    const wchar_t* key;
  };
  for (const Button& button :
       {Button{IDC_BTN_DIAGNOSE, L"DIAGNOSE"}, Button{IDC_BTN_TECHINFO, L"TECH_INFO"},
        Button{IDC_BTN_CANCEL, L"CANCEL"}}) {
    view.SetItemFont(button.id, m_app.m_hButtonFont);
    view.SetItemText(button.id, GlobalLag.GetString(button.key));
  }
  view.SetItemFont(IDC_TITLE, m_app.m_hTitleFont);
  view.SetItemText(IDC_TITLE, GlobalLag.GetString(L"TITLE"));
  view.SetItemFont(IDC_PROMPT, m_app.m_hTextFont);
  view.SetItemText(IDC_PROMPT, GlobalLag.GetString(L"DEVICE_SELECTION_MSG"));
  view.SetItemFont(IDC_LINK_INFO, m_app.m_hTextFont);
  view.SetItemText(IDC_LINK_INFO, GlobalLag.GetString(L"INFO_MSG"));
  view.Redraw();
}

int CKVDMainDlg::FillListCtrl() {
  KVD_SCOPE(L"CKVDMainDlg::FillListCtrl");
  KVD_LOG(kind::Debug, L"Fill scanners list");
  IDialogView& view = *View();
  // Rows and device records have the same order: a row left from an earlier fill would
  // point at the wrong record, or past the last one.
  view.ListDeleteAllItems(IDC_LIST_DEVICES);
  const auto* devices = m_app.m_pDiagMgr ? &m_app.m_pDiagMgr->Devices() : nullptr;
  if (devices != nullptr && !devices->empty()) {
    for (std::size_t i = 0; i < devices->size(); ++i) {
      const _DeviceDetails& device = (*devices)[i];
      const int row =
          view.ListInsertItem(IDC_LIST_DEVICES, static_cast<int>(i), device.strFriendlyName);
      if (row < 0) continue;
      view.ListSetItemText(IDC_LIST_DEVICES, row, 1, device.strPort);
      view.ListSetItemText(IDC_LIST_DEVICES, row, 2, device.strModel);
    }
    StopWaiting();
    view.SetFocus();
    return 1;
  }
  StopWaiting();
  view.SetFocus();
  if (!m_app.m_bNoScannerShown) {
    m_app.Ports().shell.MessageBox(GetSafeHwnd(), GlobalLag.GetString(L"NO_SCANNER").c_str(),
                                   GlobalLag.GetString(L"TITLE").c_str(), kvd::platform::mb::Ok);
  }
  view.EnableItem(IDC_BTN_DIAGNOSE, false);
  m_app.m_bNoScannerShown = true;
  return 0;
}

void CKVDMainDlg::StopWaiting() {
  m_app.Ports().messages.KillTimer(GetSafeHwnd(), IDT_WAIT_CURSOR);
  m_bWaiting = false;
}

void CKVDMainDlg::OnTimer(std::uintptr_t id) {
  if (id == IDT_WAIT_CURSOR) m_ui.ShowWaitCursor();
}

bool CKVDMainDlg::OnUserMessage(std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam,
                                std::intptr_t* result) {
  static_cast<void>(wParam);
  static_cast<void>(lParam);
  if (message != kDeviceListReady) return false;
  m_app.m_bDeviceListArrived = true;
  *result = FillListCtrl();
  return true;
}

bool CKVDMainDlg::OnCommand(int id, int code) {
  if (code != BnClicked) return false;
  switch (id) {
    case IDC_BTN_DIAGNOSE:
      OnClickedBtnDiagnose();
      return true;
    case IDC_BTN_CANCEL:
      OnClickedBtnCancel();
      return true;
    case IDC_BTN_TECHINFO:
      OnClickedBtnTechnicalInfo();
      return true;
    default:
      return false;
  }
}

bool CKVDMainDlg::OnNotify(int id, int code, std::uint32_t detail, std::intptr_t* result) {
  static_cast<void>(detail);
  *result = 0;
  if (id == IDC_LIST_DEVICES && (code == LvnItemChanged || code == NmClick))
    return OnSelectionChanged();
  if (id == IDC_LINK_INFO && (code == NmClick || code == NmReturn)) {
    OpenCustomerLink();
    return true;
  }
  return false;
}

bool CKVDMainDlg::OnSelectionChanged() {
  m_nSel = View()->ListGetSelectionMark(IDC_LIST_DEVICES);
  if (m_nSel == -1) return false;
  m_bDeviceChosen = true;
  View()->EnableItem(IDC_BTN_DIAGNOSE, true);
  m_app.m_nDeviceIndex = m_nSel;
  return true;
}

void CKVDMainDlg::OnClickedBtnDiagnose() {
  KVD_SCOPE(L"CKVDMainDlg::OnClickedBtnDiagnose");
  KVD_LOG(kind::Info, L"Clicked Diagnose.");
  const WindowHandle parent = View()->Parent();
  if (parent == 0) return;
  m_app.SetBusy(true);
  EndDialog(IdCancel);
  m_app.Ports().messages.SendMessage(parent, 1033, 0, 1);
}

void CKVDMainDlg::OnClickedBtnCancel() {
  KVD_SCOPE(L"CKVDMainDlg::OnClickedBtnCancel");
  KVD_LOG(kind::Info, L"Clicked cancel from Main dialog.");
  const WindowHandle parent = View()->Parent();
  if (parent != 0) m_app.Ports().messages.SendMessage(parent, wm::Close, 0, 0);
}

void CKVDMainDlg::OnClickedBtnTechnicalInfo() {
  KVD_SCOPE(L"CKVDMainDlg::OnClickedBtnTechnicalInfo");
  KVD_LOG(kind::Info, L"Clicked button to lauch TechnicalInfo.");
  CUtil(m_app.Ports()).LaunchTechnicalnfoExe(m_strTechInfoPath);
}

void CKVDMainDlg::OpenCustomerLink() {
  const std::wstring link = GlobalLag.GetString(L"QV_LINK_CUSTOMER");
  m_app.Ports().shell.ShellExecute(GetSafeHwnd(), L"open", link.c_str(), nullptr, nullptr,
                                   kvd::platform::sw::Show);
}
