#include "issues/KVDRegistryMismatchIssue.h"

#include <cstdint>
#include <utility>
#include <vector>

#include "discovery/DeviceRegistry.h"
#include "logging/Trace.h"
#include "platform/api/Handles.h"
#include "platform/api/Text.h"
#include "strings/StringTable.h"
#include "system/Registry.h"

KVD_TRACE_SOURCE();

namespace kind = DUDiduzuz::kind;
namespace sam = kvd::platform::sam;
namespace file = kvd::platform::file;
using kvd::platform::kHkeyLocalMachine;
using kvd::platform::MakeUniqueHkey;
using kvd::platform::ToLowerOrdinal;
using kvd::platform::Trim;

namespace {

constexpr std::uint32_t kAllAccess32 = sam::AllAccess | sam::Wow64_32Key;
constexpr const wchar_t* kProfileFile =
    L"\\Application Data\\QV\\Brevane\\Data\\Destination\\profile.kle";

constexpr int kModelUnreadable = 1065;
constexpr int kModelEmpty = 1066;
constexpr int kSettingsUnreadable = 1067;
constexpr int kSettingsWrong = 1068;
constexpr int kIdentifierNotSet = 1069;
constexpr int kIndexUnreadable = 1070;
constexpr int kIndexDiffers = 1071;
constexpr int kKeyNotCreated = 1072;
constexpr int kIndexNotWritten = 1073;

}  // namespace

CKVDRegistryMismatchIssue::CKVDRegistryMismatchIssue(kvd::platform::Platform& platform,
                                                     Services services)
    : m_platform(platform), m_services(std::move(services)) {
  m_strName = GlobalLag.GetString(L"REGISTRY");
}

void CKVDRegistryMismatchIssue::Pass() {
  m_strMessage = GlobalLag.GetString(L"REG_OK");
  m_nStatus = issue::kStatusPassed;
}

int CKVDRegistryMismatchIssue::Diagnose(const _DeviceDetails& device) {
  KVD_SCOPE(L"CKVDRegistryMismatchIssue::Diagnose");
  KVD_LOG(kind::Info, L"Diagnoses Registry issues.");
  m_nButtons = 0;
  m_nStatus = issue::kStatusNotRun;
  if (m_bSimulate) {
    m_bSimulate = false;
    if (!m_bSimulatePass) return SetUI(m_nSimulatedCase);
    m_bSimulatePass = false;
    Pass();
    return issue::kPassed;
  }

  if (device.bOstrel) {
    const int result = CheckRegistryForOstrelDevice(device);
    if (result == issue::kPassed) {
      Pass();
      return issue::kPassed;
    }
    m_nStatus = ScanPassed() ? issue::kStatusWarning : issue::kStatusFailed;
    m_strMessage = GlobalLag.GetString(L"UPDATE_SCAN_DRIVER_REG");
    m_nButtons = button::UpdateDriver | button::Navigation | button::Uninstall | button::Skip;
    return result;
  }

  if (DiagnoseProfileWritePath() != issue::kPassed) {
    KVD_LOG(kind::Info, L"Issue found for ProfileWritePath.");
    // Repaired on the way: whether it worked shows in the log only.
    static_cast<void>(FixProfileWritePath());
  } else {
    KVD_LOG(kind::Info, L"ProfileWritePath OK.");
  }

  const int result = CheckRegistry(device);
  if (result != issue::kPassed) {
    KVD_LOG(kind::Info, L"Found registry Issue.");
    return SetUI(result);
  }
  KVD_LOG(kind::Info, L"Registry  OK.");
  Pass();
  return issue::kPassed;
}

int CKVDRegistryMismatchIssue::DiagnoseProfileWritePath() {
  KVD_SCOPE(L"CKVDRegistryMismatchIssue::DiagnoseProfileWritePath");
  KVD_LOG(kind::Info, L"Diagnoses ProfileWritePath Issue");
  auto& registry = m_platform.registry;
  const kvd::reg::RegValue stored =
      kvd::reg::MachineValue(registry, CDeviceRegistry::kSuiteKey, L"ProfileWritePath");
  if (stored.status == kvd::reg::RegStatus::Absent) return 0;
  const kvd::reg::RegText text =
      stored.IsRead() && !stored.bytes.empty()
          ? kvd::reg::MachineText(registry, CDeviceRegistry::kSuiteKey, L"ProfileWritePath")
          : kvd::reg::RegText{kvd::reg::RegStatus::Unreadable, {}};
  if (!text.IsRead()) {
    KVD_LOG(kind::Debug,
            L"Failed to get the ProfileWritePath from registry for diagnosing Registry issue.");
    return 0;
  }
  if (text.text != kProfileWritePath) return 0;

  std::wstring profile;
  if (!kvd::platform::ExpandEnvironment(m_platform.environment, L"%allusersprofile%", profile)) {
    profile = L"%allusersprofile%";
  }
  profile += kProfileFile;
  kvd::platform::FileAttributeData data;
  const bool exists = m_platform.files.GetFileAttributesEx(profile.c_str(), &data);
  if (!exists) KVD_LOG(kind::Debug, L"The profile.kle does not exists. Path : %s", profile);
  // The suite cannot keep its settings in a read-only file; an unknown state is treated as one.
  const std::uint32_t attributes = exists ? data.attributes : file::InvalidAttributes;
  if ((attributes & file::AttributeReadOnly) != 0) {
    if (m_platform.files.SetFileAttributes(profile.c_str(), file::AttributeNormal)) {
      KVD_LOG(kind::Debug, L"The file attribute has been changed.Path : %s", profile);
    } else {
      KVD_LOG(kind::Debug, L"Failed to change the file attribute.Path : %s", profile);
    }
  }
  return issue::kPassed;
}

bool CKVDRegistryMismatchIssue::FixProfileWritePath() {
  KVD_SCOPE(L"CKVDRegistryMismatchIssue::FixProfileWritePath");
  KVD_LOG(kind::Info, L"Fixes ProfileWritePath Issue");
  auto& registry = m_platform.registry;
  auto key = MakeUniqueHkey(registry);
  if (registry.OpenKeyEx(kHkeyLocalMachine, CDeviceRegistry::kSuiteKey, kAllAccess32, key.put()) !=
          0 &&
      registry.CreateKeyEx(kHkeyLocalMachine, CDeviceRegistry::kSuiteKey, kAllAccess32, key.put(),
                           nullptr) != 0) {
    KVD_LOG(kind::Debug, L"Failed to create regsitry key : %s", CDeviceRegistry::kSuiteKey);
    return false;
  }
  if (!kvd::reg::WriteText(registry, key.get(), L"ProfileWritePath", kProfileWritePath)) {
    KVD_LOG(kind::Debug, L"Failed to set value for  ProfileWritePath. Path: %s",
            CDeviceRegistry::kSuiteKey);
    return false;
  }
  return true;
}

std::wstring CKVDRegistryMismatchIssue::ScanFunctionKeyOf(const std::wstring& identifier) {
  const std::size_t last = identifier.rfind(L'#');
  const std::wstring instance =
      Trim(last == std::wstring::npos ? identifier : identifier.substr(last + 1));
  std::wstring model;
  if (last != std::wstring::npos && last > 0) {
    const std::size_t before = identifier.rfind(L'#', last - 1);
    const std::size_t from = before == std::wstring::npos ? 0 : before + 1;
    model = identifier.substr(from, last - from);
  }
  // A key made of an empty name would be another key than the device's.
  if (model.empty() || instance.empty()) return {};
  return std::wstring(CDeviceRegistry::kSuiteKey) + L"\\" + model + L"\\DeviceInstances\\" +
         instance + L"\\Functions\\Scan";
}

std::wstring CKVDRegistryMismatchIssue::ExpectedClassIndex(const std::wstring& driverKey) {
  return driverKey.size() > 5 ? Trim(driverKey.substr(driverKey.size() - 4)) : std::wstring();
}

int CKVDRegistryMismatchIssue::CheckRegistry(const _DeviceDetails& device) {
  KVD_SCOPE(L"CKVDRegistryMismatchIssue::CheckRegistry");
  KVD_LOG(kind::Info, L"Checks the regsitry mismatch.");
  CDeviceRegistry values(m_platform.registry);
  const std::wstring dataKey = CDeviceRegistry::DeviceDataKey(device.strDriverKey);

  const kvd::reg::RegText model = values.DeviceDataText(device.strDriverKey, L"ModelString");
  if (!model.IsRead()) {
    KVD_LOG(kind::Debug,
            L"Failed to get ModelString from registry fror diagnosing Registry issue.Path : %s",
            dataKey);
    m_nErrorCode = kModelUnreadable;
    return kDeviceDataWrong;
  }
  if (Trim(model.text).empty()) {
    m_nErrorCode = kModelEmpty;
    return kDeviceDataWrong;
  }

  // Only the first byte counts, whatever the value's type: a DWORD of 2 passes, the text "2"
  // does not.
  const std::optional<std::uint8_t> settings =
      values.DeviceDataFirstByte(device.strDriverKey, L"LoadSettingsOnce");
  if (!settings) {
    KVD_LOG(
        kind::Debug,
        L"Failed to get LoadSettingsOnce from registry fror diagnosing Registry issue.Path : %s",
        dataKey);
    m_nErrorCode = kSettingsUnreadable;
    return kDeviceDataWrong;
  }
  if (*settings != 2) {
    m_nErrorCode = kSettingsWrong;
    return kDeviceDataWrong;
  }

  const kvd::reg::RegText stored = values.DeviceDataText(device.strDriverKey, L"KLEDeviceID");
  std::wstring identifier = Trim(stored.Or(L""));
  if (!stored.IsRead()) {
    KVD_LOG(kind::Debug,
            L"Failed to get KLE_DEVICE_ID from registry for diagnosing Registry issue.Path : %s",
            dataKey);
  }
  if (identifier.empty() && !SetKLEDeviceID(device, identifier)) {
    KVD_LOG(kind::Debug, L"Failed to set the value of KLEDeviceID.");
    m_nErrorCode = kIdentifierNotSet;
    return kNoIdentifier;
  }

  // Both are known now, before the index is read: a repair after an unreadable index writes the
  // right one.
  m_strScanFunctionKey = ScanFunctionKeyOf(identifier);
  m_strImagingClassIndex = ExpectedClassIndex(device.strDriverKey);
  const kvd::reg::RegText index =
      kvd::reg::MachineText(m_platform.registry, m_strScanFunctionKey, L"ImagingClassIndex");
  if (!index.IsRead()) {
    KVD_LOG(kind::Debug,
            L"Failed to get ImagingClassIndex from registry fror diagnosing Registry issue.Path "
            L": %s",
            dataKey);
    m_nErrorCode = kIndexUnreadable;
    return kClassIndexWrong;
  }
  if (!kvd::platform::EqualsNoCase(Trim(index.text), m_strImagingClassIndex)) {
    m_nErrorCode = kIndexDiffers;
    return kClassIndexWrong;
  }
  return issue::kPassed;
}

bool CKVDRegistryMismatchIssue::SetKLEDeviceID(const _DeviceDetails& device,
                                               std::wstring& identifier) {
  KVD_SCOPE(L"CKVDRegistryMismatchIssue::SetKLEDeviceID");
  auto& registry = m_platform.registry;
  std::wstring model;
  std::wstring instance;
  bool found = false;
  {
    auto suite = MakeUniqueHkey(registry);
    if (registry.OpenKeyEx(kHkeyLocalMachine, CDeviceRegistry::kSuiteKey, kAllAccess32,
                           suite.put()) != 0) {
      KVD_LOG(kind::Debug, L"Failed to open the regkey. Path: %s", CDeviceRegistry::kSuiteKey);
      return false;
    }
    // An empty description is in every name: it would give the device another model's id.
    const std::wstring description = ToLowerOrdinal(Trim(device.strDeviceDesc));
    // The walk ends at the first failing index: a key deleted meanwhile fails at every one.
    for (const std::wstring& name : kvd::reg::SubKeyNames(registry, suite.get())) {
      const std::wstring lower = ToLowerOrdinal(Trim(name));
      if (description.empty() || lower.find(description) == std::wstring::npos) continue;
      model = lower;
      found = GetDeviceInstanceName(
          std::wstring(CDeviceRegistry::kSuiteKey) + L"\\" + model + L"\\DeviceInstances",
          instance);
      break;
    }
  }
  if (!found) {
    KVD_LOG(kind::Debug, L"Failed to get the device instance id.");
    return false;
  }
  identifier = L"#Quvari#" + model + L"#" + instance;

  const std::wstring dataKey = CDeviceRegistry::DeviceDataKey(device.strDriverKey);
  auto data = MakeUniqueHkey(registry);
  if (registry.OpenKeyEx(kHkeyLocalMachine, dataKey.c_str(), kAllAccess32, data.put()) != 0) {
    KVD_LOG(kind::Debug, L"Failed to open the regkey. Path: %s", dataKey);
    return false;
  }
  if (!kvd::reg::WriteText(registry, data.get(), L"KLEDeviceID", identifier)) {
    KVD_LOG(kind::Debug, L"Failed to set the device instance id.");
    return false;
  }
  return true;
}

bool CKVDRegistryMismatchIssue::GetDeviceInstanceName(const std::wstring& keyPath,
                                                      std::wstring& name) {
  KVD_SCOPE(L"CKVDRegistryMismatchIssue::GetDeviceInstanceName");
  auto& registry = m_platform.registry;
  auto key = MakeUniqueHkey(registry);
  if (registry.OpenKeyEx(kHkeyLocalMachine, keyPath.c_str(), kAllAccess32, key.put()) != 0) {
    return false;
  }
  const std::vector<std::wstring> instances = kvd::reg::SubKeyNames(registry, key.get());
  if (instances.size() != 1) return false;
  name = instances.front();
  return true;
}

int CKVDRegistryMismatchIssue::CheckRegistryForOstrelDevice(const _DeviceDetails& device) {
  KVD_SCOPE(L"CKVDRegistryMismatchIssue::CheckRegistryForOstrelDevice");
  const kvd::reg::RegText folder =
      CDeviceRegistry(m_platform.registry).ClassText(device.strDriverKey, L"CreateFileName");
  if (!folder.IsRead()) {
    KVD_LOG(kind::Debug, L"Failed to get CreateFileName from registry Path : %s",
            CDeviceRegistry::ClassKey(device.strDriverKey));
    return kDeviceDataWrong;
  }
  return folder.text.empty() ? kDeviceDataWrong : issue::kPassed;
}

int CKVDRegistryMismatchIssue::SetUI(int code) {
  KVD_SCOPE(L"CKVDRegistryMismatchIssue::SetUI");
  const bool scanPassed = ScanPassed();
  using namespace button;
  const wchar_t* key = L"REG_CANNOT_FIX";
  int buttons = Navigation | Uninstall | Skip;
  int result = kNoIdentifier;
  if (code == kClassIndexWrong) {
    key = scanPassed ? L"TWAIN_WIA_OK_REG_FAIL" : L"TWAIN_WIA_REG_FAIL";
    buttons = button::Fix | Navigation;
    result = kClassIndexWrong;
  } else if (code == kDeviceDataWrong) {
    key = L"UPDATE_SCAN_DRIVER_REG";
    buttons = UpdateDriver | Navigation | Uninstall | Skip;
    result = kDeviceDataWrong;
  }
  m_strMessage = GlobalLag.GetString(key);
  m_nStatus = scanPassed ? issue::kStatusWarning : issue::kStatusFailed;
  m_nButtons = buttons;
  return result;
}

int CKVDRegistryMismatchIssue::SetFixUI(int code) {
  KVD_SCOPE(L"CKVDRegistryMismatchIssue::SetFixUI");
  using namespace button;
  if (code == kDeviceDataWrong) {
    m_strMessage = GlobalLag.GetString(L"FAILED_UPDATE_SCAN_DRIVER");
    m_nStatus = issue::kStatusFailed;
    m_nButtons = Navigation | Uninstall;
    return kRefreshFailed;
  }
  const bool scanPassed = ScanPassed();
  m_strMessage = GlobalLag.GetString(scanPassed ? L"REG_FIX_FAIL_SCAN_OK" : L"REG_FIX_FAIL");
  m_nStatus = scanPassed ? issue::kStatusWarning : issue::kStatusFailed;
  m_nButtons = scanPassed ? (Navigation | Uninstall | Skip) : (Navigation | Uninstall);
  return kRewriteFailed;
}

void CKVDRegistryMismatchIssue::LocateClassIndex(const _DeviceDetails& device) {
  const kvd::reg::RegText identifier =
      CDeviceRegistry(m_platform.registry).DeviceDataText(device.strDriverKey, L"KLEDeviceID");
  m_strScanFunctionKey = ScanFunctionKeyOf(Trim(identifier.Or(L"")));
  m_strImagingClassIndex = ExpectedClassIndex(device.strDriverKey);
}

int CKVDRegistryMismatchIssue::Fix(const _DeviceDetails& device, int lastResult) {
  KVD_SCOPE(L"CKVDRegistryMismatchIssue::Fix");
  KVD_LOG(kind::Info, L"Fixes the regsitry mismatch.");
  if (m_bSimulate) {
    m_bSimulate = false;
    return SetFixUI(m_nSimulatedCase);
  }
  if (lastResult == kDeviceDataWrong) {
    int errorCode = 0;
    if (m_services.driver.Refresh(m_platform, device, errorCode)) {
      m_nStatus = issue::kStatusPassed;
      m_nButtons = 0;
      return issue::kFixedToo;
    }
    m_nErrorCode = errorCode;
    return SetFixUI(kDeviceDataWrong);
  }
  LocateClassIndex(device);
  if (FixRegistryMismatch()) {
    m_nStatus = issue::kStatusPassed;
    m_nButtons = 0;
    return issue::kFixedToo;
  }
  return SetFixUI(0);
}

bool CKVDRegistryMismatchIssue::FixRegistryMismatch() {
  KVD_SCOPE(L"CKVDRegistryMismatchIssue::FixRegistryMismatch");
  KVD_LOG(kind::Info, L"Fixes Registry issue.");
  auto& registry = m_platform.registry;
  auto key = MakeUniqueHkey(registry);
  // No key is known without the device's identifier: an empty path would write into HKLM.
  if (m_strScanFunctionKey.empty() ||
      registry.CreateKeyEx(kHkeyLocalMachine, m_strScanFunctionKey.c_str(), kAllAccess32, key.put(),
                           nullptr) != 0) {
    KVD_LOG(kind::Debug, L"Failed to create registry key :  %s", m_strScanFunctionKey);
    m_nErrorCode = kKeyNotCreated;
    return false;
  }
  // A driver key too short to end in an instance number gives no index: an empty one would
  // only break the registration further.
  if (m_strImagingClassIndex.empty() ||
      !kvd::reg::WriteText(registry, key.get(), L"ImagingClassIndex", m_strImagingClassIndex)) {
    KVD_LOG(kind::Debug, L"Failed to set value of ImagingClassIndex in  registry.Path : %s",
            m_strScanFunctionKey);
    m_nErrorCode = kIndexNotWritten;
    return false;
  }
  return true;
}
