#include "system/Helper.h"

#include <algorithm>
#include <array>
#include <cwctype>

#include "discovery/DeviceRegistry.h"
#include "logging/Trace.h"
#include "platform/api/Handles.h"
#include "platform/api/Text.h"
#include "strings/StringTable.h"
#include "system/Registry.h"

KVD_TRACE_SOURCE();

std::atomic<bool> g_bVista{false};
std::atomic<bool> g_bWin7{false};
std::atomic<kvd::platform::SyncHandle> g_hListenEvent{0};

void SignalListenEvent(kvd::platform::ISync& sync) {
  const kvd::platform::SyncHandle listen = g_hListenEvent.load();
  if (listen != 0) sync.SetEvent(listen);
}
std::atomic<kvd::platform::WindowHandle> g_hWatchTarget{0};

namespace {

using namespace kvd::platform;
using kvd::reg::MachineText;
using kvd::reg::MachineValue;
using kvd::reg::RegText;
using kvd::reg::RegValue;
namespace kind = DUDiduzuz::kind;

constexpr std::uint32_t kErrorNoneMapped = 1332;
constexpr std::uint32_t kSeGroupEnabled = 0x4;
constexpr std::uint32_t kSeGroupUseForDenyOnly = 0x10;

std::wstring Lower(std::wstring_view text) { return ToLowerOrdinal(text); }

// The C run-time's _wtoi: leading blanks, a sign, digits; 0 when there are none.
int ToInt(std::wstring_view text) {
  std::size_t at = 0;
  while (at < text.size() && (text[at] == L' ' || text[at] == L'\t')) ++at;
  bool negative = false;
  if (at < text.size() && (text[at] == L'-' || text[at] == L'+')) negative = text[at++] == L'-';
  long long value = 0;
  for (; at < text.size() && text[at] >= L'0' && text[at] <= L'9'; ++at) {
    value = std::min<long long>(value * 10 + (text[at] - L'0'), 0x7FFFFFFF);
  }
  return static_cast<int>(negative ? -value : value);
}

}  // namespace

bool CUtil::ReadRegistryValue(const std::wstring& keyPath, const std::wstring& valueName,
                              std::uint32_t* type, std::uint8_t* buffer, std::uint32_t* size) {
  KVD_SCOPE(L"CUtil::ReadRegistryValue");
  if (keyPath.empty() || valueName.empty()) return false;
  const RegValue value = MachineValue(m_platform.registry, keyPath, valueName);
  if (!value.IsRead()) return false;
  if (type != nullptr) *type = value.type;
  const auto needed = static_cast<std::uint32_t>(value.bytes.size());
  if (buffer == nullptr) {
    if (size != nullptr) *size = needed;
    return true;
  }
  if (size == nullptr) return false;
  const bool fits = *size >= needed;
  if (fits) std::copy(value.bytes.begin(), value.bytes.end(), buffer);
  *size = needed;
  return fits;
}

bool CUtil::GetOSName(std::wstring& name) {
  KVD_SCOPE(L"CUtil::GetOSName");
  OsVersionInfo version;
  if (!m_platform.system.GetVersionEx(&version) || version.platformId != os::PlatformWin32Nt) {
    return false;
  }
  const bool wow64 = IsWow64();
  const bool workstation = version.productType == os::NtWorkstation;
  const std::wstring& csd = version.csdVersion;
  const auto v = std::pair(version.majorVersion, version.minorVersion);
  if (v == std::pair(6u, 1u)) {
    if (workstation) {
      name = wow64 ? L"Windows 7 x64 " + csd : L"Windows 7 " + std::wstring(L" (32 bit)") + csd;
      g_bWin7 = true;
    } else {
      name = (wow64 ? L"Windows Server 2008 R2 x64 " : L"Windows Server 2008 R2 ") + csd;
    }
  } else if (v == std::pair(6u, 0u)) {
    if (workstation) {
      name = wow64 ? L"Windows Vista x64 " + csd
                   : L"Windows Vista  " + std::wstring(L" (32 bit)") + csd;
      g_bVista = true;
    } else {
      name = (wow64 ? L"Windows Server 2008 x64 " : L"Windows Server 2008 ") + csd;
    }
  } else if (v == std::pair(5u, 1u)) {
    name = L"Windows XP " + csd + (wow64 ? L" (64 bit)" : L" (32 bit)");
  } else if (v == std::pair(5u, 2u)) {
    if (!workstation) {
      name = L"Windows Server 2003 " + csd;
    } else if (wow64) {
      name = L"Windows XP x64 " + csd;
    } else if (m_platform.system.GetSystemMetrics(os::SmServerR2) != 0) {
      name = L"Microsoft Windows Server 2003 R2 " + csd;
    } else {
      name = csd;
    }
  }
  return true;
}

bool CUtil::IsOSSupported() {
  KVD_SCOPE(L"CUtil::IsOSSupported");
  return m_platform.system.VerifyVersionAtLeast(5, 1, 0, 0);
}

bool CUtil::IsVistaOrLater() {
  KVD_SCOPE(L"CUtil::IsVistaOrLater");
  return m_platform.system.VerifyVersionAtLeast(6, 0, 0, 0);
}

bool CUtil::IsWow64() {
  KVD_SCOPE(L"CUtil::IsWow64");
  bool wow64 = false;
  return m_platform.system.IsWow64Process(&wow64) && wow64;
}

bool CUtil::IsAdmin() {
  KVD_SCOPE(L"CUtil::IsAdmin");
  std::vector<TokenGroup> groups;
  if (!m_platform.security.GetProcessTokenGroups(&groups)) return false;
  for (const TokenGroup& group : groups) {
    if (group.sid != AdministratorsSid()) continue;
    // A filtered token (an administrator without elevation) carries the group for deny only:
    // it grants nothing, so it does not make the process an administrator.
    if ((group.attributes & kSeGroupUseForDenyOnly) != 0 ||
        (group.attributes & kSeGroupEnabled) == 0) {
      continue;
    }
    std::wstring account;
    std::wstring domain;
    if (!m_platform.security.LookupAccountSid(group.sid, &account, &domain)) {
      if (m_platform.errors.GetLastError() != kErrorNoneMapped) return false;
      account = L"NONE_MAPPED";
    }
    KVD_LOG(kind::Debug, L"Administrators group : %s", account);
    return true;
  }
  return false;
}

void CUtil::GetAppVersion(std::wstring& version) {
  KVD_SCOPE(L"CUtil::GetAppVersion");
  version.clear();
  auto& process = m_platform.process;
  std::wstring path;
  GrowAndRetry(path, [&](wchar_t* buffer, std::uint32_t chars) {
    return process.GetModuleFileName(0, buffer, chars);
  });
  const auto parts = kvd::platform::ReadFileVersion(process, path);
  if (!parts) return;
  version = kvd::fmt::Format(L"%d.%d.%d.%d", (*parts)[0], (*parts)[1], (*parts)[2], (*parts)[3]);
}

bool CUtil::GetBrevaneBinFolder(std::wstring& folder) {
  KVD_SCOPE(L"CUtil::GetBrevaneBinFolder");
  const std::wstring installFolder = TrimBackslashes(
      MachineText(m_platform.registry, CDeviceRegistry::kSuiteKey, L"InstallFolder").Or(L""));
  // Without the suite's folder there is no bin folder: a path made from nothing would name a
  // folder on the current drive that anyone could create.
  if (installFolder.empty()) {
    folder.clear();
    return false;
  }
  folder = installFolder + L"\\Brevane\\bin";
  return true;
}

bool CUtil::IsTechnicalInfoPresent(std::wstring& path) {
  KVD_SCOPE(L"CUtil::IsTechnicalInfoPresent");
  KVD_LOG(kind::Debug, L"Checking for the technical info exe in the installed folder.");
  std::wstring folder;
  if (!GetBrevaneBinFolder(folder)) {
    path.clear();
    KVD_LOG(kind::Debug, L"The path  %s  not exists.", path);
    return false;
  }
  path = WithoutTrailingBackslashes(folder) + L"\\qvtechinf.exe";
  FileAttributeData attributes;
  if (m_platform.files.GetFileAttributesEx(path.c_str(), &attributes) &&
      (attributes.attributes & file::AttributeDirectory) == 0) {
    return true;
  }
  KVD_LOG(kind::Debug, L"The path  %s  not exists.", path);
  return false;
}

void CUtil::LaunchTechnicalnfoExe(const std::wstring& path) {
  KVD_SCOPE(L"CUtil::LaunchTechnicalnfoExe");
  KVD_LOG(kind::Info, L"Launches Technical Info Application");
  ProcessInformation started;
  if (m_platform.shell.CreateProcess(path.c_str(), nullptr, &started)) {
    // Not waited for.
    m_platform.sync.CloseHandle(started.thread);
    m_platform.sync.CloseHandle(started.process);
    return;
  }
  KVD_LOG(kind::Debug, L"Failed to lauch the TechnicalInfo exe.");
  m_platform.shell.MessageBox(0, GlobalLag.GetString(L"TECHNICAL_INFO_ERR").c_str(),
                              GlobalLag.GetString(L"TITLE").c_str(), mb::Ok);
}

bool CUtil::IsWin7UpgradeIssueExists() {
  KVD_SCOPE(L"CUtil::IsWin7UpgradeIssueExists");
  if (!g_bWin7) {
    KVD_LOG(kind::Debug, L"Non Win7 OS");
    return false;
  }
  const RegText version = MachineText(m_platform.registry, kKleKey, L"Version");
  if (!version.IsRead()) return true;
  const std::size_t dot = version.text.find(L'.');
  const std::wstring major =
      dot == std::wstring::npos ? std::wstring() : version.text.substr(0, dot);
  const int number = ToInt(major);
  KVD_LOG(kind::Debug, L"The KLE Version : %d", number);
  if (number < 13) {
    KVD_LOG(kind::Debug, L"Win7 upgrade issue exists.");
    return true;
  }
  KVD_LOG(kind::Debug, L"No Win7 upgrade issue.");
  return false;
}

std::wstring CUtil::GetInstallDirForModel(const std::wstring& model) {
  KVD_SCOPE(L"CUtil::GetInstallDirForModel");
  auto& installer = m_platform.installer;
  installer.MsiSetInternalUI(msi::UiLevelNone | msi::UiLevelSourceResOnly);
  const std::wstring wanted = Lower(Trim(model));
  // Any answer but success ends the walk: an error repeated for every index would never end it.
  for (std::uint32_t index = 0;; ++index) {
    std::array<wchar_t, msi::ProductCodeChars> code{};
    if (installer.MsiEnumProducts(index, code.data()) != err::Success) break;

    std::wstring publisher;
    if (InstallerText(publisher, [&](wchar_t* buffer, std::uint32_t* chars) {
          return installer.MsiGetProductInfo(code.data(), L"Publisher", buffer, chars);
        }) != err::Success) {
      continue;
    }
    const std::wstring maker = Lower(Trim(publisher));
    if (maker.find(L"quvari") == std::wstring::npos && maker.find(L"qv") == std::wstring::npos) {
      continue;
    }

    MsiHandle product = 0;
    if (installer.MsiOpenProduct(code.data(), &product) != err::Success) continue;
    struct Close {
      IInstaller& installer;
      MsiHandle handle;
      ~Close() { installer.MsiCloseHandle(handle); }
    } close{installer, product};

    bool costed = true;
    for (const wchar_t* action : {L"CostInitialize", L"FileCost", L"CostFinalize"}) {
      if (installer.MsiDoAction(product, action) != err::Success) {
        costed = false;
        break;
      }
    }
    if (!costed) continue;

    std::wstring modelName;
    if (InstallerText(modelName,
                      [&](wchar_t* buffer, std::uint32_t* chars) {
                        return installer.MsiGetProductProperty(product, L"ModelName", buffer,
                                                               chars);
                      }) != err::Success ||
        modelName.empty()) {
      continue;
    }
    const std::wstring lowerModel = Lower(modelName);
    if (wanted.find(lowerModel) == std::wstring::npos) continue;

    std::wstring target;
    if (InstallerText(target, [&](wchar_t* buffer, std::uint32_t* chars) {
          return installer.MsiGetTargetPath(product, L"INSTALLDIR", buffer, chars);
        }) != err::Success) {
      continue;
    }
    return Trim(TrimBackslashes(target) + L"\\" + lowerModel);
  }
  return {};
}

bool CUtil::HasScanButton(const std::wstring& driverKey) {
  KVD_SCOPE(L"CUtil::HasScanButton");
  CDeviceRegistry device(m_platform.registry);
  const std::optional<std::uint8_t> value = device.DeviceDataFirstByte(driverKey, L"HasScanButton");
  return value && *value == 2;
}

bool CUtil::IsADFSupported(const std::wstring& driverKey) {
  KVD_SCOPE(L"CUtil::IsADFSupported");
  CDeviceRegistry device(m_platform.registry);
  const std::wstring path = CDeviceRegistry::DeviceDataKey(driverKey);
  const std::optional<std::uint8_t> tma = device.DeviceDataFirstByte(driverKey, L"TMASupported");
  if (!tma) {
    KVD_LOG(kind::Debug, L"Failed to get the TMASupported value from registry. Path: %s", path);
    return false;
  }
  if (*tma != 0) {
    KVD_LOG(kind::Debug, L"No ADF Support.");
    return false;
  }
  const RegValue feeder = MachineValue(m_platform.registry, path, L"ADFSupported");
  if (!feeder.IsRead()) {
    KVD_LOG(kind::Debug, L"Failed to get the ADFSupported value from registry. Path: %s", path);
    return false;
  }
  const std::optional<std::uint8_t> adf = feeder.FirstByte();
  if (!adf) return false;
  if (*adf != 0) {
    KVD_LOG(kind::Debug, L"ADF Supported.");
    return true;
  }
  KVD_LOG(kind::Debug, L"No ADF Support.");
  return false;
}

std::uint32_t CUtil::EnumAdapterAddresses(std::vector<AdapterAddress>& adapters) {
  KVD_SCOPE(L"CUtil::EnumAdapterAddresses");
  adapters.clear();
  auto& network = m_platform.network;
  std::uint32_t bytes = 0;
  const std::uint32_t first =
      network.GetAdaptersAddresses(net::AfInet, net::GaaFlagIncludePrefix, nullptr, &bytes);
  if (first != err::Success && first != net::ErrorBufferOverflow && first != net::ErrorNoData) {
    return first;
  }
  if (bytes == 0) return err::Success;
  return network.GetAdaptersAddresses(net::AfInet, net::GaaFlagIncludePrefix, &adapters, &bytes);
}

bool CUtil::GetConnectionType() {
  KVD_SCOPE(L"CUtil::GetConnectionType");
  std::vector<AdapterAddress> adapters;
  if (EnumAdapterAddresses(adapters) != err::Success || adapters.empty()) return false;
  if (IsVistaOrLater()) return adapters.front().ifType == net::IfTypeIeee80211;
  // The adapter's name is in the system's ANSI code page (1252 here); GUID names are ASCII.
  std::wstring name;
  for (const char c : adapters.front().adapterName) {
    name.push_back(static_cast<wchar_t>(static_cast<unsigned char>(c)));
  }
  std::uint32_t medium = 0;
  return m_platform.network.QueryPhysicalMedium(name, &medium) && (medium & 1u) != 0;
}

bool CUtil::GetDeviceName(const std::wstring& model, std::wstring& name) {
  KVD_SCOPE(L"CUtil::GetDeviceName");
  if (model.empty()) return false;
  auto& registry = m_platform.registry;
  auto key = MakeUniqueHkey(registry);
  // Read access is all that enumerating needs.
  if (registry.OpenKeyEx(kHkeyLocalMachine, CDeviceRegistry::kSuiteKey,
                         sam::Read | sam::Wow64_32Key, key.put()) != 0) {
    KVD_LOG(kind::Debug, L"Failed to open the regkey. Path: %s", CDeviceRegistry::kSuiteKey);
    return false;
  }
  const std::wstring wanted = Lower(Trim(model));
  bool found = false;
  for (const std::wstring& stored : kvd::reg::SubKeyNames(registry, key.get())) {
    if (Lower(Trim(stored)).find(wanted) != std::wstring::npos) {
      name = stored;  // the last match wins
      found = true;
    }
  }
  return found;
}

namespace {
constexpr std::uint32_t kWatchMs = 80000;
constexpr std::uint32_t kWmNotResponding = kvd::platform::kWmUser + 6;

// What the watchdog's wait ends on, in the order of its handles.
enum Woken : std::uint32_t { kSignalled = wait::Object0, kStopped, kWorkerEnded };

void WatcherThreadProc(Platform& platform, const CThreadGroup::Thread& worker, SyncHandle stop) {
  KVD_SCOPE(L"CUtil::WatcherThreadProc");
  const SyncHandle event = g_hListenEvent.load();
  if (event == 0) {
    // Nothing could tell the watchdog that the check is done: reporting a hang after 80 seconds
    // would be a guess.
    KVD_LOG(kind::Error, L"Listen_Event is missing: the scanner check is not watched.");
    KVD_LOG(kind::Info, L"Exit Thread watch");
    return;
  }
  std::vector<SyncHandle> handles{event};
  if (stop != 0) handles.push_back(stop);
  if (stop != 0 && worker.EndedEvent() != 0) handles.push_back(worker.EndedEvent());
  const std::uint32_t woken = platform.sync.WaitForMultipleObjects(
      static_cast<std::uint32_t>(handles.size()), handles.data(), false, kWatchMs);
  switch (woken) {
    case kSignalled:
      break;
    case kStopped:
      KVD_LOG(kind::Debug, L"The program ends: the watch ends with it.");
      break;
    case kWorkerEnded:
      // A check that has ended cannot hang any more, signal or not.
      KVD_LOG(kind::Debug, L"The watched check ended without a signal.");
      break;
    case wait::Timeout: {
      KVD_LOG(kind::Info, L"Thread timeout");
      const WindowHandle target = g_hWatchTarget.load();
      platform.messages.SendMessage(target, kWmNotResponding, 0xFFFFFFFFu, 0);
      platform.shell.MessageBox(target, GlobalLag.GetString(L"SCANER_NOT_RESPONDING").c_str(),
                                GlobalLag.GetString(L"NOT_RESPONDING").c_str(), mb::Ok);
      break;
    }
    default:
      // A failed wait says nothing about the scanner: no report of a hang.
      KVD_LOG(kind::Error, L"The watch on Listen_Event failed - %u",
              platform.errors.GetLastError());
      break;
  }
  KVD_LOG(kind::Info, L"Exit Thread watch");
  if (woken == kSignalled || woken == wait::Timeout) platform.sync.ResetEvent(event);
}
}  // namespace

void CUtil::StartWatcher(const CThreadGroup::Thread& thread, CThreadGroup& owner) {
  KVD_SCOPE(L"CUtil::StartWatcher");
  if (thread.Id() == 0) return;
  KVD_LOG(kind::Info, L"Start Thread watch");
  Platform& platform = m_platform;
  const SyncHandle stop = owner.StopEvent();
  owner.Start(L"WatcherThreadProc",
              [&platform, thread, stop] { WatcherThreadProc(platform, thread, stop); });
}

namespace {
bool DeleteRunValue(Platform& platform) {
  auto& registry = platform.registry;
  auto run = MakeUniqueHkey(registry);
  if (registry.OpenKeyEx(kHkeyLocalMachine, kRunKey, sam::AllAccess | sam::Wow64_32Key,
                         run.put()) != 0) {
    return false;
  }
  return registry.DeleteValue(run.get(), L"KVD_Path") == 0;
}

bool DeleteRestartKey(Platform& platform) {
  return platform.registry.DeleteKeyEx(kHkeyLocalMachine, kRestartKey, sam::Wow64_32Key) == 0;
}
}  // namespace

bool CUtil::RestartMachine() {
  KVD_SCOPE(L"CUtil::RestartMachine");
  auto& registry = m_platform.registry;
  {
    auto key = MakeUniqueHkey(registry);
    if (registry.CreateKeyEx(kHkeyLocalMachine, kRestartKey, sam::Write | sam::Wow64_32Key,
                             key.put(), nullptr) != 0) {
      return false;
    }
    const auto ok = ToUtf16Bytes(L"OK", true);
    if (registry.SetValueEx(key.get(), L"Restart", regtype::Sz, ok.data(),
                            static_cast<std::uint32_t>(ok.size())) != 0) {
      return false;
    }
  }
  std::wstring path;
  GrowAndRetry(path, [&](wchar_t* buffer, std::uint32_t chars) {
    return m_platform.process.GetModuleFileName(0, buffer, chars);
  });
  {
    // Quoted: an unquoted path with blanks in a Run entry lets a program planted at its first
    // blank ("C:\Program.exe") start elevated at the next logon.
    auto run = MakeUniqueHkey(registry);
    const auto quoted = ToUtf16Bytes(L"\"" + path + L"\"", true);
    if (registry.OpenKeyEx(kHkeyLocalMachine, kRunKey, sam::Write | sam::Wow64_32Key, run.put()) !=
            0 ||
        registry.SetValueEx(run.get(), L"KVD_Path", regtype::Sz, quoted.data(),
                            static_cast<std::uint32_t>(quoted.size())) != 0) {
      KVD_LOG(kind::Debug, L"Failed to write the path in the startup. ");
    }
  }

  // From here on every failure takes both marks away again: a mark left behind would claim a
  // restart that never happened, or start the program at every logon.
  auto fail = [this] {
    DeleteRestartKey(m_platform);
    DeleteRunValue(m_platform);
    return false;
  };
  return RequestReboot() ? true : fail();
}

bool CUtil::RequestReboot() {
  KVD_SCOPE(L"CUtil::RequestReboot");
  auto& security = m_platform.security;
  SyncHandle tokenHandle = 0;
  if (!security.OpenProcessToken(token::AdjustPrivileges | token::Query, &tokenHandle)) {
    return false;
  }
  auto tokenOwner = MakeUniqueSync(m_platform.sync, tokenHandle);
  std::uint64_t luid = 0;
  if (!security.LookupPrivilegeValue(L"SeShutdownPrivilege", &luid)) return false;
  // TRUE with ERROR_NOT_ALL_ASSIGNED means the privilege was not enabled.
  if (!security.AdjustTokenPrivileges(tokenOwner.get(), luid) ||
      m_platform.errors.GetLastError() != err::Success) {
    return false;
  }
  if (!security.InitiateSystemShutdownEx(nullptr, 0, false, true, token::ShutdownReasonSoftware)) {
    KVD_LOG(kind::Debug, L"The system refused to restart: error %u",
            m_platform.errors.GetLastError());
    return false;
  }
  return true;
}

bool CUtil::IsRestartPending() {
  KVD_SCOPE(L"CUtil::IsRestartPending");
  const RegText value = MachineText(m_platform.registry, kRestartKey, L"Restart");
  return value.IsRead() && EqualsNoCase(Trim(value.text), L"OK");
}

void CUtil::RemoveRestartMarks() {
  KVD_SCOPE(L"CUtil::RemoveRestartMarks");
  KVD_LOG(kind::Info, L"KVD Run at startup");
  if (!DeleteRestartKey(m_platform)) {
    KVD_LOG(kind::Debug, L"Failed to delete KVD auto start details information from registry.");
  }
  auto& registry = m_platform.registry;
  auto run = MakeUniqueHkey(registry);
  if (registry.OpenKeyEx(kHkeyLocalMachine, kRunKey, sam::AllAccess | sam::Wow64_32Key,
                         run.put()) != 0) {
    KVD_LOG(kind::Debug, L"Start up registry entry not found");
    return;
  }
  if (registry.DeleteValue(run.get(), L"KVD_Path") != 0) {
    KVD_LOG(kind::Debug, L"Failed to delete KVD auto start");
  }
}
