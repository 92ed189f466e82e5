#include "issues/KVDTabborIssue.h"

#include <exception>
#include <utility>

#include "discovery/DeviceRegistry.h"
#include "logging/Trace.h"
#include "platform/api/Handles.h"
#include "platform/api/Text.h"
#include "strings/StringTable.h"
#include "system/Helper.h"
#include "system/Registry.h"

KVD_TRACE_SOURCE();

namespace kind = DUDiduzuz::kind;
namespace hr = kvd::platform::hr;
using kvd::platform::Guid;
using kvd::platform::Trim;

namespace {

constexpr Guid kDestinationServer = {
    0xB3E91A27, 0x5C40, 0x4F6D, {0x9A, 0x18, 0x7E, 0x2C, 0x05, 0xD4, 0xF9, 0x61}};
constexpr Guid kServerInterface = {
    0x4A7F2C90, 0xE1B3, 0x4D58, {0x8C, 0x6E, 0x91, 0xF0, 0xA3, 0xB5, 0xD2, 0x74}};
constexpr Guid kConfigurationInterface = {
    0x3E0D042F, 0xE24E, 0x4A03, {0x85, 0xC1, 0xDA, 0x91, 0x9F, 0x97, 0xC9, 0xB3}};
constexpr Guid kDestinationInterface = {
    0xC8D05E14, 0x3B7A, 0x4E92, {0xB5, 0xF1, 0x2A, 0x69, 0xD0, 0xE7, 0xC3, 0xA8}};
// The operations by slot.
constexpr unsigned kServerList = 7;
constexpr unsigned kServerConfiguration = 9;
constexpr unsigned kListItem = 7;
constexpr unsigned kListCount = 8;
constexpr unsigned kDestinationDescription = 8;

constexpr int kAmbrellTwainMissing = 1074;
constexpr int kAmbrellScanMissing = 1075;
constexpr int kTovrinMissing = 1076;
constexpr int kTabborMissing = 1077;
constexpr int kFluxrailMissing = 1078;
constexpr int kCorvidMissing = 1079;
constexpr int kNoIdentifier = 1080;

}  // namespace

CKVDTabborIssue::CKVDTabborIssue(kvd::platform::Platform& platform, Services services)
    : m_platform(platform), m_services(std::move(services)) {
  m_strName = GlobalLag.GetString(L"QVSCANFLOW");
}

int CKVDTabborIssue::Fix(const _DeviceDetails&, int) {
  KVD_SCOPE(L"CKVDTabborIssue::Fix");
  return issue::kFixed;
}

std::wstring CKVDTabborIssue::ScanCommandLine(const std::wstring& identifier) {
  return L" -n  \"" + identifier + L"\" -a  SCAN -f  SCAN_DOCUMENT";
}

std::wstring CKVDTabborIssue::ButtonSettingsCommandLine(const std::wstring& identifier) {
  return L" -n  \"" + identifier + L"\" -a SETTINGS -f SCAN_BUTTON -b SCAN_TO";
}

int CKVDTabborIssue::Diagnose(const _DeviceDetails& device) {
  KVD_SCOPE(L"CKVDTabborIssue::Diagnose");
  KVD_LOG(kind::Info, L"Diagnoses Tabbor Issue.");
  m_nStatus = issue::kStatusNotRun;
  m_nButtons = 0;
  // The tests, in the scope of this record: each problem ends them with its code.
  const auto test = [&]() -> int {
    WriteDestinationLog();
    const bool twainPassed = m_services.twainPassed && m_services.twainPassed();
    if (!twainPassed) {
      if (!IsComponentPresent(kAmbrellTwain, false)) {
        KVD_LOG(kind::Debug, L"Ambrell.twain not present.");
        m_nErrorCode = kAmbrellTwainMissing;
        return 0;
      }
      if (!IsComponentPresent(kAmbrellScan, false)) {
        KVD_LOG(kind::Debug, L"Ambrell.scan not present.");
        m_nErrorCode = kAmbrellScanMissing;
        return 0;
      }
      if (!IsComponentPresent(kTovrin, true) && !IsComponentPresent(kTovrinSecond, true)) {
        KVD_LOG(kind::Debug, L"Tovrin not present.");
        m_nErrorCode = kTovrinMissing;
        return 0;
      }
    }

    // Without the suite's folder nothing of it is installed: no path is made from nothing.
    std::wstring bin;
    if (CUtil(m_platform).GetBrevaneBinFolder(bin)) bin = Trim(bin) + L"\\";
    const auto present = [&](const wchar_t* name) {
      return !bin.empty() && kvd::platform::PathFileExists(m_platform.files, bin + name);
    };
    if (!present(L"qvtabbor.exe")) {
      KVD_LOG(kind::Error, L"Tabbor exe path not found.%s", bin + L"qvtabbor.exe");
      m_nErrorCode = kTabborMissing;
      return 0;
    }
    if (!present(L"qvfluxex.dll") && !present(L"qvflux.dll")) {
      KVD_LOG(kind::Error, L"Fluxrail not found.%s", bin + L"qvfluxex.dll");
      m_nErrorCode = kFluxrailMissing;
      return 0;
    }
    if (!present(L"qvcorvid.dll") && !present(L"qvOldFlow.wcf")) {
      KVD_LOG(kind::Error, L"Corvid not found.%s", bin + L"qvOldFlow.wcf");
      m_nErrorCode = kCorvidMissing;
      return 0;
    }

    const kvd::reg::RegText identifier =
        CDeviceRegistry(m_platform.registry).DeviceDataText(device.strDriverKey, L"KLEDeviceID");
    if (!identifier.IsRead()) {
      KVD_LOG(kind::Debug,
              L"Failed to get the KLE_DEVICE_ID from regsitry for run the Tabbor exe. Path : %s",
              CDeviceRegistry::DeviceDataKey(device.strDriverKey));
      m_nErrorCode = kNoIdentifier;
      return 0;
    }
    if (Trim(identifier.text).empty()) {
      m_nErrorCode = kNoIdentifier;
      return 0;
    }
    return issue::kPassed;
  };
  int result = 0;
  if (m_bSimulate) {
    m_bSimulate = false;
    m_bSimulatePass = false;
    result = m_nSimulatedCase;
  } else {
    try {
      result = test();
    } catch (const std::exception&) {
      m_nErrorCode = kNoIdentifier;
      KVD_LOG(kind::Debug, L"Tabbor failed .");
    }
  }
  if (result == issue::kPassed) {
    KVD_LOG(kind::Info, L"Tabbor OK.");
    m_strMessage = GlobalLag.GetString(L"SCAN_FLOW_OK");
    m_nStatus = issue::kStatusPassed;
  } else {
    SetUI(device);
  }
  return result;
}

void CKVDTabborIssue::SetUI(const _DeviceDetails& device) {
  KVD_SCOPE(L"CKVDTabborIssue::SetUI");
  using namespace button;
  constexpr int kWarning = Skip | Restart | Help | Navigation;  // 90
  constexpr int kFailure = Uninstall | Navigation;              // 96
  const bool wiaPassed = m_services.wiaPassed && m_services.wiaPassed();
  const bool twainPassed = m_services.twainPassed && m_services.twainPassed();
  bool warning = wiaPassed;
  const wchar_t* key = nullptr;
  if (CUtil(m_platform).IsWin7UpgradeIssueExists()) {
    key = L"TABBOR_WIN7_UPGRADE_ISSUE";
    warning = wiaPassed || twainPassed;
  } else if (device.bTarvel) {
    key = wiaPassed ? L"SCAN_FLOW_NOT_FOUND_WIA_OK_TARVEL" : L"SCAN_FLOW_NOT_FOUND_WIA_FAIL_TARVEL";
  } else {
    key = wiaPassed ? L"SCAN_FLOW_NOT_FOUND_WIA_OK" : L"SCAN_FLOW_NOT_FOUND_WIA_FAIL";
  }
  m_strMessage = GlobalLag.GetString(key);
  m_nStatus = warning ? issue::kStatusWarning : issue::kStatusFailed;
  m_nButtons = warning ? kWarning : kFailure;
}

bool CKVDTabborIssue::IsComponentPresent(const std::wstring& classId, bool inProcess) {
  KVD_SCOPE(L"CKVDTabborIssue::IsComponentPresent");
  const std::wstring key = L"SOFTWARE\\Classes\\CLSID\\" + classId;
  auto& registry = m_platform.registry;
  const auto server = [&](const wchar_t* sub,
                          const wchar_t* failure) -> std::optional<std::wstring> {
    const std::wstring path = key + sub;
    const kvd::reg::RegText value = kvd::reg::MachineText(registry, path, kvd::reg::kDefaultValue);
    if (!value.IsRead()) {
      KVD_LOG_TEXT(kind::Debug, std::wstring(failure) + path);
      return std::nullopt;
    }
    return Trim(value.text);
  };
  std::optional<std::wstring> file;
  if (inProcess) {
    file = server(L"\\InprocServer32", L"Failed to get the InprocServer32 . Path : ");
  } else {
    const auto handler =
        server(L"\\InprocHandler32", L"Failed to get the InprocHandler32 . Path : ");
    if (!handler || handler->empty()) return false;
    file = server(L"\\LocalServer32", L"Failed to get the LocalServer32 . Path : ");
  }
  if (!file) return false;
  if (kvd::platform::PathFileExists(m_platform.files, *file)) return true;
  KVD_LOG(kind::Debug, L"File not exists . Path : %s", *file);
  return false;
}

void CKVDTabborIssue::WriteDestinationLog() {
  KVD_SCOPE(L"CKVDTabborIssue::WriteDestinationLog");
  auto& com = m_platform.com;
  const bool initialised = hr::Succeeded(com.CoInitialize());
  {
    // Every reference is given back once, on every way out, before COM is left.
    auto server = kvd::platform::MakeUniqueComObject(com);
    auto list = kvd::platform::MakeUniqueComObject(com);
    auto object = kvd::platform::MakeUniqueComObject(com);
    auto configuration = kvd::platform::MakeUniqueComObject(com);
    if (!hr::Succeeded(com.CreateInstance(kDestinationServer, kvd::platform::clsctx::Server,
                                          kServerInterface, server.put()))) {
      KVD_LOG(kind::Debug, L"Destination Server (Component) initialization FAILED");
    } else if (!hr::Succeeded(com.CallForObject(server.get(), kServerList, list.put()))) {
      KVD_LOG(kind::Debug, L"Failed while getting destination list.");
    } else {
      std::int32_t count = 0;
      if (!hr::Succeeded(com.CallForNumber(list.get(), kListCount, &count))) {
        KVD_LOG(kind::Debug, L"Failed while getting destination count.");
      } else if (!hr::Succeeded(
                     com.CallForObject(server.get(), kServerConfiguration, object.put())) ||
                 !hr::Succeeded(com.QueryInterface(object.get(), kConfigurationInterface,
                                                   configuration.put()))) {
        KVD_LOG(kind::Debug, L"Failed while getting the destination configuration.");
      } else {
        for (std::int32_t index = 0; index < count; ++index) {
          auto item = kvd::platform::MakeUniqueComObject(com);
          auto destination = kvd::platform::MakeUniqueComObject(com);
          if (!hr::Succeeded(com.CallForItem(list.get(), kListItem, index, item.put()))) {
            KVD_LOG(kind::Debug, L"Failed while getting destination count.");
            break;
          }
          if (!hr::Succeeded(
                  com.QueryInterface(item.get(), kDestinationInterface, destination.put()))) {
            KVD_LOG(kind::Debug, L"Failed while looking for item ");
            break;
          }
          item.reset();
          std::wstring description;
          if (!hr::Succeeded(
                  com.CallForText(destination.get(), kDestinationDescription, &description))) {
            KVD_LOG(kind::Debug, L"Failed while looking for description ");
            break;
          }
          KVD_LOG_TEXT(kind::Info, L"The scan destination Found : " + description);
        }
      }
    }
  }
  if (initialised) com.CoUninitialize();
}
