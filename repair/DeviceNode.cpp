#include "repair/DeviceNode.h"

#include <algorithm>
#include <cwctype>
#include <iterator>
#include <optional>
#include <string>

#include "discovery/Scanners.h"
#include "logging/Trace.h"
#include "platform/api/Handles.h"
#include "platform/api/Text.h"
#include "system/Helper.h"

KVD_TRACE_SOURCE();

using namespace kvd::platform;
namespace kind = DUDiduzuz::kind;

namespace kvd::repair {

namespace {

std::wstring TrimmedUpper(const std::wstring& text) {
  std::wstring out = Trim(text);
  for (wchar_t& c : out) c = static_cast<wchar_t>(std::towupper(c));
  return out;
}

// One state change of a node in one scope. A class installer that wants a restart for it leaves
// that to the user: the change counts only when the restart was asked for.
bool ChangeState(Platform& platform, DevInfoSet set, const DevInfoData& element,
                 std::uint32_t stateChange, std::uint32_t scope, const NodeHost& host) {
  KVD_SCOPE(L"kvd::repair::ChangeState");
  IDevices& devices = platform.devices;
  std::uint32_t flags = 0;
  if (!devices.SetPropertyChangeParams(set, element, stateChange, scope, 0) ||
      !devices.CallClassInstaller(dics::DifPropertyChange, set, element) ||
      !devices.GetDeviceInstallFlags(set, element, &flags)) {
    KVD_LOG_FAILED_CALL(L"SetupDiCallClassInstaller", platform.errors.GetLastError(),
                        L"DIF_PROPERTYCHANGE");
    return false;
  }
  if ((flags & (dics::DiNeedRestart | dics::DiNeedReboot)) == 0) return true;
  const bool yes = host.confirmRestart && host.confirmRestart();
  return yes && host.restart && host.restart();
}

// The start-type change itself; the service manager's handles are closed before the question.
bool ChangeToAutoStart(Platform& platform, const std::wstring& name) {
  KVD_SCOPE(L"kvd::repair::ChangeToAutoStart");
  IServices& services = platform.services;
  const UniqueScHandle manager = MakeUniqueScHandle(
      services, services.OpenSCManager(L"ServicesActive", svc::ScManagerAllAccess));
  if (!manager.valid()) {
    KVD_LOG_FAILED_CALL(L"OpenSCManagerW", platform.errors.GetLastError(), L"ServicesActive");
    return false;
  }
  bool changed = false;
  const UniqueScHandle service = MakeUniqueScHandle(
      services, services.OpenService(manager.get(), name.c_str(), svc::ServiceAllAccess));
  if (!service.valid()) {
    KVD_LOG_FAILED_CALL(L"OpenServiceW", platform.errors.GetLastError(), name.c_str());
  } else {
    ServiceConfig config;
    std::uint32_t needed = 0;
    // The first call only asks for the size: anything but "too small" is a failure.
    if (!services.QueryServiceConfig(service.get(), 0, &config, &needed) &&
        platform.errors.GetLastError() == err::InsufficientBuffer &&
        services.QueryServiceConfig(service.get(), needed, &config, &needed)) {
      changed = services.ChangeServiceStartType(service.get(), config.serviceType, svc::AutoStart);
    }
    if (!changed) {
      KVD_LOG_FAILED_CALL(L"ChangeServiceConfigW", platform.errors.GetLastError(), name.c_str());
    }
  }
  return changed;
}

// The driver service of a matching node set to start automatically; the restart question after
// a change: No keeps the change for the next start, Yes needs the restart to be requested.
bool SetServiceAutoStart(Platform& platform, const std::wstring& name, const NodeHost& host) {
  KVD_SCOPE(L"kvd::repair::SetServiceAutoStart");
  if (!ChangeToAutoStart(platform, name)) return false;
  if (!host.confirmRestart || !host.confirmRestart()) return true;
  return host.restart && host.restart();
}

}  // namespace

bool IsRecordsImageDevice(IDevices& devices, DevInfoSet set, const DevInfoData& element,
                          const DeviceDetails& device) {
  const std::optional<std::wstring> maker =
      kvd::discovery::PropertyText(devices, set, element, spdrp::Mfg);
  if (!maker) return false;
  const std::wstring lower = ToLowerOrdinal(Trim(*maker));
  if (lower.find(L"qv") == std::wstring::npos && lower.find(L"quvari") == std::wstring::npos) {
    return false;
  }
  const std::optional<std::wstring> first =
      kvd::discovery::PropertyText(devices, set, element, spdrp::HardwareId);
  // An empty id would equal a record that has none: never a match.
  const std::wstring wanted = TrimmedUpper(device.strHardwareId);
  return first && !wanted.empty() && TrimmedUpper(*first) == wanted;
}

bool ApplyToMatchingImageDevices(Platform& platform, const DeviceDetails& device,
                                 NodeOperation operation, const NodeHost& host,
                                 std::uint32_t* problem, int& errorCode) {
  KVD_SCOPE(L"CKVDDeviceManagerIssue::ApplyToMatchingImageDevices");
  IDevices& devices = platform.devices;
  Guid imageClass;
  std::uint32_t required = 0;
  if (!devices.ClassGuidsFromName(L"Image", &imageClass, 1, &required) || required < 1) {
    KVD_LOG_FAILED_CALL(L"SetupDiClassGuidsFromNameExW", platform.errors.GetLastError(), L"Image");
    return false;
  }
  // Flags 0: devices that are not plugged in are looked at too.
  UniqueDevInfoList set =
      MakeUniqueDevInfoList(devices, devices.GetClassDevs(&imageClass, nullptr, 0));
  DevMachine machine = 0;
  if (!set.valid() || !devices.GetDeviceInfoListDetail(set.get(), &machine)) {
    KVD_LOG_FAILED_CALL(L"SetupDiGetClassDevsExW", platform.errors.GetLastError(), L"Image");
    return false;
  }
  bool serviceChanged = false;
  for (std::uint32_t index = 0;; ++index) {
    DevInfoData element;
    if (!devices.EnumDeviceInfo(set.get(), index, &element)) break;
    std::uint32_t status = 0;
    std::uint32_t found = 0;
    if (devices.GetDevNodeStatus(&status, &found, element.devInst, machine) != cr::Success) {
      continue;
    }
    const bool matches = IsRecordsImageDevice(devices, set.get(), element, device);
    switch (operation) {
      case NodeOperation::Query:
        if (!matches) break;
        status = 0;
        found = 0;
        if (devices.GetDevNodeStatus(&status, &found, element.devInst, machine) == cr::Success) {
          *problem = found;
          return true;
        }
        errorCode = kNodeStatusUnreadable;
        break;
      case NodeOperation::Enable:
      case NodeOperation::Disable:
        if (!matches) {
          errorCode = kNodeNotMatching;
          break;
        }
        {
          const std::uint32_t change =
              operation == NodeOperation::Enable ? dics::Enable : dics::Disable;
          // Global first; the current configuration only once that took.
          if (ChangeState(platform, set.get(), element, change, dics::FlagGlobal, host)) {
            return ChangeState(platform, set.get(), element, change, dics::FlagConfigSpecific,
                               host);
          }
        }
        break;
      case NodeOperation::AutoStartService:
        if (!matches) break;
        if (const auto name =
                kvd::discovery::PropertyText(devices, set.get(), element, spdrp::Service)) {
          if (SetServiceAutoStart(platform, *name, host)) serviceChanged = true;
        }
        break;
    }
  }
  return serviceChanged;
}

namespace {

constexpr int kReinstallProblems[] = {1, 3, 10, 18, 19, 24, 28, 31, 40};
constexpr int kRestartProblems[] = {14, 21, 38, 42, 44, 47};
constexpr int kDisabledServiceProblem = 32;
constexpr std::uint32_t kDriverPackageForce = 0x00000004;  // DRIVER_PACKAGE_FORCE

template <std::size_t N>
bool In(const int (&codes)[N], int code) {
  return std::find(std::begin(codes), std::end(codes), code) != std::end(codes);
}

// difxapi.dll is not part of Windows: it is shipped with the program, and loaded from the
// program's folder by full path only.
std::wstring DriverInstallLibrary(Platform& platform) {
  std::wstring module;
  GrowAndRetry(module, [&](wchar_t* buffer, std::uint32_t chars) {
    return platform.process.GetModuleFileName(0, buffer, chars);
  });
  const std::size_t slash = module.rfind(L'\\');
  return slash == std::wstring::npos ? std::wstring()
                                     : module.substr(0, slash + 1) + L"difxapi.dll";
}

}  // namespace

ProblemGroup GroupOfProblem(int problem) {
  if (In(kReinstallProblems, problem)) return ProblemGroup::Reinstall;
  if (In(kRestartProblems, problem)) return ProblemGroup::Restart;
  if (problem == static_cast<int>(cmprob::Disabled) || problem == kDisabledServiceProblem) {
    return ProblemGroup::Fixable;
  }
  return ProblemGroup::Unknown;
}

bool UninstallAndRescan(Platform& platform, const std::wstring& infPath, const NodeHost& host) {
  KVD_SCOPE(L"kvd::repair::UninstallAndRescan");
  if (infPath.empty()) {
    KVD_LOG(kind::Debug, L"The device's driver package is not known.");
    return false;
  }
  const std::wstring library = DriverInstallLibrary(platform);
  UniqueLibrary difx = MakeUniqueLibrary(
      platform.modules, library.empty() ? 0 : platform.modules.LoadLibrary(library.c_str()));
  if (!difx.valid()) {
    KVD_LOG_FAILED_CALL(L"LoadLibraryW", platform.errors.GetLastError(), library.c_str());
    return false;
  }
  const ProcAddress entry = platform.modules.GetProcAddress(difx.get(), "DriverPackageUninstallW");
  if (entry == 0) {
    KVD_LOG_FAILED_CALL(L"GetProcAddress", platform.errors.GetLastError(),
                        L"DriverPackageUninstallW");
    return false;
  }
  bool needReboot = false;
  const std::uint32_t result = platform.modules.CallDriverPackageUninstall(
      entry, infPath.c_str(), kDriverPackageForce, &needReboot);
  if (result != err::Success) {
    KVD_LOG_FAILED_CALL(L"DriverPackageUninstallW", result, infPath.c_str());
    return false;
  }
  if (needReboot) {
    return host.confirmRestart && host.confirmRestart() && host.restart && host.restart();
  }
  DevInst root = 0;
  return platform.devices.LocateRootDevNode(&root) == cr::Success &&
         platform.devices.ReenumerateDevNode(root, cr::ReenumerateRetryInstallation) == cr::Success;
}

int RepairDeviceNode(Platform& platform, const DeviceDetails& device, const std::wstring& infPath,
                     int problem, const NodeHost& host, int& errorCode) {
  KVD_SCOPE(L"kvd::repair::RepairDeviceNode");
  std::uint32_t ignored = 0;
  switch (GroupOfProblem(problem)) {
    case ProblemGroup::Reinstall:
      if (UninstallAndRescan(platform, infPath, host)) return kNodeRepaired;
      errorCode = kReinstallFailed;
      KVD_LOG(kind::Debug, L"Failed to uninstall the device and rescan.");
      return kNodeRepairFailed;
    case ProblemGroup::Restart:
      if (!host.confirmRestart || !host.confirmRestart()) return kNodeRestartDeclined;
      if (host.restart && host.restart()) return kNodeRepaired;
      errorCode = kRestartFailed;
      KVD_LOG(kind::Debug, L"Failed to restart the computer.");
      return kNodeRepairFailed;
    case ProblemGroup::Fixable: {
      const bool enable = problem == static_cast<int>(cmprob::Disabled);
      if (ApplyToMatchingImageDevices(
              platform, device, enable ? NodeOperation::Enable : NodeOperation::AutoStartService,
              host, &ignored, errorCode)) {
        return kNodeRepaired;
      }
      errorCode = enable ? kEnableFailed : kServiceStartFailed;
      return kNodeRepairFailed;
    }
    case ProblemGroup::Unknown:
      break;
  }
  KVD_LOG(kind::Error, L"Problem %d has no repair of the device node.", problem);
  return kNodeRepairFailed;
}

}  // namespace kvd::repair
