#include "repair/DriverRefresh.h"

#include <cwctype>
#include <string>
#include <vector>

#include "discovery/DeviceRegistry.h"
#include "logging/Trace.h"
#include "platform/api/Handles.h"
#include "platform/api/Text.h"
#include "system/Helper.h"
#include "system/Registry.h"

KVD_TRACE_SOURCE();

using namespace kvd::platform;
namespace kind = DUDiduzuz::kind;

namespace kvd::repair {

namespace {

constexpr const wchar_t* kHelperRelative = L"DeviceManager\\DeviceManager.exe";

bool OnWow64(Platform& platform) { return CUtil(platform).IsWow64(); }

}  // namespace

bool IsDeviceDriverKey(const std::wstring& key) {
  static constexpr const char kShape[] = "{xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx}\\dddd";
  if (key.size() != sizeof kShape - 1) return false;
  for (std::size_t i = 0; i < key.size(); ++i) {
    const wchar_t c = key[i];
    switch (kShape[i]) {
      case 'x':
        if (!std::iswxdigit(c)) return false;
        break;
      case 'd':
        if (c < L'0' || c > L'9') return false;
        break;
      default:
        if (c != static_cast<wchar_t>(kShape[i])) return false;
    }
  }
  return true;
}

std::wstring DriverPackageInfPath(Platform& platform, const DeviceDetails& device) {
  KVD_SCOPE(L"kvd::repair::DriverPackageInfPath");
  if (!IsDeviceDriverKey(device.strDriverKey)) return {};
  const reg::RegText name = reg::MachineText(
      platform.registry, CDeviceRegistry::ClassKey(device.strDriverKey), L"InfPath");
  // Only a file name of the INF folder: a value naming another folder is not followed.
  if (!name.IsRead() || name.text.empty() ||
      name.text.find_first_of(L"\\/:") != std::wstring::npos ||
      !EqualsNoCase(PathFindExtension(name.text), L".inf")) {
    KVD_LOG(kind::Debug, L"The driver key names no INF file of the INF folder. Path: %s",
            device.strDriverKey.c_str());
    return {};
  }
  wchar_t windows[260] = {};
  if (!hr::Succeeded(platform.files.GetFolderPath(csidl::Windows, windows)) || windows[0] == 0) {
    return {};
  }
  return WithoutTrailingBackslashes(windows) + L"\\INF\\" + name.text;
}

std::optional<std::wstring> HelperPath(Platform& platform) {
  std::wstring module;
  const bool read = GrowAndRetry(module, [&](wchar_t* buffer, std::uint32_t chars) {
    return platform.process.GetModuleFileName(0, buffer, chars);
  });
  const std::size_t slash = module.rfind(L'\\');
  if (!read || slash == std::wstring::npos) return std::nullopt;
  return module.substr(0, slash + 1) + kHelperRelative;
}

std::wstring Quoted(const std::wstring& item) {
  // As CommandLineToArgvW reads it back: a quote inside is escaped, and the backslashes before
  // a quote (or before the closing one) are doubled. An item without either is just enclosed.
  std::wstring out = L"\"";
  std::size_t backslashes = 0;
  for (wchar_t c : item) {
    if (c == L'\\') {
      ++backslashes;
      continue;
    }
    out.append(c == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
    backslashes = 0;
    out += c;
  }
  out.append(backslashes * 2, L'\\');
  out += L'"';
  return out;
}

HelperRun RunHelper(Platform& platform, const std::wstring& parameters, int show,
                    WindowHandle owner, std::uint32_t waitMs, SyncHandle stopEvent) {
  KVD_SCOPE(L"kvd::repair::RunHelper");
  HelperRun run;
  const std::optional<std::wstring> path = HelperPath(platform);
  if (!path) {
    KVD_LOG(kind::Debug, L"Create Process Failed for 64bit. Error Code : %s",
            std::to_wstring(platform.errors.GetLastError()).c_str());
    return run;
  }
  SyncHandle process = 0;
  if (!platform.shell.ShellExecuteEx(owner, L"open", path->c_str(), parameters.c_str(), show,
                                     &process)) {
    KVD_LOG(kind::Debug, L"Create Process Failed for 64bit. Error Code : %s",
            std::to_wstring(platform.errors.GetLastError()).c_str());
    return run;
  }
  run.started = true;
  UniqueSync owned = MakeUniqueSync(platform.sync, process);
  if (waitMs == 0 || !owned.valid()) return run;
  if (stopEvent != 0) {
    const SyncHandle handles[] = {owned.get(), stopEvent};
    platform.sync.WaitForMultipleObjects(2, handles, false, waitMs);
  } else {
    platform.sync.WaitForSingleObject(owned.get(), waitMs);
  }
  // A helper still running after the wait answers STILL_ACTIVE, which the callers judge.
  run.exitCodeRead = platform.shell.GetExitCodeProcess(owned.get(), &run.exitCode);
  return run;
}

std::optional<PropertySheetEntry> LoadPropertySheet(Platform& platform, int& errorCode) {
  KVD_SCOPE(L"kvd::repair::LoadPropertySheet");
  std::wstring system;
  GrowAndRetry(system, [&](wchar_t* buffer, std::uint32_t chars) {
    return platform.modules.GetSystemDirectory(buffer, chars);
  });
  // By full path: a devmgr.dll in the program's folder or the current one is never loaded.
  const std::wstring dll = system + L"\\devmgr.dll";
  PropertySheetEntry sheet{
      MakeUniqueLibrary(platform.modules, platform.modules.LoadLibrary(dll.c_str())), 0};
  if (!sheet.library.valid()) {
    KVD_LOG(kind::Debug, L"Failed LoadLibrary(devmgr.dll)");
    errorCode = kRefreshNoLibrary;
    return std::nullopt;
  }
  sheet.entry = platform.modules.GetProcAddress(sheet.library.get(), "DeviceProperties_RunDLLW");
  if (sheet.entry == 0) {
    KVD_LOG(kind::Debug, L"Failed DeviceProperties_RunDLL");
    errorCode = kRefreshNoEntry;
    return std::nullopt;
  }
  return sheet;
}

void ShowPropertySheet(Platform& platform, const PropertySheetEntry& sheet,
                       const std::wstring& instanceId) {
  // The id follows its switch unquoted, blanks and all: the sheet takes the rest of the line.
  const std::wstring commandLine = L"/MachineName \"\" /DeviceID " + instanceId;
  platform.modules.CallDevicePropertiesRunDll(sheet.entry, commandLine.c_str(), sw::Show);
}

int RefreshDrivers64(Platform& platform, const DeviceDetails& device, const RefreshHost& host) {
  KVD_SCOPE(L"CDiagnosticMgr::RefreshDrivers64");
  KVD_LOG(kind::Debug, L"Diagnosing the Device Manegr issue for 64bit OS.");
  const HelperRun run = RunHelper(platform, Quoted(L"-u") + L" " + Quoted(device.strInstanceId),
                                  sw::Show, host.owner, wait::Infinite, host.stopEvent);
  if (!run.started) return static_cast<int>(kHelperNotStarted);
  if (!run.exitCodeRead) return static_cast<int>(kHelperNoExitCode);
  return static_cast<int>(run.exitCode);
}

bool RefreshDrivers(Platform& platform, const DeviceDetails& device, const RefreshHost& host,
                    int& errorCode) {
  KVD_SCOPE(L"CDiagnosticMgr::RefreshDrivers");
  const std::wstring keyPath = CDeviceRegistry::ClassKey(device.strDriverKey);
  if (!IsDeviceDriverKey(device.strDriverKey)) {
    KVD_LOG(kind::Error,
            L"The driver key is not a device's entry of a class: nothing is deleted. Path: %s",
            keyPath.c_str());
    errorCode = kRefreshNotReinstalled;
    return false;
  }
  // What the update needs is looked for before the driver key goes: without it the device
  // would be left without driver key and nothing to bring it back.
  const bool wow64 = OnWow64(platform);
  std::optional<PropertySheetEntry> sheet;
  if (wow64) {
    const std::optional<std::wstring> helper = HelperPath(platform);
    FileAttributeData data;
    if (!helper || !platform.files.GetFileAttributesEx(helper->c_str(), &data)) {
      KVD_LOG(kind::Debug, L"The device-manager helper is missing. Path: %s",
              helper ? helper->c_str() : L"");
      errorCode = kRefreshHelperFailed;
      return false;
    }
  } else {
    sheet = LoadPropertySheet(platform, errorCode);
    if (!sheet) return false;
  }

  if (host.showInstructions) host.showInstructions();
  if (platform.registry.DeleteTree(kHkeyLocalMachine, keyPath.c_str()) != err::Success) {
    KVD_LOG(kind::Debug, L"Failed to delete Lower Filter Key.");
  }
  if (wow64) {
    if (RefreshDrivers64(platform, device, host) != static_cast<int>(kHelperUpdated)) {
      errorCode = kRefreshHelperFailed;
      return false;
    }
  } else {
    ShowPropertySheet(platform, *sheet, device.strInstanceId);
  }

  UniqueHkey key = MakeUniqueHkey(platform.registry);
  if (platform.registry.OpenKeyEx(kHkeyLocalMachine, keyPath.c_str(),
                                  sam::AllAccess | sam::Wow64_32Key, key.put()) == err::Success) {
    return true;
  }
  KVD_LOG(kind::Debug, L"Could  not update driver");
  errorCode = kRefreshNotReinstalled;
  return false;
}

bool ReenumerateDeviceManager(Platform& platform) {
  KVD_SCOPE(L"ReenumerateDeviceManager");
  if (OnWow64(platform)) {
    if (!HelperPath(platform)) return false;
    RunHelper(platform, Quoted(L"-r"), sw::Hide, 0, 0);
    return true;
  }
  DevInst root = 0;
  if (platform.devices.LocateRootDevNode(&root) == cr::Success &&
      platform.devices.ReenumerateDevNode(root, cr::ReenumerateRetryInstallation) == cr::Success) {
    platform.clock.Sleep(1000);
  }
  return true;
}

}  // namespace kvd::repair
