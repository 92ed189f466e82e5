#include "issues/KVDDriverIssue.h"

#include <algorithm>
#include <cstring>
#include <exception>
#include <optional>
#include <utility>
#include <vector>

#include "discovery/DeviceRegistry.h"
#include "issues/CrocanRecords.h"
#include "issues/KVDConnectionIssue.h"
#include "logging/Trace.h"
#include "strings/StringTable.h"
#include "system/Helper.h"
#include "system/Registry.h"

KVD_TRACE_SOURCE();

namespace kind = DUDiduzuz::kind;
namespace port = kvd::platform::crocan;
using kvd::platform::CrocanObject;
using kvd::platform::HResult;

namespace {

constexpr int kFixFailed = 2000;
// The error codes of the steps.
constexpr int kScanFolderMissingError = 1037;
constexpr int kComponentError = 1025;
constexpr int kNotKnownError = 1026;
constexpr int kOpenError = 1028;
constexpr int kLockError = 1029;
constexpr int kCapabilitiesError = 1030;  // also every feeder step
constexpr int kResetError = 1142;
constexpr int kLampStatusError = 1031;
constexpr int kLampOnError = 1143;  // also InitializeScanner
constexpr int kGammaError = 12;
constexpr int kParametersError = 1032;
constexpr int kBufferInfoError = 1033;
constexpr int kStartError = 1034;
constexpr int kReadError = 1035;
constexpr int kStopError = 1036;
constexpr int kUnexpectedError = 100017;
// The component statuses the feeder read lets pass, and the one that asks for the parameters at
// the capability resolution.
constexpr std::uint32_t kReadStatusIgnored1 = 102;
constexpr std::uint32_t kReadStatusIgnored2 = 106;
constexpr std::uint32_t kParametersStatusRetry = 2;
constexpr std::uint16_t kMinimumResolution = 150;
constexpr std::uint32_t kLockTimeoutMs = 30000;
constexpr std::uint32_t kExtensionValue = 3;
constexpr std::uint32_t kSettleMs = 22000;
constexpr std::uint32_t kFailureSettleMs = 1000;

bool Failed(HResult result) { return result < 0; }

// What a failed step presents: the component's status, except one that would read as this
// check's pass (107) or as its own missing scan folder (109), which would show a failure as a
// success or offer a repair for something else; those present as an unknown failure.
int ResultOfStatus(std::uint32_t status) {
  const auto result = static_cast<int>(status);
  return result == issue::kPassed || result == CKVDDriverIssue::kUpdateScanDriver ? 0 : result;
}

}  // namespace

// One conversation with the scanner components: COM on this thread, the references, the
// session and the lock, given back in reverse order on every way out.
class CKVDDriverIssue::Conversation {
 public:
  explicit Conversation(kvd::platform::ICrocan& crocan) : crocan_(crocan) {
    com_ = !Failed(crocan_.CoInitialize());
  }
  ~Conversation() { End(); }
  Conversation(const Conversation&) = delete;
  Conversation& operator=(const Conversation&) = delete;

  // Unlocks and closes what is open, then releases the references and COM.
  void End() {
    Undo();
    for (CrocanObject* object : {&feeder, &extension, &scanner, &manager}) {
      if (*object != 0) crocan_.Release(*object);
      *object = 0;
    }
    if (com_) crocan_.CoUninitialize();
    com_ = false;
  }
  // The lock, then the session.
  void Undo() {
    std::uint32_t status = 0;
    if (locked) crocan_.Call(scanner, port::SessionCall::UnlockScanner, session, &status);
    locked = false;
    if (sessionOpen)
      crocan_.Call(scanner, port::SessionCall::CloseScannerSession, session, &status);
    sessionOpen = false;
  }
  // A session-and-status method of the scanner (or of `object`).
  bool Call(port::SessionCall call, std::uint32_t& status, CrocanObject object = 0) {
    return !Failed(crocan_.Call(object != 0 ? object : scanner, call, session, &status));
  }

  kvd::platform::ICrocan& crocan_;
  CrocanObject manager = 0;
  CrocanObject scanner = 0;
  CrocanObject extension = 0;
  CrocanObject feeder = 0;
  std::uint32_t session = 0;
  bool sessionOpen = false;
  bool locked = false;
  std::optional<std::uint32_t> warmUpStart;
  crocan::Capabilities capabilities;

 private:
  bool com_ = false;
};

CKVDDriverIssue::CKVDDriverIssue(kvd::platform::Platform& platform, Repair repair)
    : m_platform(platform), m_repair(std::move(repair)) {
  m_strName = GlobalLag.GetString(L"DRIVER");
}

void CKVDDriverIssue::SignalListen() { SignalListenEvent(m_platform.sync); }

void CKVDDriverIssue::Progress(int percent) {
  if (m_hNotifyWnd == 0) return;
  m_platform.messages.SendMessage(m_hNotifyWnd, msg::Progress, static_cast<std::uintptr_t>(percent),
                                  0);
}

int CKVDDriverIssue::CheckCreateFileName(const _DeviceDetails& device) {
  KVD_SCOPE(L"CKVDDriverIssue::CheckCreateFileName");
  const std::wstring path = CDeviceRegistry::ClassKey(device.strDriverKey);
  // Without a driver key the path would name the class root, which is no driver's setting.
  const kvd::reg::RegText folder =
      device.strDriverKey.empty()
          ? kvd::reg::RegText{}
          : kvd::reg::MachineText(m_platform.registry, path, L"CreateFileName");
  if (folder.IsRead() && !folder.text.empty()) {
    KVD_LOG(kind::Info, L"Scan Folder OK.");
    return issue::kPassed;
  }
  KVD_LOG(kind::Debug, L"Failed to get CreateFileName from registry Path : %s", path);
  return 0;
}

int CKVDDriverIssue::SetUI(int code) {
  KVD_SCOPE(L"CKVDDriverIssue::SetUI");
  using namespace button;
  constexpr int kCommunicate = Navigation | Uninstall | Restart | Skip;  // 0x6A
  static constexpr Outcome kOutcomes[] = {
      {kNotFound, L"CROCAN_FAILED_TO_COMMUNICATE", issue::kStatusFailed, kCommunicate},
      {kFailedToCommunicate, L"CROCAN_FAILED_TO_COMMUNICATE", issue::kStatusFailed, kCommunicate},
      {5, L"DEVICE_IN_USE", issue::kStatusFailed, Navigation | Restart | Skip},
      {16, L"CROCAN_USER_CANCELLED", issue::kStatusWarning, Navigation | Skip},
      {18, L"NETWORK_BUSY", issue::kStatusFailed, Navigation | Help | Restart | Skip},
      {kUpdateScanDriver, L"UPDATE_SCAN_DRIVER", issue::kStatusFailed,
       UpdateDriver | Navigation | Uninstall | Skip},
      {120, L"CROCAN_FAILED_SET_PARAMETER_ADF", issue::kStatusFailed, kCommunicate},
  };
  static constexpr Outcome kOther = {0, L"CROCAN_UNKNOWN", issue::kStatusFailed,
                                     Navigation | Uninstall | Help | Skip};
  const Outcome& face = OutcomeOf(kOutcomes, code, kOther);
  m_nStatus = face.status;
  m_strMessage = GlobalLag.GetString(face.key);
  m_nButtons = face.buttons;
  return code;
}

void CKVDDriverIssue::ManageUI(int code) {
  KVD_SCOPE(L"CKVDDriverIssue::ManageUI");
  if (code == issue::kPassed) {
    Progress(65);
    m_platform.clock.Sleep(kSettleMs);
    KVD_LOG(kind::Info, L"Crocan Scan OK");
    m_nStatus = issue::kStatusPassed;
    m_strMessage = GlobalLag.GetString(L"CROCAN_OK");
    return;
  }
  SetUI(code);
  Progress(100);
  m_platform.clock.Sleep(kFailureSettleMs);
}

int CKVDDriverIssue::Fail(Conversation& talk, const std::wstring& text, int errorCode, int result) {
  KVD_SCOPE(L"CKVDDriverIssue::Fail");
  KVD_LOG_TEXT(kind::Debug, text);
  SignalListen();
  talk.End();
  m_nErrorCode = errorCode;
  ManageUI(result);
  return result;
}

int CKVDDriverIssue::Diagnose(const _DeviceDetails& device) {
  KVD_SCOPE(L"CKVDDriverIssue::Diagnose");
  KVD_LOG(kind::Info, L"Diagnoses the Driver Issue.");
  m_nStatus = issue::kStatusNotRun;
  m_nButtons = 0;
  if (m_bSimulate) {
    if (m_bSimulatePass) {
      m_bSimulatePass = false;
      m_nStatus = issue::kStatusPassed;
      m_strMessage = GlobalLag.GetString(L"CROCAN_OK");
    } else {
      SetUI(m_nSimulatedCase);
    }
    m_bSimulate = false;
    return m_nSimulatedCase;
  }
  if (CheckCreateFileName(device) != issue::kPassed) {
    Progress(100);
    SignalListen();
    m_nErrorCode = kScanFolderMissingError;
    return SetUI(kUpdateScanDriver);
  }
  KVD_LOG(kind::Debug, L"CheckCreateFileName Success");
  Progress(5);
  Conversation talk(m_platform.crocan);
  try {
    return Converse(device, talk);
  } catch (const std::exception&) {
  } catch (...) {
  }
  return Fail(talk, L"Unkown error occured.", kUnexpectedError, kUnexpected);
}

int CKVDDriverIssue::Converse(const _DeviceDetails& device, Conversation& talk) {
  KVD_SCOPE(L"CKVDDriverIssue::Converse");
  kvd::platform::ICrocan& crocan = m_platform.crocan;
  const std::wstring dataKey = CDeviceRegistry::DeviceDataKey(device.strDriverKey);
  const kvd::reg::RegText classText =
      kvd::reg::MachineText(m_platform.registry, dataKey, L"CrocanCLSID");
  if (!classText.IsRead()) {
    KVD_LOG(kind::Debug, L"Failed to get the value of CrocanCLSID from resgistry . Path : %s",
            dataKey);
  }
  const std::wstring classId = classText.Or(L"");
  Progress(10);

  if (Failed(crocan.CreateScannerManager(&talk.manager))) {
    return Fail(talk, L"Failed to Create CLSID_QVScnMgr Instance", kComponentError,
                kComponentMissing);
  }
  std::uint8_t description[port::kDescriptionBytes] = {};
  if (Failed(crocan.GetScannerByFriendlyName2(talk.manager, device.strFriendlyName.c_str(),
                                              description))) {
    return Fail(talk, L"GetScannerByFriendlyName2 Failed for : " + device.strFriendlyName,
                kNotKnownError, kNotFound);
  }
  kvd::platform::Guid scannerClass;
  if (Failed(crocan.ClassIdFromString(classId.c_str(), &scannerClass))) {
    return Fail(talk, L"Failed to Create CLSID_Iscanner from " + classId, kComponentError,
                kComponentMissing);
  }
  Progress(15);
  if (Failed(crocan.CreateScanner(scannerClass, &talk.scanner))) {
    return Fail(talk, L"Failed to Create CLSID_QVScnMgr Instance", kComponentError,
                kComponentMissing);
  }

  // The description's UTF-16 text ends within its field, whatever the component left there.
  std::wstring sessionName;
  for (std::size_t at = 0x200; at + 1 < 0x400; at += 2) {
    const auto unit = static_cast<wchar_t>(description[at] | (description[at + 1] << 8));
    if (unit == L'\0') break;
    sessionName.push_back(unit);
  }
  std::uint16_t sessionValue = 0;
  std::memcpy(&sessionValue, description + 0x400, sizeof sessionValue);

  std::uint32_t status = 0;
  if (Failed(crocan.OpenScannerSession(talk.scanner, sessionName.c_str(), sessionValue,
                                       &talk.session, &status))) {
    return Fail(talk, L"Failed to OpenScannerSession", kOpenError, ResultOfStatus(status));
  }
  talk.sessionOpen = true;
  KVD_LOG(kind::Debug, L"OpenScannerSession Success");
  if (Failed(crocan.LockScanner(talk.scanner, talk.session, 0, kLockTimeoutMs, &status))) {
    return Fail(talk, L"Failed to LockScanner", kLockError, ResultOfStatus(status));
  }
  talk.locked = true;
  KVD_LOG(kind::Debug, L"LockScanner Success");
  std::uint8_t record[port::kCapabilityBytes] = {};
  if (Failed(crocan.GetScannerCapabilities(talk.scanner, talk.session, record, &status))) {
    return Fail(talk, L"Failed to GetScannerCapabilities", kCapabilitiesError,
                ResultOfStatus(status));
  }
  talk.capabilities = crocan::ReadCapabilities(record);
  KVD_LOG(kind::Debug, L"GetScannerCapabilities Success");
  Progress(20);
  if (!talk.Call(port::SessionCall::ResetScanner, status)) {
    return Fail(talk, L"Failed to ResetScanner", kResetError, ResultOfStatus(status));
  }
  KVD_LOG(kind::Debug, L"ResetScanner Success");
  std::uint8_t lampOn = 0;
  if (Failed(crocan.GetLampStatus(talk.scanner, talk.session, &lampOn, &status))) {
    return Fail(talk, L"Failed to GetLampStatus", kLampStatusError, ResultOfStatus(status));
  }
  KVD_LOG(kind::Debug, L"GetLampStatus Success");
  Progress(25);
  if (lampOn == 0) {
    if (!talk.Call(port::SessionCall::LampOn, status)) {
      return Fail(talk, L"Failed to LampOn", kLampOnError, ResultOfStatus(status));
    }
    talk.warmUpStart = m_platform.clock.GetTickCount();
  }
  KVD_LOG(kind::Debug, L"LampOn Success");

  const bool feeder = device.bTarvel && CUtil(m_platform).IsADFSupported(device.strDriverKey);
  const int scanned = feeder ? FeederScan(talk) : FlatbedScan(talk);
  if (scanned != issue::kPassed) return scanned;
  SignalListen();
  talk.End();
  ManageUI(issue::kPassed);
  return issue::kPassed;
}

void CKVDDriverIssue::WarmUp(const Conversation& talk) {
  KVD_SCOPE(L"CKVDDriverIssue::WarmUp");
  if (!talk.warmUpStart) return;
  std::uint32_t seconds = talk.capabilities.warmUpSeconds;
  if (seconds > kWarmUpLimitSeconds) {
    KVD_LOG(kind::Debug, L"The lamp's warm-up of %u seconds is waited for %u seconds only.",
            seconds, kWarmUpLimitSeconds);
    seconds = kWarmUpLimitSeconds;
  }
  const std::uint32_t wait = seconds * 1000;
  // Differences of tick counts stay right across the counter's wrap.
  while (m_platform.clock.GetTickCount() - *talk.warmUpStart < wait) m_platform.clock.Sleep(1000);
}

int CKVDDriverIssue::PrepareScan(Conversation& talk, bool flatbed) {
  KVD_SCOPE(L"CKVDDriverIssue::PrepareScan");
  kvd::platform::ICrocan& crocan = m_platform.crocan;
  WarmUp(talk);
  std::uint32_t status = 0;
  if (!talk.Call(port::SessionCall::InitializeScanner, status)) {
    return Fail(talk, L"Failed to InitializeScanner", kLampOnError, kFailedToCommunicate);
  }
  // The feeder scan goes on silently, and without the extension.
  if (flatbed) {
    KVD_LOG(kind::Debug, L"InitializeScanner Success");
    Progress(30);
    if (!Failed(crocan.QueryExtension(talk.scanner, &talk.extension))) {
      // Its answer does not decide anything.
      static_cast<void>(
          crocan.ExtensionCall(talk.extension, talk.session, kExtensionValue, &status));
    }
  }
  const crocan::Capabilities& caps = talk.capabilities;
  const std::optional<std::vector<std::uint8_t>> gamma = crocan::GammaTable(caps);
  if (!gamma) {
    KVD_LOG(kind::Debug, L"No gamma table of %u entries of %u bytes can be built.",
            caps.gammaEntries, static_cast<std::uint32_t>(caps.gammaBytes));
  }
  if (!gamma || Failed(crocan.SetGammaTable(
                    talk.scanner, talk.session, static_cast<std::uint32_t>(gamma->size()),
                    gamma->data(), gamma->data(), gamma->data(), &status))) {
    return Fail(talk, L"Failed to SetGammaTable", kGammaError, kFailedToCommunicate);
  }
  if (flatbed) KVD_LOG(kind::Debug, L"SetGammaTable Success");
  return issue::kPassed;
}

int CKVDDriverIssue::FlatbedScan(Conversation& talk) {
  KVD_SCOPE(L"CKVDDriverIssue::FlatbedScan");
  kvd::platform::ICrocan& crocan = m_platform.crocan;
  const int prepared = PrepareScan(talk, true);
  if (prepared != issue::kPassed) return prepared;
  std::uint32_t status = 0;
  const crocan::Capabilities& caps = talk.capabilities;

  std::vector<std::uint8_t> parameters =
      crocan::ScanParameters(caps, std::max(caps.resolution, kMinimumResolution));
  if (Failed(crocan.SetScannerParameters(talk.scanner, talk.session, parameters.data(), &status))) {
    bool set = false;
    if (status == kParametersStatusRetry) {
      parameters = crocan::ScanParameters(caps, caps.resolution);
      set = !Failed(
          crocan.SetScannerParameters(talk.scanner, talk.session, parameters.data(), &status));
    }
    if (!set) {
      return Fail(talk, L"Failed to SetScannerParameters", kParametersError, kFailedToCommunicate);
    }
  }
  KVD_LOG(kind::Debug, L"SetScannerParameters Success");
  std::uint8_t infoRecord[port::kBufferInfoBytes] = {};
  if (Failed(crocan.GetBufferInfo(talk.scanner, talk.session, parameters.data(), infoRecord,
                                  &status))) {
    return Fail(talk, L"Failed to GetBufferInfo", kBufferInfoError, kFailedToCommunicate);
  }
  const crocan::BufferInfo info = crocan::ReadBufferInfo(infoRecord);
  const std::optional<crocan::ReadPlan> plan = crocan::PlanReads(info);
  if (!plan) {
    KVD_LOG(kind::Debug, L"The buffer info gives lines of no bytes.");
    return Fail(talk, L"Failed to GetBufferInfo", kBufferInfoError, kFailedToCommunicate);
  }
  KVD_LOG(kind::Debug, L"GetBufferInfo Success");
  Progress(35);
  if (!talk.Call(port::SessionCall::StartScan, status)) {
    return Fail(talk, L"Failed to StartScan.Error Code: " + std::to_wstring(status), kStartError,
                ResultOfStatus(status));
  }
  KVD_LOG(kind::Debug, L"StartScan Success");
  Progress(40);

  // The image is read and dropped: only whether the driver delivers it counts.
  std::vector<std::uint8_t> buffer(plan->bufferBytes);
  int progress = 30;
  for (std::uint32_t left = info.lines; left > 0;) {
    const std::uint32_t lines = std::min(plan->linesPerRead, left);
    if (Failed(crocan.ReadScan(talk.scanner, talk.session, buffer.data(), lines * info.bytesPerLine,
                               &status))) {
      return Fail(talk, L"Failed to ReadScan", kReadError, ResultOfStatus(status));
    }
    left -= lines;
    if (progress <= 80) {
      progress += 10;
      Progress(progress);
    }
  }
  KVD_LOG(kind::Debug, L"ReadScan Success");
  if (!talk.Call(port::SessionCall::StopScan, status)) {
    // The conversation ends here too: the watchdog is told, so that its wait ends with it.
    return Fail(talk, L"Failed to StopScan", kStopError, ResultOfStatus(status));
  }
  return issue::kPassed;
}

int CKVDDriverIssue::FeederScan(Conversation& talk) {
  KVD_SCOPE(L"CKVDDriverIssue::FeederScan");
  kvd::platform::ICrocan& crocan = m_platform.crocan;
  const int prepared = PrepareScan(talk, false);
  if (prepared != issue::kPassed) return prepared;
  std::uint32_t status = 0;
  const crocan::Capabilities& caps = talk.capabilities;
  const std::vector<std::uint8_t> parameters = crocan::ScanParameters(caps, caps.resolution);
  if (Failed(crocan.SetScannerParameters(talk.scanner, talk.session, parameters.data(), &status))) {
    return Fail(talk, L"Failed to SetScannerParameters", kParametersError, kFailedToCommunicate);
  }
  if (Failed(crocan.QueryFeeder(talk.scanner, &talk.feeder))) {
    KVD_LOG(kind::Debug, L"The scanner has no document feeder interface: nothing to feed.");
    return issue::kPassed;
  }
  std::uint8_t feederRecord[port::kFeederCapabilityBytes] = {};
  if (Failed(crocan.GetADFScannerCapabilities(talk.feeder, talk.session, feederRecord, &status))) {
    return Fail(talk, L"Failed to GetADFScannerCapabilities", kCapabilitiesError,
                ResultOfStatus(status));
  }
  std::uint8_t ready = 0;
  for (std::uint32_t waited = 0;; waited += kFeederPollMs) {
    if (Failed(crocan.ADFIsReady(talk.feeder, talk.session, &ready, &status))) {
      return Fail(talk, L"ADFIsReady Failed .", kCapabilitiesError, ResultOfStatus(status));
    }
    if (ready != 0) break;
    if (waited >= kFeederReadyLimitMs) {
      KVD_LOG(kind::Debug, L"The document feeder did not get ready in %u seconds.",
              kFeederReadyLimitMs / 1000);
      return Fail(talk, L"ADFIsReady Failed .", kCapabilitiesError, kFailedToCommunicate);
    }
    m_platform.clock.Sleep(kFeederPollMs);
  }

  std::uint8_t infoRecord[port::kBufferInfoBytes] = {};
  while (ready == 1) {
    if (!talk.Call(port::SessionCall::ADFPaperFeed, status, talk.feeder)) {
      return Fail(talk, L"ADFPaperFeed Failed .", kCapabilitiesError, ResultOfStatus(status));
    }
    if (Failed(crocan.GetBufferInfo(talk.scanner, talk.session, parameters.data(), infoRecord,
                                    &status))) {
      return Fail(talk, L"Failed to GetBufferInfo", kBufferInfoError, kFailedToCommunicate);
    }
    const crocan::BufferInfo info = crocan::ReadBufferInfo(infoRecord);
    const std::optional<crocan::ReadPlan> plan = crocan::PlanReads(info);
    const std::optional<std::size_t> pageBytes = crocan::PageBytes(info);
    if (!plan || !pageBytes) {
      KVD_LOG(kind::Debug, L"The buffer info gives a page of %u lines of %u bytes.", info.lines,
              info.bytesPerLine);
      return Fail(talk, L"Failed to GetBufferInfo", kBufferInfoError, kFailedToCommunicate);
    }
    if (!talk.Call(port::SessionCall::StartScan, status)) {
      return Fail(talk, L"Failed to StartScan", kStartError, ResultOfStatus(status));
    }
    std::vector<std::uint8_t> page;
    page.reserve(*pageBytes);
    std::vector<std::uint8_t> buffer(plan->bufferBytes);
    for (std::uint32_t left = info.lines; left > 0;) {
      const std::uint32_t lines = std::min(plan->linesPerRead, left);
      const std::uint32_t asked = lines * info.bytesPerLine;
      std::uint32_t read = 0;
      if (Failed(crocan.ReadScanData(talk.scanner, talk.session, buffer.data(), asked, &read,
                                     &status))) {
        if (status != kReadStatusIgnored1 && status != kReadStatusIgnored2) {
          return Fail(talk, L"Failed to ReadScan", kReadError, ResultOfStatus(status));
        }
        read = 0;
      }
      // The lines asked for are behind us either way: a read that keeps failing with a status
      // that is let pass cannot keep the loop going.
      left -= lines;
      const std::size_t room = *pageBytes - page.size();
      const std::size_t taken = std::min<std::size_t>({read, asked, room});
      page.insert(page.end(), buffer.begin(), buffer.begin() + static_cast<std::ptrdiff_t>(taken));
    }
    if (!talk.Call(port::SessionCall::StopScan, status)) {
      return Fail(talk, L"Failed to StopScan", kStopError, ResultOfStatus(status));
    }
    page = {};
    // Whether another page waits; a failing answer leaves none.
    static_cast<void>(crocan.ADFIsReady(talk.feeder, talk.session, &ready, &status));
  }
  return issue::kPassed;
}

int CKVDDriverIssue::Fix(const _DeviceDetails& device, int) {
  KVD_SCOPE(L"CKVDDriverIssue::Fix");
  int errorCode = 0;
  if (m_repair.Refresh(m_platform, device, errorCode)) {
    m_strMessage = GlobalLag.GetString(L"CROCAN_RETEST");
    m_nStatus = issue::kStatusPassed;
    m_nButtons = 0;
    return issue::kFixedToo;
  }
  m_strMessage = GlobalLag.GetString(L"FAILED_UPDATE_SCAN_DRIVER");
  m_nStatus = issue::kStatusFailed;
  m_nButtons = button::Navigation | button::Uninstall;
  m_nErrorCode = errorCode;
  return kFixFailed;
}
