#include "issues/KVDWindowsScanIssue.h"

#include <cstdint>
#include <utility>

#include "issues/KVDConnectionIssue.h"
#include "issues/ServiceControl.h"
#include "logging/Trace.h"
#include "platform/api/Handles.h"
#include "strings/StringTable.h"
#include "system/Helper.h"

KVD_TRACE_SOURCE();

namespace kind = DUDiduzuz::kind;

namespace {

constexpr const wchar_t* kService = L"stisvc";
constexpr int kServiceNotOpened = 1044;
constexpr int kServiceNotStarted = 1045;
constexpr int kWiaFailed = 1046;
constexpr int kCancelled = 1047;
constexpr int kUpgradeProblem = 1048;
constexpr int kNotReachable = 1001;

}  // namespace

CKVDWindowsScanIssue::CKVDWindowsScanIssue(kvd::platform::Platform& platform, WiaScan scan)
    : m_platform(platform), m_scan(std::move(scan)) {
  m_strName = GlobalLag.GetString(L"WIA");
}

void CKVDWindowsScanIssue::SignalListen() { SignalListenEvent(m_platform.sync); }

int CKVDWindowsScanIssue::Fix(const _DeviceDetails&, int) {
  KVD_SCOPE(L"CKVDWindowsScanIssue::Fix");
  return issue::kFixed;
}

int CKVDWindowsScanIssue::SetUI(int code) {
  KVD_SCOPE(L"CKVDWindowsScanIssue::SetUI");
  using namespace button;
  static constexpr Outcome kOutcomes[] = {
      {issue::kPassed, L"WIA_OK", issue::kStatusPassed, -1},
      {kServiceError, L"WIA_SERVICE_ERROR", issue::kStatusFailed,
       Navigation | Help | Restart | Skip},
      {kWin7Upgrade, L"WIA_WIN7_UPGRADE_ISSUE", issue::kStatusFailed,
       Navigation | Uninstall | Skip},
      {kNetworkUnreachable, L"NETWORK_NO_CONNECTION", issue::kStatusFailed,
       Navigation | Help | Restart | Skip},
      {kUsbUnreachable, L"USB_NO_CONNECTION", issue::kStatusFailed,
       Navigation | Help | Restart | Skip},
      {kUserCancelled, L"USER_CANCELLED", issue::kStatusWarning, Navigation | Skip},
  };
  static constexpr Outcome kOther = {kScanFailed, L"WIA_ISSUE_FOUND", issue::kStatusFailed,
                                     Navigation | Uninstall | Restart | Skip};
  const Outcome& face = OutcomeOf(kOutcomes, code, kOther);
  m_strMessage = GlobalLag.GetString(face.key);
  m_nStatus = face.status;
  if (face.buttons >= 0) m_nButtons = face.buttons;
  if (code == kNetworkUnreachable || code == kUsbUnreachable) m_nErrorCode = kNotReachable;
  return code;
}

int CKVDWindowsScanIssue::CheckWIAService() {
  KVD_SCOPE(L"CKVDWindowsScanIssue::CheckWIAService");
  KVD_LOG(kind::Info, L"Diagnoses WIA Service.");
  switch (kvd::service::Ask(m_platform, kService, kvd::service::kGenericRead)) {
    case kvd::service::Answer::ManagerNotOpened:
      // Nothing to ask: the scan decides.
      return issue::kPassed;
    case kvd::service::Answer::ServiceNotOpened:
      KVD_LOG(kind::Error, L"OpenService failed. Service : %s", kService);
      return 0;
    case kvd::service::Answer::Usable:
      return issue::kPassed;
    default:
      return 0;
  }
}

bool CKVDWindowsScanIssue::FixWIAServiceIssue(int& errorCode) {
  KVD_SCOPE(L"CKVDWindowsScanIssue::FixWIAServiceIssue");
  KVD_LOG(kind::Debug, L"Fixes WIA Service Issue.");
  bool fixed = false;
  switch (kvd::service::StartAutomatically(m_platform, kService)) {
    case kvd::service::Repair::ManagerNotOpened:
      errorCode = kServiceNotOpened;
      break;
    case kvd::service::Repair::ServiceNotOpened:
      KVD_LOG(kind::Error, L"OpenService failed. Service : %s", kService);
      errorCode = kServiceNotOpened;
      break;
    case kvd::service::Repair::NotReconfigured:
      KVD_LOG(kind::Debug, L"ChangeServiceConfig failed for WIA Service.");
      errorCode = kServiceNotOpened;
      break;
    case kvd::service::Repair::NotStarted:
      KVD_LOG(kind::Debug, L"Failed to start WIA Service.");
      errorCode = kServiceNotStarted;
      break;
    case kvd::service::Repair::Started:
      fixed = true;
      break;
  }
  m_platform.clock.Sleep(3000);
  return fixed;
}

int CKVDWindowsScanIssue::Diagnose(const _DeviceDetails& device) {
  KVD_SCOPE(L"CKVDWindowsScanIssue::Diagnose");
  m_nStatus = issue::kStatusNotRun;
  m_nButtons = 0;
  if (m_bSimulate) {
    m_bSimulate = false;
    m_bSimulatePass = false;
    return SetUI(m_nSimulatedCase);
  }
  m_platform.clock.Sleep(5000);
  if (CheckWIAService() == issue::kPassed) {
    KVD_LOG(kind::Info, L" WIA service OK.");
  } else {
    KVD_LOG(kind::Debug, L"WIA service not running.");
    int errorCode = m_nErrorCode;
    if (!FixWIAServiceIssue(errorCode)) {
      SignalListen();
      m_nErrorCode = errorCode;
      m_strMessage = GlobalLag.GetString(L"WIA_SERVICE_ERROR");
      m_nButtons = button::Navigation | button::Help | button::Restart | button::Skip;
      m_nStatus = issue::kStatusFailed;
      return kServiceError;
    }
  }

  KVD_LOG(kind::Info, L"Diagnoses WIA Scan.");
  // COM for the scan on this worker thread; a failed initialisation is not undone.
  const kvd::platform::HResult com = m_platform.wia.CoInitialize();
  int scan = -1;
  if (m_scan) {
    scan = m_scan(device, m_hParentWnd);
  } else {
    KVD_LOG(kind::Error, L"No WIA scan is available.");
    SignalListen();
  }
  if (kvd::platform::hr::Succeeded(com)) m_platform.wia.CoUninitialize();
  int code = issue::kPassed;
  if (scan < 0) {
    m_nErrorCode = kWiaFailed;
    code = kScanFailed;
  } else if (scan == 1) {
    m_nErrorCode = kCancelled;
    code = kUserCancelled;
  } else {
    KVD_LOG(kind::Info, L" WIA scan OK.");
    return SetUI(issue::kPassed);
  }

  CKVDConnectionIssue connection(m_platform);
  if (connection.Diagnose(device) != issue::kPassed) {
    code = device.bNetwork ? kNetworkUnreachable : kUsbUnreachable;
  } else if (!device.bOstrel && CUtil(m_platform).IsWin7UpgradeIssueExists()) {
    code = kWin7Upgrade;
    m_nErrorCode = kUpgradeProblem;
  }
  KVD_LOG(kind::Info, L" WIA scan Failed.");
  return SetUI(code);
}
