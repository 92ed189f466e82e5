#include "ui/KvdDiagnoseDlg.h"

#include <algorithm>

#include "app/KavidApp.h"
#include "logging/Format.h"
#include "logging/Trace.h"
#include "platform/api/Text.h"
#include "repair/L2Uninstall.h"
#include "resources/resource.h"
#include "strings/StringTable.h"
#include "system/Helper.h"
#include "system/Registry.h"

KVD_TRACE_SOURCE();

using namespace kvd::ui;
namespace kind = DUDiduzuz::kind;

namespace {

// The page's controls.
constexpr int kFix = 1002;
constexpr int kBack = 1003;
constexpr int kHelp = 1005;
constexpr int kClose = 1006;
constexpr int kTechInfo = 1007;
constexpr int kFixProgress = 1008;
constexpr int kUninstall = 1009;
constexpr int kRestart = 1011;
constexpr int kStatusLine = 1012;
constexpr int kSoftwareUpdate = 1013;
constexpr int kPatch = 1014;
constexpr int kUpdateDriver = 1015;
constexpr int kFeedbackLink = 1018;
constexpr int kIssueList = 1024;
constexpr int kResultFrame = 1025;
constexpr int kRetest = 1028;
constexpr int kSkip = 1030;
constexpr int kFeedbackTitle = 1040;
constexpr int kResultText = 1041;

// The timers.
constexpr std::uintptr_t kFixTimer = 1001;
constexpr std::uintptr_t kBlinkTimer = 1002;
constexpr std::uintptr_t kCreepTimer = 1003;
constexpr std::uintptr_t kNextCheckTimer = 1004;

// The pictures of the image list, in the order they are added.
constexpr int kPicturePassed = 0;
constexpr int kPictureFailed = 1;
constexpr int kPictureWarning = 2;
constexpr int kPictureRunning = 3;
constexpr int kPictureBlank = 4;

constexpr int kLastCheck = 12;
constexpr std::uint16_t kEnglishUs = 1033;

// The action buttons in the order they stand from right to left under the result frame.
struct ActionButton {
  int id;
  int bit;
};
constexpr ActionButton kActions[] = {
    {kSkip, button::Skip},
    {kFix, button::Fix},
    {kRestart, button::Restart},
    {kUninstall, button::Uninstall},
    {kUpdateDriver, button::UpdateDriver},
    {kHelp, button::Help},
    {kSoftwareUpdate, button::Update},
    {kPatch, button::Patch},
};

// The buttons a finished run offers: navigation, Help, Restart, software update.
constexpr int kCompleteButtons = 92;
// What the page offers when the device stopped answering: navigation and Restart.
constexpr int kNotRespondingButtons = 72;

const std::wstring kTabs(25, L'\t');

}  // namespace

CKvdDiagnoseDlg::CKvdDiagnoseDlg(CKavidApp& app) : CDialog(*app.Ui(), IDD_DIAGNOSE), m_app(app) {}

CKvdDiagnoseDlg::~CKvdDiagnoseDlg() {
  if (m_hImageList != 0) m_ui.DestroyImageList(m_hImageList);
}

const _DeviceDetails* CKvdDiagnoseDlg::Device() const {
  const int index = m_app.m_nDeviceIndex;
  if (!m_app.m_pDiagMgr || index < 0) return nullptr;
  const auto& devices = m_app.m_pDiagMgr->Devices();
  return static_cast<std::size_t>(index) < devices.size()
             ? &devices[static_cast<std::size_t>(index)]
             : nullptr;
}

std::wstring CKvdDiagnoseDlg::DeviceName() const {
  const _DeviceDetails* device = Device();
  return device != nullptr ? device->strFriendlyName : std::wstring();
}

Family CKvdDiagnoseDlg::PageFamily() const {
  if (m_app.m_bSimTarvel) return Family::Tarvel;
  if (m_app.m_bSimOstrel) return Family::Ostrel;
  if (m_app.m_bSimLumeq) return Family::Lumeq;
  const _DeviceDetails* device = Device();
  return device != nullptr ? FamilyOf(*device) : Family::AllInOne;
}

int CKvdDiagnoseDlg::IssueRow(int index) const {
  if (!m_app.m_pDiagMgr) return -1;
  return ::IssueRow(m_app.m_pDiagMgr->Checks(), PageFamily(), index, m_bShowFrontPanel);
}

int CKvdDiagnoseDlg::CurrentCheck() const {
  return std::min(m_app.m_pDiagMgr->m_nCurrentIssue.load(), kLastCheck);
}

void CKvdDiagnoseDlg::StartTimer(std::uintptr_t id, std::uint32_t milliseconds) {
  m_app.Ports().messages.SetTimer(GetSafeHwnd(), id, milliseconds);
}

void CKvdDiagnoseDlg::StopTimer(std::uintptr_t id) {
  m_app.Ports().messages.KillTimer(GetSafeHwnd(), id);
}

void CKvdDiagnoseDlg::SetStatus(const wchar_t* key) {
  View()->SetItemText(kStatusLine, GlobalLag.GetString(key) + L" " + DeviceName());
  View()->InvalidateItem(kStatusLine);
}

void CKvdDiagnoseDlg::ShowText(const std::wstring& text) {
  View()->RichClear(kResultText);
  View()->RichAppend(kResultText, text, false);
  View()->InvalidateItem(kResultText);
}

void CKvdDiagnoseDlg::SetRowPicture(int row, int picture) {
  if (row >= 0) View()->ListSetItemImage(kIssueList, row, picture);
}

bool CKvdDiagnoseDlg::OnInitDialog() {
  KVD_SCOPE(L"CKvdDiagnoseDlg::OnInitDialog");
  if (!m_app.m_pDiagMgr) return true;
  CDiagnosticMgr& manager = *m_app.m_pDiagMgr;
  manager.SetHandle(GetSafeHwnd());
  if (!CUtil(m_app.Ports()).IsTechnicalInfoPresent(m_strTechInfoPath))
    View()->EnableItem(kTechInfo, false);
  FillImageList();
  InitControls();
  if (m_bSimulation) {
    FillByFamily();
    m_bSimulation = false;
    return true;
  }
  const _DeviceDetails* device = Device();
  if (device != nullptr && !CUtil(m_app.Ports()).HasScanButton(device->strDriverKey))
    m_bShowFrontPanel = false;
  FillByFamily();
  manager.m_bComplete = false;
  manager.m_nCurrentIssue = 0;
  manager.m_bDashraPresent = false;
  KVD_LOG(kind::Info, L"Diagnosing the device: %s", DeviceName());
  StartTimer(kNextCheckTimer, 100);
  return true;
}

void CKvdDiagnoseDlg::FillImageList() {
  KVD_SCOPE(L"CKvdDiagnoseDlg::FillImageList");
  m_hImageList = m_ui.CreateImageList(30, 30);
  for (int png : {IDP_PASSED, IDP_FAILED, IDP_WARNING}) {
    const std::uintptr_t picture = m_ui.LoadPicture(png);
    if (picture == 0) {
      KVD_LOG(kind::Debug, L"Failed to get the Bitmap from PNG.");
      continue;
    }
    m_ui.ImageListAddPicture(m_hImageList, picture);
    m_ui.DeletePicture(picture);
  }
  m_ui.ImageListAddBitmap(m_hImageList, IDB_RUNNING);
  m_ui.ImageListAddBitmap(m_hImageList, IDB_RUNNING_BLANK);
}

void CKvdDiagnoseDlg::InitControls() {
  IDialogView& view = *View();
  view.RichPrepare(kResultText);
  view.SetItemFont(kIssueList, m_app.m_hIssueListFont);
  view.ListSetExtendedStyle(kIssueList, 0xFFFFFFFFu, LvsExSubItemImages);
  view.ListSetImageList(kIssueList, m_hImageList);
  view.ListInsertColumn(kIssueList, 0, L"", 35);
  view.ListInsertColumn(kIssueList, 1, L"", 245);
  struct Caption {
    int id;
    const wchar_t* key;
  };
  for (const Caption& c :
       {Caption{kTechInfo, L"TECH_INFO"}, Caption{kBack, L"BACK"}, Caption{kRetest, L"RETEST"},
        Caption{kClose, L"CLOSE"}, Caption{kSkip, L"SKIP"}, Caption{kFix, L"FIX"},
        Caption{kRestart, L"RESTART"}, Caption{kUninstall, L"UNINSTALL"},
        Caption{kUpdateDriver, L"UPDATE_DRIVER"}, Caption{kHelp, L"HELP"},
        Caption{kSoftwareUpdate, L"QV_UPDATE"}, Caption{kPatch, L"DOWNLOAD_PATCH"}}) {
    view.SetItemFont(c.id, m_app.m_hButtonFont);
    view.SetItemText(c.id, GlobalLag.GetString(c.key));
  }
  view.SetItemFont(IDC_TITLE, m_app.m_hTitleFont);
  view.SetItemText(IDC_TITLE, GlobalLag.GetString(L"TITLE"));
  view.SetItemFont(kStatusLine, m_app.m_hTextFont);
  view.SetItemFont(kResultText, m_app.m_hTextFont);
  view.SetItemFont(kFeedbackTitle, m_app.m_hTitleFont);
  view.SetItemFont(kFeedbackLink, m_app.m_hTextFont);
  if (!m_bSimulation && Device() != nullptr)
    view.SetItemText(kStatusLine, GlobalLag.GetString(L"RUNNING_TEST") + L" " + DeviceName());
  if (m_app.m_LangID == kEnglishUs) {
    view.SetItemText(kFeedbackTitle, GlobalLag.GetString(L"FEEDBACK_TITLE"));
    view.SetItemText(kFeedbackLink, GlobalLag.GetString(L"FEEDBACK_MSG"));
  }
  view.ProgressSetPos(kFixProgress, 0);
  view.ProgressSetRange(kFixProgress, 1, 100);
  view.ProgressSetStep(kFixProgress, 1);
  for (int id : {kFix, kRestart, kHelp}) {
    view.ShowItem(id, false);
    view.EnableItem(id, false);
  }
  for (int id : {kRetest, kBack, kClose}) view.EnableItem(id, false);
  view.ShowItem(kFeedbackTitle, false);
  view.ShowItem(kFeedbackLink, false);
}

void CKvdDiagnoseDlg::FillByFamily() {
  switch (PageFamily()) {
    case Family::Tarvel:
      FillIssueListForTarvel();
      break;
    case Family::Ostrel:
      FillIssueListForOstrelDevice();
      break;
    case Family::Lumeq:
      FillIssueListForLumeq();
      break;
    case Family::AllInOne:
      FillIssueList();
      break;
  }
}

void CKvdDiagnoseDlg::FillFor(Family family) {
  IDialogView& view = *View();
  view.ListDeleteAllItems(kIssueList);
  const CheckTable& table = m_app.m_pDiagMgr->Checks();
  for (int index = 0; index <= kLastCheck; ++index) {
    const int row = ::IssueRow(table, family, index, m_bShowFrontPanel);
    if (row < 0) continue;
    const int inserted = view.ListInsertItem(kIssueList, row, L"");
    if (inserted < 0) continue;
    view.ListSetItemImage(kIssueList, inserted, kNoImage);
    CKVDIssue* check = m_app.m_pDiagMgr->Issue(index);
    view.ListSetItemText(kIssueList, inserted, 1, check != nullptr ? check->m_strName : L"");
  }
}

void CKvdDiagnoseDlg::FillIssueList() {
  KVD_SCOPE(L"CKvdDiagnoseDlg::FillIssueList");
  FillFor(Family::AllInOne);
}

void CKvdDiagnoseDlg::FillIssueListForTarvel() {
  KVD_SCOPE(L"CKvdDiagnoseDlg::FillIssueListForTarvel");
  FillFor(Family::Tarvel);
}

void CKvdDiagnoseDlg::FillIssueListForOstrelDevice() {
  KVD_SCOPE(L"CKvdDiagnoseDlg::FillIssueListForOstrelDevice");
  FillFor(Family::Ostrel);
}

void CKvdDiagnoseDlg::FillIssueListForLumeq() {
  KVD_SCOPE(L"CKvdDiagnoseDlg::FillIssueListForLumeq");
  FillFor(Family::Lumeq);
}

void CKvdDiagnoseDlg::ShowMessageWithLink(int index) {
  m_bNduLink = index == 0;
  CKVDIssue* check = m_app.m_pDiagMgr->Issue(index);
  const std::wstring text = check != nullptr ? check->m_strMessage : std::wstring();
  IDialogView& view = *View();
  const std::size_t open = text.find(L"<a>");
  if (open == std::wstring::npos) {
    view.RichAppend(kResultText, text, false);
    return;
  }
  const std::size_t close = text.find(L"</a>", open);
  // A link without its end shows nothing.
  if (close == std::wstring::npos) return;
  const std::wstring link = text.substr(open + 3, close - open - 3);
  const std::wstring before = text.substr(0, open);
  const std::wstring after = kvd::platform::Trim(text.substr(close + 4));
  view.RichAppend(kResultText, before, false);
  for (wchar_t c : link) view.RichAppend(kResultText, std::wstring(1, c), true);
  view.RichAppend(kResultText, after.empty() ? L"." + kTabs : after, false);
  view.RichAppend(kResultText, kTabs, false);
}

void CKvdDiagnoseDlg::UpdateButtons(int index) {
  IDialogView& view = *View();
  view.SetFocus();
  const int check = m_bUseIssueIndex ? std::clamp(index, 0, kLastCheck) : CurrentCheck();
  m_bUseIssueIndex = false;
  CKVDIssue* issue = m_app.m_pDiagMgr->Issue(check);
  const int mask = issue != nullptr ? issue->m_nButtons : 0;
  const bool navigation = (mask & button::Navigation) != 0;
  for (int id : {kBack, kRetest, kClose}) view.EnableItem(id, navigation);
  m_app.SetBusy(!navigation);
  const Rect frame = view.ItemRect(kResultFrame);
  int x = frame.right;
  const int y = frame.bottom + 5;
  for (const ActionButton& action : kActions) {
    if ((mask & action.bit) == 0) {
      view.ShowItem(action.id, false);
      view.EnableItem(action.id, false);
      continue;
    }
    const Rect rect = view.ItemRect(action.id);
    const int width = rect.right - rect.left;
    view.EnableItem(action.id, true);
    view.ShowItem(action.id, true);
    view.MoveItem(action.id, x - width, y);
    x = x - width - 2;
  }
  if (m_app.m_LangID != kEnglishUs) {
    view.ShowItem(kFeedbackLink, false);
    view.ShowItem(kFeedbackTitle, false);
  }
}

std::intptr_t CKvdDiagnoseDlg::UpdateUI(std::uintptr_t result, int index) {
  KVD_SCOPE(L"CKvdDiagnoseDlg::UpdateUI");
  CKVDIssue* check = m_app.m_pDiagMgr->Issue(std::clamp(index, 0, kLastCheck));
  const int row = IssueRow(index);
  IDialogView& view = *View();
  view.RichClear(kResultText);
  view.InvalidateItem(kResultText);
  const int status = check != nullptr ? check->m_nStatus : issue::kStatusNotRun;
  if (status == issue::kStatusPassed) {
    view.RichAppend(kResultText, check->m_strMessage, false);
    SetStatus(L"RUNNING_TEST");
    StopTimer(kBlinkTimer);
    SetRowPicture(row, kPicturePassed);
    UpdateButtons(0);
  } else if (status == issue::kStatusFailed || status == issue::kStatusWarning) {
    if (result == msg::kFixFailed) {
      view.RichAppend(kResultText, GlobalLag.GetString(L"FIX_FAIL"), false);
    } else {
      ShowMessageWithLink(index);
      m_arrProblemRows.push_back(row);
      m_mapProblemText[row] = kvd::fmt::Format(
          L"%d Error Code: %d", status == issue::kStatusFailed ? row : index, check->m_nErrorCode);
    }
    SetStatus(L"PROBLEM_FOUND");
    StopTimer(kBlinkTimer);
    SetRowPicture(row, status == issue::kStatusFailed ? kPictureFailed : kPictureWarning);
    UpdateButtons(0);
    view.SetItemFocus(kClose);
  }
  view.InvalidateItem(kResultText);
  view.InvalidateItem(kStatusLine);
  return 1;
}

void CKvdDiagnoseDlg::RunComplete() {
  KVD_SCOPE(L"CKvdDiagnoseDlg::RunComplete");
  IDialogView& view = *View();
  ShowText(GlobalLag.GetString(L"ADD_HELP"));
  view.ShowItem(kFeedbackLink, true);
  view.ShowItem(kFeedbackTitle, true);
  if (m_app.m_pDiagMgr->AllIssuesPassed()) {
    SetStatus(L"NO_PROBLEM_FOUND");
    if (m_app.m_LangID == kEnglishUs) {
      view.SetItemText(kFeedbackTitle, GlobalLag.GetString(L"FEEDBACK_TITLE"));
      view.SetItemText(kFeedbackLink, GlobalLag.GetString(L"FEEDBACK_MSG"));
    }
    m_bAllPassed = true;
  } else {
    SetStatus(L"PROBLEM_FOUND");
    m_bAllPassed = false;
  }
  if (CKVDIssue* check = m_app.m_pDiagMgr->Issue(CurrentCheck()))
    check->m_nButtons = kCompleteButtons;
  UpdateButtons(0);
  if (m_bAllPassed) {
    view.ShowItem(kFixProgress, false);
    // The test scan page is not part of this version: the offer is only logged.
    const _DeviceDetails* device = Device();
    KVD_LOG(kind::Info, L"The test scan would start for the device key %s.",
            device != nullptr ? kvd::platform::Trim(device->strDriverKey) : std::wstring());
  }
  view.SetItemFocus(kClose);
}

void CKvdDiagnoseDlg::OnRunningMark(int index) {
  m_nRunningRow = IssueRow(index);
  m_bBlinkOn = true;
  StartTimer(kBlinkTimer, 300);
}

void CKvdDiagnoseDlg::OnContinue(std::uintptr_t wParam) {
  CDiagnosticMgr& manager = *m_app.m_pDiagMgr;
  IDialogView& view = *View();
  if (wParam != msg::kNotResponding) {
    if (manager.m_bNotResponding) {
      view.EnableItem(kClose, true);
    } else {
      StartTimer(kNextCheckTimer, 100);
    }
    return;
  }
  view.EnableItem(kClose, true);
  const int current = CurrentCheck();
  if (current == kDriverCheck && manager.m_hProgressWnd != 0) manager.SetProgress(100);
  if (current == kWindowsScanCheck && m_hWiaProgressWnd != 0)
    m_app.Ports().messages.SendMessage(m_hWiaProgressWnd, kWiaProgressClose, 0, 0);
  SetStatus(L"PROBLEM_FOUND");
  StopTimer(kBlinkTimer);
  if (CKVDIssue* check = manager.Issue(current)) check->m_nButtons = kNotRespondingButtons;
  UpdateButtons(0);
  SetRowPicture(IssueRow(current), kPictureFailed);
  ShowText(GlobalLag.GetString(L"SCANER_NOT_RESPONDING_ERR"));
  manager.m_bNotResponding = true;
}

void CKvdDiagnoseDlg::OnDriverProgress(std::uintptr_t percent) {
  CDiagnosticMgr& manager = *m_app.m_pDiagMgr;
  // The manager sets the bar and closes the window at 100.
  if (manager.m_hProgressWnd != 0) manager.SetProgress(static_cast<int>(percent));
  if (percent == 65) StartTimer(kCreepTimer, 500);
}

bool CKvdDiagnoseDlg::OnUserMessage(std::uint32_t message, std::uintptr_t wParam,
                                    std::intptr_t lParam, std::intptr_t* result) {
  if (!m_app.m_pDiagMgr) return false;
  const int index = static_cast<int>(lParam);
  switch (message) {
    case msg::Result:
      *result = UpdateUI(wParam, index);
      return true;
    case msg::Complete:
      RunComplete();
      *result = 1;
      return true;
    case msg::CheckStarts:
      OnRunningMark(index);
      *result = 1;
      return true;
    case msg::Continue:
      OnContinue(wParam);
      *result = 0;
      return true;
    case msg::Progress:
      OnDriverProgress(wParam);
      *result = 0;
      return true;
    case kWiaProgressWindow:
      m_hWiaProgressWnd = static_cast<WindowHandle>(wParam);
      *result = 0;
      return true;
    case kFixDone:
      OnFixDone(wParam != 0, index);
      *result = 0;
      return true;
    default:
      return false;
  }
}

void CKvdDiagnoseDlg::OnTimer(std::uintptr_t id) {
  IDialogView& view = *View();
  switch (id) {
    case kFixTimer: {
      const int position = view.ProgressGetPos(kFixProgress);
      view.ProgressSetPos(kFixProgress, (position >= 100 ? 0 : position) + 1);
      break;
    }
    case kBlinkTimer:
      SetRowPicture(m_nRunningRow, m_bBlinkOn ? kPictureRunning : kPictureBlank);
      m_bBlinkOn = !m_bBlinkOn;
      break;
    case kCreepTimer:
      if (m_nCreep < 100) {
        ++m_nCreep;
        m_app.m_pDiagMgr->SetProgress(m_nCreep);
      } else {
        m_nCreep = 65;
        StopTimer(kCreepTimer);
      }
      break;
    case kNextCheckTimer:
      StopTimer(kNextCheckTimer);
      if (m_app.m_nDeviceIndex != -1) m_app.m_pDiagMgr->Diagnose(m_app.m_nDeviceIndex);
      break;
    default:
      break;
  }
}

bool CKvdDiagnoseDlg::OnNotify(int id, int code, std::uint32_t detail, std::intptr_t* result) {
  *result = 0;
  if (id == kIssueList && code == LvnItemChanging) {
    // The rows show results; they cannot be chosen. Only their pictures change.
    *result = detail == LvifImage ? 0 : 1;
    return true;
  }
  if (id == kResultText && code == EnMsgFilter) {
    View()->RichHideSelection(kResultText);
    return true;
  }
  if (id == kResultText && code == EnLink) {
    if (detail == WmLButtonDown) {
      const std::wstring link = GlobalLag.GetString(m_bNduLink ? L"NDU_LINK" : L"QV_LINK");
      m_app.Ports().shell.ShellExecute(GetSafeHwnd(), L"open", link.c_str(), nullptr, nullptr,
                                       kvd::platform::sw::Show);
    }
    return true;
  }
  if (id == kFeedbackLink && (code == NmClick || code == NmReturn)) {
    // The survey address is not part of this version: the click is only logged.
    KVD_SCOPE(L"CKvdDiagnoseDlg::GoToFeedBackLink");
    KVD_LOG(kind::Info, L"The feedback survey is not available in this version.");
    return true;
  }
  return false;
}

bool CKvdDiagnoseDlg::OnCommand(int id, int code) {
  if (code != BnClicked) return false;
  switch (id) {
    case kClose:
      OnClickedBtnCancel();
      return true;
    case kBack:
      OnBnClickedBtnBack();
      return true;
    case kRetest:
      OnBnClickedBtnRetest();
      return true;
    case kTechInfo:
      OnClickedBtnTechnicalInfo();
      return true;
    case kHelp:
      OnBnClickedBtnHelp();
      return true;
    case kRestart:
      OnClickedBtnRestart();
      return true;
    case kSkip:
      OnBnClickedBtnSkip();
      return true;
    case kUninstall:
      OnBnClickedBtnUninstall();
      return true;
    case kSoftwareUpdate:
      OnBnClickedBtnQvupdate();
      return true;
    case kFix:
    case kUpdateDriver:
      OnBnClickedBtnFix();
      return true;
    case kPatch:
      OnBnClickedBtnPatch();
      return true;
    default:
      return false;
  }
}

void CKvdDiagnoseDlg::OnClickedBtnCancel() {
  KVD_SCOPE(L"CKvdDiagnoseDlg::OnClickedBtnCancel");
  KVD_LOG(kind::Info, L"Clicked Close from Diagnose dialog.");
  const WindowHandle parent = View()->Parent();
  if (parent != 0) m_app.Ports().messages.SendMessage(parent, wm::Close, 0, 0);
}

void CKvdDiagnoseDlg::OnBnClickedBtnBack() {
  KVD_SCOPE(L"CKvdDiagnoseDlg::OnBnClickedBtnBack");
  KVD_LOG(kind::Info, L"Clicked back from Diagnose dialog.");
  const WindowHandle parent = View()->Parent();
  if (parent == 0) return;
  EndDialog(IdCancel);
  m_app.Ports().messages.SendMessage(parent, 1033, 0, 0);
}

void CKvdDiagnoseDlg::OnBnClickedBtnHelp() {
  KVD_SCOPE(L"CKvdDiagnoseDlg::OnBnClickedBtnHelp");
  KVD_LOG(kind::Info, L"Clicked Help.");
  View()->Show(false);
  const WindowHandle parent = View()->Parent();
  if (parent == 0) return;
  EndDialog(IdCancel);
  m_app.Ports().messages.SendMessage(parent, 1033, 0, 2);
}

void CKvdDiagnoseDlg::OnClickedBtnTechnicalInfo() {
  KVD_SCOPE(L"CKvdDiagnoseDlg::OnClickedBtnTechnicalInfo");
  KVD_LOG(kind::Info, L"Launch the TechnicalInfo from Diagnose Dialog.");
  CUtil(m_app.Ports()).LaunchTechnicalnfoExe(m_strTechInfoPath);
}

void CKvdDiagnoseDlg::HideActions(bool keepUpdate) {
  IDialogView& view = *View();
  for (const ActionButton& action : kActions) {
    if (keepUpdate && action.id == kSoftwareUpdate) continue;
    view.ShowItem(action.id, false);
    view.EnableItem(action.id, false);
  }
}

void CKvdDiagnoseDlg::ResetRun() {
  CDiagnosticMgr& manager = *m_app.m_pDiagMgr;
  manager.m_bDashraPresent = false;
  manager.m_nCurrentIssue = 0;
  manager.m_bComplete = false;
}

void CKvdDiagnoseDlg::OnBnClickedBtnRetest() {
  KVD_SCOPE(L"CKvdDiagnoseDlg::OnBnClickedBtnRetest");
  KVD_LOG(kind::Info, L"Clicked Retest.");
  if (m_app.m_nDeviceIndex == -1 || !m_app.m_pDiagMgr) return;
  FillByFamily();
  HideActions(false);
  IDialogView& view = *View();
  for (int id : {kRetest, kBack, kClose}) view.EnableItem(id, false);
  ShowText(L" ");
  view.ShowItem(kFeedbackLink, false);
  view.ShowItem(kFeedbackTitle, false);
  m_nRunningRow = 0;
  m_bBlinkOn = false;
  m_nCreep = 65;
  m_bAllPassed = false;
  m_arrProblemRows.clear();
  m_mapProblemText.clear();
  ResetRun();
  // Nothing may close the program while the run goes on; the first result decides again.
  m_app.SetBusy(true);
  StartTimer(kNextCheckTimer, 100);
}

void CKvdDiagnoseDlg::OnBnClickedBtnSkip() {
  KVD_SCOPE(L"CKvdDiagnoseDlg::OnBnClickedBtnSkip");
  KVD_LOG(kind::Info, L"Clicked Skip.");
  if (m_app.m_nDeviceIndex == -1 || !m_app.m_pDiagMgr) return;
  CDiagnosticMgr& manager = *m_app.m_pDiagMgr;
  IDialogView& view = *View();
  for (int id : {kBack, kRetest, kClose}) view.EnableItem(id, false);
  HideActions(true);
  if (manager.m_nCurrentIssue == kLastCheck) manager.m_bHoldCompletion = false;
  if (manager.m_nCurrentIssue > 11) {
    manager.m_bComplete = true;
    m_app.Ports().messages.SendMessage(manager.m_hWnd, msg::Complete, 0, 0);
  } else {
    ++manager.m_nCurrentIssue;
    m_app.SetBusy(true);
    StartTimer(kNextCheckTimer, 100);
  }
}

void CKvdDiagnoseDlg::OnClickedBtnRestart() {
  KVD_SCOPE(L"CKvdDiagnoseDlg::OnClickedBtnRestart");
  KVD_LOG(kind::Info, L"Clicked Restart from Diagnose dialog.");
  auto& shell = m_app.Ports().shell;
  namespace mb = kvd::platform::mb;
  if (shell.MessageBox(GetSafeHwnd(), GlobalLag.GetString(L"RESTART_MSG").c_str(),
                       GlobalLag.GetString(L"TITLE").c_str(),
                       mb::YesNo | mb::IconWarning) != mb::IdYes) {
    return;
  }
  if (!CUtil(m_app.Ports()).RestartMachine()) {
    // The framework's application title stands in for a missing caption.
    std::wstring caption = GlobalLag.GetString(L"TITLE");
    if (caption.empty()) caption = L"Quvari Kavid";
    shell.MessageBox(GetSafeHwnd(), GlobalLag.GetString(L"RESTART_FAILED").c_str(), caption.c_str(),
                     mb::Ok);
  }
}

void CKvdDiagnoseDlg::OnBnClickedBtnUninstall() {
  KVD_SCOPE(L"CKvdDiagnoseDlg::OnBnClickedBtnUninstall");
  KVD_LOG(kind::Info, L"Clicked Uninstall from Diagnose dialog.");
  if (m_app.m_nDeviceIndex == -1) return;
  namespace mb = kvd::platform::mb;
  if (m_app.Ports().shell.MessageBox(GetSafeHwnd(), GlobalLag.GetString(L"UNINSTALL_MSG").c_str(),
                                     GlobalLag.GetString(L"TITLE").c_str(),
                                     mb::YesNo | mb::IconWarning) != mb::IdYes) {
    return;
  }
  const _DeviceDetails* device = Device();
  if (device == nullptr) return;
  const _DeviceDetails record = *device;
  // The Windows Installer removal runs here, with its own windows; the others only start a
  // program.
  if (record.bOstrel) m_ui.BeginWaitCursor();
  const bool done = kvd::repair::UninstallDeviceSoftware(m_app.Ports(), record);
  if (record.bOstrel) m_ui.EndWaitCursor();
  if (!done) {
    m_app.Ports().shell.MessageBox(GetSafeHwnd(),
                                   GlobalLag.GetString(L"UNINSTALL_FAIL_MSG").c_str(),
                                   GlobalLag.GetString(L"TITLE").c_str(), mb::Ok | mb::IconWarning);
  }
}

void CKvdDiagnoseDlg::OnBnClickedBtnQvupdate() {
  KVD_SCOPE(L"CKvdDiagnoseDlg::OnBnClickedBtnQvupdate");
  KVD_LOG(kind::Info, L"Launches the QV Update.");
  auto& ports = m_app.Ports();
  m_ui.BeginWaitCursor();
  bool launched = false;
  const kvd::reg::RegText run =
      kvd::reg::MachineText(ports.registry, L"SOFTWARE\\Quvari\\QV Software Update", L"Run");
  if (run.IsRead()) {
    const std::wstring path =
        kvd::platform::WithoutTrailingBackslashes(run.text) + L"\\QVUpdater.exe";
    kvd::platform::FileAttributeData attributes;
    if (ports.files.GetFileAttributesEx(path.c_str(), &attributes)) {
      ports.shell.ShellExecute(GetSafeHwnd(), L"open", path.c_str(), nullptr, nullptr,
                               kvd::platform::sw::Show);
      launched = true;
    } else {
      KVD_LOG(kind::Debug, L"QV update exe path not found. %s", path);
    }
  }
  if (!launched) {
    ports.shell.MessageBox(GetSafeHwnd(), GlobalLag.GetString(L"QV_UPDATE_MSG").c_str(),
                           GlobalLag.GetString(L"TITLE").c_str(), kvd::platform::mb::Ok);
  }
  m_ui.EndWaitCursor();
}

void CKvdDiagnoseDlg::OnBnClickedBtnPatch() {
  KVD_SCOPE(L"CKvdDiagnoseDlg::OnBnClickedBtnPatch");
  KVD_LOG(kind::Info, L"Launches pathch for Vista.");
  std::wstring link;
  if (m_app.m_bDestPatchNeeded.exchange(false)) {
    link = GlobalLag.GetString(L"QV_SCAN_DEST_PATCH_LINK");
  } else {
    link = GlobalLag.GetString(L"PATCH_LINK");
  }
  if (!link.empty()) {
    m_app.Ports().shell.ShellExecute(0, L"open", link.c_str(), nullptr, nullptr,
                                     kvd::platform::sw::Show);
  }
}

void CKvdDiagnoseDlg::OnBnClickedBtnFix() {
  KVD_SCOPE(L"CKvdDiagnoseDlg::OnBnClickedBtnFix");
  KVD_LOG(kind::Info, L"Clicked fix .");
  if (m_app.m_nDeviceIndex == -1 || !m_app.m_pDiagMgr) return;
  IDialogView& view = *View();
  view.ProgressSetPos(kFixProgress, 0);
  for (int id : {kRetest, kBack, kClose}) view.EnableItem(id, false);
  view.ShowItem(kFixProgress, true);
  StartTimer(kFixTimer, 10);
  m_app.m_pDiagMgr->StartThread(L"Fix", [this] { Fix(); });
  m_app.SetBusy(true);
  for (int id : {kFix, kHelp, kSkip, kUninstall, kUpdateDriver}) {
    view.ShowItem(id, false);
    view.EnableItem(id, false);
  }
}

void CKvdDiagnoseDlg::Fix() {
  KVD_SCOPE(L"Fix");
  CDiagnosticMgr& manager = *m_app.m_pDiagMgr;
  const int check = std::min(manager.m_nCurrentIssue.load(), kLastCheck);
  const bool fixed = manager.Fix(m_app.m_nDeviceIndex);
  // The page's state belongs to its window's thread: the rest of the fix is done there.
  m_app.Ports().messages.SendMessage(GetSafeHwnd(), kFixDone, fixed ? 1 : 0, check);
}

void CKvdDiagnoseDlg::OnFixDone(bool fixed, int check) {
  KVD_SCOPE(L"CKvdDiagnoseDlg::OnFixDone");
  CDiagnosticMgr& manager = *m_app.m_pDiagMgr;
  const int row = IssueRow(check);
  std::wstring& problem = m_mapProblemText[row];
  problem += fixed ? L"@ Fixed." : L"@ Not Fixed.";
  KVD_LOG(kind::Info, L"The repair of check %d: %s", check, fixed ? L"fixed" : L"not fixed");
  StopTimer(kFixTimer);
  View()->ShowItem(kFixProgress, false);
  if (fixed) {
    const int next = manager.m_nCurrentIssue;
    if (next < kLastCheck) {
      CKVDIssue* issue = manager.Issue(next);
      ShowText(issue != nullptr ? issue->m_strMessage : std::wstring());
    }
    if (manager.m_bComplete) {
      if (CKVDIssue* issue = manager.Issue(std::min(next, kLastCheck)))
        issue->m_nButtons = kCompleteButtons;
      UpdateButtons(0);
    } else {
      StartTimer(kNextCheckTimer, 100);
    }
    return;
  }
  CKVDIssue* issue = manager.Issue(check);
  ShowText(issue != nullptr ? issue->m_strMessage : std::wstring());
  // A repair that failed and offers nothing would leave the page busy with no control to
  // press, and the program could not even be closed: the navigation buttons stay on offer.
  if (issue != nullptr) {
    int offered = button::Navigation;
    for (const ActionButton& action : kActions) offered |= action.bit;
    if ((issue->m_nButtons & offered) == 0) {
      KVD_LOG(kind::Info, L"The repair left no button to press: Back, Retest and Close stay.");
      issue->m_nButtons |= button::Navigation;
    }
  }
  UpdateButtons(0);
}
