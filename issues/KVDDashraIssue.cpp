#include "issues/KVDDashraIssue.h"

#include <cstdint>
#include <utility>
#include <vector>

#include "discovery/DeviceRegistry.h"
#include "logging/Trace.h"
#include "platform/api/Handles.h"
#include "platform/api/Text.h"
#include "strings/StringTable.h"
#include "system/Helper.h"
#include "system/Registry.h"

KVD_TRACE_SOURCE();

namespace kind = DUDiduzuz::kind;
using kvd::platform::PathFileExists;

namespace {

constexpr int kTabletPatch = 112;
constexpr int kDestinationPatch = 113;
constexpr int kHubMissing = 1049;
constexpr int kFunctionsMissing = 1050;
constexpr int kTabletPatchCode = 1051;
constexpr int kDestinationPatchCode = 1052;
constexpr int kPatchButtons = button::Patch | button::Skip | button::Navigation;  // 194
constexpr int kMissingButtons = button::Skip | button::Navigation;                // 66

constexpr const wchar_t* kHub = L"qvhub.exe";
constexpr const wchar_t* kFunctions = L"qvfuncs.dll";
constexpr const wchar_t* kDashra = L"qvdashra.exe";
constexpr const wchar_t* kUninstallKey = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall";

// Builds of the hub before these times need the tablet patch on Vista (seconds since 1970, UTC).
constexpr std::int64_t kMajor8Fixed = 1202419355;  // 2008-02-07 21:22:35
constexpr std::int64_t kMajor9Fixed = 1201548826;  // 2008-01-28 19:33:46

// A file's last write as seconds since 1970-01-01 UTC; 0 when it cannot be had.
std::int64_t LastWriteSeconds(kvd::platform::IFileSystem& files, const std::wstring& path) {
  constexpr std::uint64_t kUnixEpoch = 116444736000000000ULL;  // 1970 in 100 ns since 1601
  kvd::platform::FileAttributeData data;
  if (!files.GetFileAttributesEx(path.c_str(), &data) || data.lastWriteTime < kUnixEpoch) return 0;
  return static_cast<std::int64_t>((data.lastWriteTime - kUnixEpoch) / 10000000ULL);
}

}  // namespace

CKVDDashraIssue::CKVDDashraIssue(kvd::platform::Platform& platform, Services services)
    : m_platform(platform), m_services(std::move(services)) {
  m_strName = GlobalLag.GetString(L"DASHRA");
}

int CKVDDashraIssue::Fix(const _DeviceDetails&, int) { return issue::kFixed; }

std::wstring CKVDDashraIssue::BinariesFolder() {
  KVD_SCOPE(L"CKVDDashraIssue::BinariesFolder");
  kvd::platform::IRegistry& registry = m_platform.registry;
  const wchar_t* key = CDeviceRegistry::kSuiteKey;
  const auto discover = [&] {
    std::wstring path;
    GetDashraInstallPath(path);
    KVD_LOG(kind::Debug, L"GetDashraInstallPath : %s", path.c_str());
    return path;
  };
  const auto notRead = [&] {
    KVD_LOG(kind::Debug,
            L"Failed to get Install folder from registry for diagnosing Dashra issue.Path : %s",
            key);
  };
  // The suite's own folder holds Brevane; the other two name the Brevane folder itself.
  std::wstring folder;
  bool suiteFolder = false;
  const kvd::reg::RegText installFolder = kvd::reg::MachineText(registry, key, L"InstallFolder");
  if (installFolder.IsRead()) {
    folder = installFolder.text;
    suiteFolder = true;
  } else if (installFolder.status == kvd::reg::RegStatus::Unreadable) {
    notRead();
    folder = discover();
  } else {
    notRead();
    const kvd::reg::RegText installDir = kvd::reg::MachineText(registry, key, L"InstallDir");
    if (installDir.IsRead()) {
      folder = installDir.text;
    } else if (installDir.status == kvd::reg::RegStatus::Unreadable) {
      notRead();
      folder = discover();
    } else {
      KVD_LOG(kind::Debug,
              L"Failed to get InstallDir from registry for diagnosing Dashra issue.Path : %s", key);
      folder = discover();
    }
  }
  return kvd::platform::WithoutTrailingBackslashes(folder) +
         (suiteFolder ? L"\\Brevane\\bin\\" : L"\\bin\\");
}

int CKVDDashraIssue::PatchNeeded(const std::wstring& bin) {
  kvd::platform::IProcess& process = m_platform.process;
  const std::wstring dashra = bin + kDashra;
  if (PathFileExists(m_platform.files, dashra)) {
    const auto version = kvd::platform::ReadFileVersion(process, dashra);
    if (version && ((*version)[0] == 8 || (*version)[0] == 9) && g_bVista.load()) {
      const std::int64_t written = LastWriteSeconds(m_platform.files, dashra);
      if (((*version)[0] == 8 && written < kMajor8Fixed) ||
          ((*version)[0] == 9 && written < kMajor9Fixed)) {
        m_nErrorCode = kTabletPatchCode;
        return kTabletPatch;
      }
    }
  }
  const auto hub = kvd::platform::ReadFileVersion(process, bin + kHub);
  if (hub && ((*hub)[0] == 130 || (*hub)[0] == 13)) {
    const kvd::reg::RegText product =
        kvd::reg::MachineText(m_platform.registry, kProductKey, L"Version");
    if (!product.IsRead() || kvd::platform::EqualsNoCase(product.text, L"130.0.0.0")) {
      m_nErrorCode = kDestinationPatchCode;
      return kDestinationPatch;
    }
  }
  return issue::kPassed;
}

int CKVDDashraIssue::Diagnose(const _DeviceDetails& device) {
  KVD_SCOPE(L"CKVDDashraIssue::Diagnose");
  KVD_LOG(kind::Info, L"Diagnoses Dashra issue.");
  m_nStatus = issue::kStatusNotRun;
  m_nButtons = 0;
  if (m_services.dashraPresent) m_services.dashraPresent(true);
  int result = 0;
  bool incomplete = false;
  if (m_bSimulate) {
    m_bSimulate = false;
    m_bSimulatePass = false;
    result = m_nSimulatedCase;
    incomplete = result < 0;
  } else {
    const std::wstring bin = BinariesFolder();
    if (!PathFileExists(m_platform.files, bin + kHub)) {
      KVD_LOG(kind::Info, L"Dashra exe not found: %s", (bin + kHub).c_str());
      if (m_services.dashraPresent) m_services.dashraPresent(false);
      m_nErrorCode = kHubMissing;
    } else if (!device.bTarvel && !PathFileExists(m_platform.files, bin + kFunctions)) {
      KVD_LOG(kind::Info, L"Brevane Functions dll not found: %s", (bin + kFunctions).c_str());
      incomplete = true;
      m_nErrorCode = kFunctionsMissing;
    } else {
      result = PatchNeeded(bin);
    }
  }
  if (const wchar_t* record = SetOutcome(result, incomplete)) KVD_LOG(kind::Info, L"%s", record);
  return result;
}

const wchar_t* CKVDDashraIssue::SetOutcome(int result, bool incomplete) {
  // Each run decides which patch the Patch button opens: an earlier run's need may be met now.
  if (m_services.destPatchNeeded) m_services.destPatchNeeded(result == kDestinationPatch);
  switch (result) {
    case issue::kPassed:
      m_strMessage = GlobalLag.GetString(m_bPathRepaired ? L"DASHRA_FIXED" : L"DASHRA_OK");
      m_bPathRepaired = false;
      m_nStatus = issue::kStatusPassed;
      return L"DASHRA OK";
    case kTabletPatch:
      m_strMessage = GlobalLag.GetString(L"DASHRA_APPLY_PATCH");
      m_nStatus = issue::kStatusFailed;
      m_nButtons = kPatchButtons;
      return L"Need to install tarvel_vista_tablet_patch";
    case kDestinationPatch:
      m_strMessage = GlobalLag.GetString(L"DASHRA_DEST_PATCH");
      m_nStatus = issue::kStatusWarning;
      m_nButtons = kPatchButtons;
      return L"Need to install destination patch";
    default:
      m_strMessage = GlobalLag.GetString(incomplete ? L"DASHRA_INCOMPLETE" : L"DASHRA_NOT_FOUND");
      m_nStatus = issue::kStatusFailed;
      m_nButtons = kMissingButtons;
      return nullptr;
  }
}

bool CKVDDashraIssue::GetDashraInstallPath(std::wstring& path) {
  KVD_SCOPE(L"CKVDDashraIssue::GetDashraInstallPath");
  namespace sam = kvd::platform::sam;
  kvd::platform::IRegistry& registry = m_platform.registry;
  path.clear();
  std::wstring uninstall;
  {
    auto key = kvd::platform::MakeUniqueHkey(registry);
    if (registry.OpenKeyEx(kvd::platform::kHkeyLocalMachine, kUninstallKey,
                           sam::AllAccess | kvd::reg::kView32, key.put()) != 0) {
      return false;
    }
    bool found = false;
    for (const std::wstring& name : kvd::reg::SubKeyNames(registry, key.get())) {
      const std::wstring entry = std::wstring(kUninstallKey) + L"\\" + name;
      const std::wstring display = kvd::reg::MachineText(registry, entry, L"DisplayName").Or(L"");
      if (kvd::platform::ToLowerOrdinal(kvd::platform::Trim(display)).find(L"qv dashra") ==
          std::wstring::npos) {
        continue;
      }
      const kvd::reg::RegText command = kvd::reg::MachineText(registry, entry, L"UninstallString");
      found = command.IsRead();
      uninstall = command.text;
      break;
    }
    if (!found) return false;
  }

  // The Brevane folder is where the uninstaller's path passes through it.
  std::size_t start = 0;
  std::size_t end = std::wstring::npos;
  for (;;) {
    const std::size_t slash = uninstall.find(L'\\', start);
    const std::wstring_view piece = std::wstring_view(uninstall).substr(
        start, slash == std::wstring::npos ? slash : slash - start);
    if (kvd::platform::EqualsNoCase(kvd::platform::Trim(piece), L"Brevane")) {
      end = slash;
      break;
    }
    if (slash == std::wstring::npos) return false;
    start = slash + 1;
  }
  path = uninstall.substr(0, end);
  const std::size_t last = path.rfind(L'\\');
  const std::wstring parent = last == std::wstring::npos ? std::wstring() : path.substr(0, last);

  const wchar_t* suite = CDeviceRegistry::kSuiteKey;
  auto key = kvd::platform::MakeUniqueHkey(registry);
  if (registry.CreateKeyEx(kvd::platform::kHkeyLocalMachine, suite,
                           sam::AllAccess | kvd::reg::kView32, key.put(), nullptr) != 0) {
    KVD_LOG(kind::Debug, L"Failed to create registry key :  %s", suite);
    return true;
  }
  if (!kvd::reg::WriteText(registry, key.get(), L"InstallDir", path) ||
      !kvd::reg::WriteText(registry, key.get(), L"InstallFolder", parent)) {
    KVD_LOG(kind::Debug, L"Failed to set value of ImagingClassIndex from registry.Path : %s",
            suite);
    return true;
  }
  // Only values really put back are reported as repaired.
  m_bPathRepaired = true;
  return true;
}
