#include "issues/KVDTWAINDetectionIssue.h"

#include <algorithm>
#include <cwctype>
#include <utility>

#include "discovery/DeviceRegistry.h"
#include "issues/KVDConnectionIssue.h"
#include "issues/TwainSession.h"
#include "logging/Trace.h"
#include "platform/api/Text.h"
#include "strings/StringTable.h"
#include "system/Helper.h"
#include "system/Registry.h"

KVD_TRACE_SOURCE();

namespace kind = DUDiduzuz::kind;
using kvd::platform::TwIdentity;

namespace {

constexpr int kLibraryError = 1058;
constexpr int kManagerError = 1059;
constexpr int kSourceError = 1060;
constexpr int kEnableError = 1061;
constexpr int kScanError = 1062;
constexpr int kUpgradeError = 1063;
constexpr int kFilesError = 1064;
constexpr int kNotReachableError = 1001;
constexpr int kNoWindowsFolder = 100024;

std::wstring Lower(std::wstring text) {
  for (wchar_t& c : text) c = static_cast<wchar_t>(std::towlower(c));
  return text;
}

std::wstring Trimmed(const std::wstring& text) {
  const auto first = text.find_first_not_of(L" \t\r\n");
  if (first == std::wstring::npos) return {};
  return text.substr(first, text.find_last_not_of(L" \t\r\n") - first + 1);
}

bool IsOstrelFamily(const _DeviceDetails& device) { return device.bOstrel || device.bLumeq; }

}  // namespace

CKVDTWAINDetectionIssue::CKVDTWAINDetectionIssue(kvd::platform::Platform& platform,
                                                 Services services)
    : m_platform(platform), m_services(std::move(services)) {
  m_strName = GlobalLag.GetString(L"TWAIN");
}

int CKVDTWAINDetectionIssue::Fix(const _DeviceDetails&, int) { return 0; }

void CKVDTWAINDetectionIssue::SignalListen() { SignalListenEvent(m_platform.sync); }

std::wstring CKVDTWAINDetectionIssue::WindowsFolder() {
  constexpr std::uint32_t kChars = 32768;
  std::wstring path(kChars, L'\0');
  const std::uint32_t length = m_platform.modules.GetWindowsDirectory(path.data(), kChars);
  if (length == 0 || length >= kChars) return {};
  path.resize(length);
  if (path.back() != L'\\') path += L'\\';
  return path;
}

int CKVDTWAINDetectionIssue::CheckDataSourceFiles(const std::wstring& instance) {
  KVD_SCOPE(L"CKVDTWAINDetectionIssue::CheckDataSourceFiles");
  const std::wstring windows = WindowsFolder();
  if (windows.empty()) return kNoWindowsFolder;
  const std::wstring folder = windows + L"twain_32\\";
  const std::wstring generic = folder + L"qvtwds2";
  auto& files = m_platform.files;
  kvd::platform::FileAttributeData genericData;
  if (!files.GetFileAttributesEx(generic.c_str(), &genericData)) return 1053;
  kvd::platform::FileAttributeData tmpData;
  if (!files.GetFileAttributesEx((generic + L".tmp").c_str(), &tmpData)) return 1054;
  // The first read said the file is there; a second one may still fail (it went away).
  if (!files.GetFileAttributesEx(generic.c_str(), &genericData)) return 1055;
  const std::wstring own = folder + L"qvtv_" + instance + L"\\" + L"qvtv_" + instance + L".ds";
  kvd::platform::FileAttributeData ownData;
  if (!files.GetFileAttributesEx(own.c_str(), &ownData)) return 1056;
  if (genericData.lastWriteTime != ownData.lastWriteTime ||
      genericData.fileSize != ownData.fileSize) {
    return 1057;
  }
  return 0;
}

int CKVDTWAINDetectionIssue::SetUI(int code) {
  KVD_SCOPE(L"CKVDTWAINDetectionIssue::SetUI");
  const bool wiaPassed = m_services.wiaPassed && m_services.wiaPassed();
  const bool ostrel =
      m_bOstrelTexts || (m_services.simulatingOstrel && m_services.simulatingOstrel());
  using namespace button;
  struct Row {
    int code;
    const wchar_t* wiaOk;  // the key when the Windows scan check passed, and its Ostrel variant
    const wchar_t* wiaOkOstrel;
    const wchar_t* wiaFail;
    const wchar_t* wiaFailOstrel;
    int okButtons;
    int failButtons;
  };
  constexpr int kUnreachable = Navigation | Help | Restart | Skip;  // 0x5A
  static constexpr Row kRows[] = {
      {kNetworkUnreachable, L"NETWORK_NO_CONNECTION", L"NETWORK_NO_CONNECTION",
       L"NETWORK_NO_CONNECTION", L"NETWORK_NO_CONNECTION", kUnreachable, kUnreachable},
      {kUsbUnreachable, L"USB_NO_CONNECTION", L"USB_NO_CONNECTION", L"USB_NO_CONNECTION",
       L"USB_NO_CONNECTION", kUnreachable, kUnreachable},
      {kNoSource, L"TWAIN_DEVICE_NOT_FOUND_WIA_OK", L"TWAIN_DEVICE_NOT_FOUND_WIA_OK_OSTREL",
       L"TWAIN_DEVICE_NOT_FOUND_WIA_FAIL", L"TWAIN_DEVICE_NOT_FOUND_WIA_FAIL_OSTREL",
       Navigation | Uninstall | Restart | Skip, Navigation | Uninstall | Help | Restart},
      {100004, L"TWAIN_DEVICE_NOT_FOUND_WIA_OK", L"TWAIN_DEVICE_NOT_FOUND_WIA_OK_OSTREL",
       L"TWAIN_DEVICE_NOT_FOUND_WIA_FAIL", L"TWAIN_DEVICE_NOT_FOUND_WIA_FAIL_OSTREL",
       Navigation | Uninstall | Restart | Skip, Navigation | Uninstall | Help | Restart},
      {kUserCancelled, L"USER_CANCELLED", L"USER_CANCELLED", L"USER_CANCELLED", L"USER_CANCELLED",
       Navigation | Skip, Navigation | Skip},
      {kFilesDiffer, L"TWAIN_DRIVER_CORRUPTED_WIA_OK", L"TWAIN_DRIVER_CORRUPTED_WIA_OK_OSTREL",
       L"TWAIN_DRIVER_CORRUPTED_WIA_FAIL", L"TWAIN_DRIVER_CORRUPTED_WIA_FAIL_OSTREL",
       Navigation | Uninstall | Skip, Navigation | Uninstall},
      {kWin7Upgrade, L"TWAIN_WIN7_UPGRADE_ISSUE", L"TWAIN_WIN7_UPGRADE_ISSUE",
       L"TWAIN_WIN7_UPGRADE_ISSUE", L"TWAIN_WIN7_UPGRADE_ISSUE", Navigation | Uninstall | Skip,
       Navigation | Uninstall},
  };
  // The busy row: the manager or the source could not be had; it has no Ostrel variant when the
  // Windows scan check failed.
  static constexpr Row kBusy = {0,
                                L"TWAIN_DEVICE_BUSY_WIA_OK",
                                L"TWAIN_DEVICE_BUSY_WIA_OK_OSTREL",
                                L"TWAIN_DEVICE_BUSY_WIA_FAIL",
                                L"TWAIN_DEVICE_BUSY_WIA_FAIL",
                                kUnreachable,
                                Navigation | Uninstall | Help | Restart};
  static constexpr Row kOther = {0,
                                 L"TWAIN_FAIL_WIA_OK",
                                 L"TWAIN_FAIL_WIA_OK_OSTREL",
                                 L"TWAIN_FAIL_WIA_FAIL",
                                 L"TWAIN_FAIL_WIA_FAIL_OSTREL",
                                 Navigation | Uninstall | Help | Skip,
                                 Navigation | Uninstall | Help};
  const Row* row = &kOther;
  for (const Row& candidate : kRows) {
    if (candidate.code == code) row = &candidate;
  }
  if (code == kManagerNotOpened || code == kSourceNotOpened || code == kNotEnabled ||
      code == 100009 || code == 100010) {
    row = &kBusy;
  }
  const wchar_t* key = wiaPassed ? (ostrel ? row->wiaOkOstrel : row->wiaOk)
                                 : (ostrel ? row->wiaFailOstrel : row->wiaFail);
  m_strMessage = GlobalLag.GetString(key);
  m_nButtons = wiaPassed ? row->okButtons : row->failButtons;
  const bool warning = wiaPassed || code == kUserCancelled;
  m_nStatus = warning ? issue::kStatusWarning : issue::kStatusFailed;
  if (code == kNetworkUnreachable || code == kUsbUnreachable) m_nErrorCode = kNotReachableError;
  return code;
}

int CKVDTWAINDetectionIssue::Diagnose(const _DeviceDetails& device) {
  KVD_SCOPE(L"CKVDTWAINDetectionIssue::Diagnose");
  m_nStatus = issue::kStatusNotRun;
  m_nButtons = 0;
  KVD_LOG(kind::Info, L"Diagnoses TWAIN issue.");
  m_bOstrelTexts = IsOstrelFamily(device);
  if (m_bSimulate) {
    if (m_bSimulatePass) {
      m_bSimulatePass = false;
      m_nStatus = issue::kStatusPassed;
      m_strMessage = GlobalLag.GetString(L"TWAIN_OK");
    } else {
      SetUI(m_nSimulatedCase);
    }
    m_bSimulate = false;
    return m_nSimulatedCase;
  }

  // The target name: the device's friendly name, or the data source its driver names.
  std::wstring target = device.strFriendlyName;
  if (device.bOstrel || (device.bLumeq && !device.bNetwork)) {
    const kvd::reg::RegText source = kvd::reg::MachineText(
        m_platform.registry, CDeviceRegistry::DeviceDataKey(device.strDriverKey), L"TwainDS");
    if (!source.IsRead()) {
      KVD_LOG(kind::Debug,
              L"Failed to get the ProductFolder from registry for diagnosing QVTwainScan issue.");
    }
    target = source.Or(L"");
  }
  const int result = Converse(device, target);
  SignalListen();
  if (m_services.forgetWatched) m_services.forgetWatched();
  return result;
}

int CKVDTWAINDetectionIssue::Unreachable(const _DeviceDetails& device, int result) {
  KVD_SCOPE(L"CKVDTWAINDetectionIssue::Unreachable");
  CKVDConnectionIssue connection(m_platform);
  if (connection.Diagnose(device) != issue::kPassed) {
    result = device.bNetwork ? kNetworkUnreachable : kUsbUnreachable;
  } else if (!IsOstrelFamily(device) && CUtil(m_platform).IsWin7UpgradeIssueExists()) {
    result = kWin7Upgrade;
    m_nErrorCode = kUpgradeError;
  }
  SetUI(result);
  KVD_LOG(kind::Debug, L"Twain Issue detected. Err No : %d", result);
  return result;
}

int CKVDTWAINDetectionIssue::Converse(const _DeviceDetails& device, const std::wstring& target) {
  KVD_SCOPE(L"CKVDTWAINDetectionIssue::Converse");
  kvd::platform::ITwain& twain = m_platform.twain;
  // The TWAIN parent window, made on this worker thread and never shown.
  const kvd::platform::WindowHandle parent = twain.CreateParentWindow();
  m_hParentWnd = parent;
  struct WindowOwner {
    kvd::platform::ITwain& twain;
    kvd::platform::WindowHandle window;
    ~WindowOwner() {
      if (window != 0) twain.DestroyWindow(window);
    }
  };
  // The session, declared after the window, ends first: the source and the manager close while
  // their parent window still exists, and the library is unloaded after them.
  const WindowOwner owner{twain, parent};
  CTwainSession session(twain, m_platform.clock);

  const std::size_t slash = device.strDriverKey.rfind(L'\\');
  const std::wstring instance =
      slash == std::wstring::npos ? device.strDriverKey : device.strDriverKey.substr(slash + 1);
  m_platform.clock.Sleep(5000);
  KVD_LOG(kind::Info, L"Perform TWAIN scan.");

  if (!device.bOstrel && !device.bLumeq && !device.bTarvel && CheckDataSourceFiles(instance) != 0) {
    m_nErrorCode = kFilesError;
    SignalListen();
    return Unreachable(device, kFilesDiffer);
  }

  KVD_LOG(kind::Debug, L"call InitializeTwain ");
  const std::wstring windows = WindowsFolder();
  int loaded = kNoLibrary;
  // Only the library of the Windows folder: one of the same name elsewhere on the search path
  // is never loaded into this elevated program.
  if (!windows.empty()) {
    kvd::platform::FileAttributeData data;
    const std::wstring library = windows + L"Twain_32.dll";
    if (m_platform.files.GetFileAttributesEx(library.c_str(), &data)) {
      loaded = session.InitializeTwain(library);
    }
  }
  if (loaded != 0) {
    KVD_LOG(kind::Debug, L"Failed to InitializeTwain");
    m_nErrorCode = kLibraryError;
    SignalListen();
    return Unreachable(device, loaded);
  }

  KVD_LOG(kind::Debug, L"Try Open DSM");
  if (!session.OpenDsm(parent)) {
    KVD_LOG(kind::Debug, L"Failed to Open DSM");
    m_nErrorCode = kManagerError;
    SignalListen();
    return Unreachable(device, kManagerNotOpened);
  }
  m_platform.clock.Sleep(3000);

  // The device's own source among those whose product name says TWAIN.
  std::vector<TwIdentity> candidates;
  std::optional<TwIdentity> chosen;
  std::wstring wanted = Lower(target);
  for (const TwIdentity& source : session.Sources()) {
    std::wstring product = Lower(twain.AnsiToWide(source.productName));
    const std::size_t at = product.find(L"twain");
    if (at == std::wstring::npos) continue;
    candidates.push_back(source);
    if (at != 0) product.resize(at);
    if (device.bLumeq) {
      const std::size_t end = wanted.find_last_not_of(L"twain");
      wanted.resize(end == std::wstring::npos ? 0 : end + 1);
    }
    product = Trimmed(product);
    wanted = Trimmed(wanted);
    // An empty name is in every name: it would pick whichever source comes first, perhaps
    // another device's, where the user can choose the right one.
    if (wanted.empty() || product.empty()) continue;
    if (wanted.find(product) != std::wstring::npos || product.find(wanted) != std::wstring::npos) {
      chosen = source;
      break;
    }
  }
  if (!chosen) {
    if (candidates.empty()) {
      SignalListen();
      return Unreachable(device, kNoSource);
    }
    // The user chooses: the watchdog must not take the time spent in the dialog for silence.
    SignalListen();
    std::vector<std::wstring> names;
    names.reserve(candidates.size());
    for (const TwIdentity& source : candidates)
      names.push_back(twain.AnsiToWide(source.productName));
    const std::optional<std::size_t> picked =
        m_services.chooseSource ? m_services.chooseSource(names, m_hParentWnd) : std::nullopt;
    if (!picked || *picked >= candidates.size()) {
      SignalListen();
      return Unreachable(device, kUserCancelled);
    }
    chosen = candidates[*picked];
    if (m_services.watchAgain) m_services.watchAgain();
  }

  KVD_LOG(kind::Debug, L"call OpenDataSource");
  if (!session.OpenSource(*chosen)) {
    KVD_LOG(kind::Debug, L"Failed to Open DataSource");
    m_nErrorCode = kSourceError;
    SignalListen();
    return Unreachable(device, kSourceNotOpened);
  }
  twain.SetWindowZOrder(parent, true);
  m_platform.clock.Sleep(3000);
  if (!session.EnableSource()) {
    KVD_LOG(kind::Debug, L"Failed to Scan from the selected device.");
    m_nErrorCode = kEnableError;
    session.CloseSource();
    SignalListen();
    return Unreachable(device, kNotEnabled);
  }

  KVD_LOG(kind::Debug, L"Exit Thread watcher");
  SignalListen();
  const CTwainSession::LoopEnd end = session.RunMessageLoop(kTransferLimitMs);
  if (end != CTwainSession::LoopEnd::Transferred) {
    KVD_LOG(kind::Debug, L"Failed to Scan from the selected device.");
    if (end == CTwainSession::LoopEnd::TimedOut) {
      KVD_LOG(kind::Debug, L"The data source delivered nothing in %u seconds.",
              kTransferLimitMs / 1000);
    }
    m_nErrorCode = kScanError;
    session.CloseSource();
    SignalListen();
    return Unreachable(device,
                       end == CTwainSession::LoopEnd::Cancelled ? kUserCancelled : kScanFailed);
  }

  twain.SetWindowZOrder(parent, false);
  session.CloseSource();
  KVD_LOG(kind::Debug, L"Calling CloseDSM");
  session.CloseDsm();
  KVD_LOG(kind::Info, L"Twain Scan OK");
  m_nStatus = issue::kStatusPassed;
  m_strMessage = GlobalLag.GetString(L"TWAIN_OK");
  return issue::kPassed;
}
