#include "repair/DeviceManagerHelper.h"

#include <cstdint>
#include <cwchar>
#include <optional>

#include "logging/Trace.h"
#include "repair/DriverRefresh.h"

KVD_TRACE_SOURCE();

using namespace kvd::platform;
namespace kind = DUDiduzuz::kind;

namespace kvd::repair {

namespace {

constexpr int kNoMatchingNode = 100;

// A problem number as the check writes it: decimal digits only, and a number a problem can be.
std::optional<int> ProblemNumber(const std::wstring& text) {
  if (text.empty() || text.size() > 9) return std::nullopt;
  int value = 0;
  for (wchar_t c : text) {
    if (c < L'0' || c > L'9') return std::nullopt;
    value = value * 10 + (c - L'0');
  }
  return value;
}

DeviceDetails RecordOf(const std::wstring& description, const std::wstring& hardwareId) {
  DeviceDetails device;
  device.strDeviceDesc = description;
  device.strHardwareId = hardwareId;
  return device;
}

int Diagnose(Platform& platform, const DeviceDetails& device) {
  KVD_SCOPE(L"DeviceManager::Diagnose");
  std::uint32_t problem = 0;
  int errorCode = 0;
  if (!ApplyToMatchingImageDevices(platform, device, NodeOperation::Query, NodeHost{}, &problem,
                                   errorCode)) {
    KVD_LOG(kind::Info, L"No node of hardware id %s (error code %d).", device.strHardwareId.c_str(),
            errorCode);
    return kNoMatchingNode;
  }
  KVD_LOG(kind::Info, L"The node of hardware id %s has problem %u.", device.strHardwareId.c_str(),
          problem);
  return static_cast<int>(problem);
}

int UpdateDriver(Platform& platform, const std::wstring& instanceId) {
  int errorCode = 0;
  const std::optional<PropertySheetEntry> sheet = LoadPropertySheet(platform, errorCode);
  if (!sheet) return errorCode;
  ShowPropertySheet(platform, *sheet, instanceId);
  return static_cast<int>(kHelperUpdated);
}

int Rescan(Platform& platform) {
  KVD_SCOPE(L"DeviceManager::Rescan");
  DevInst root = 0;
  std::uint32_t result = platform.devices.LocateRootDevNode(&root);
  if (result == cr::Success) {
    result = platform.devices.ReenumerateDevNode(root, cr::ReenumerateRetryInstallation);
  }
  if (result != cr::Success) KVD_LOG_FAILED_CALL(L"CM_Reenumerate_DevNode_Ex", result, L"root");
  return static_cast<int>(result);
}

}  // namespace

int RunDeviceManagerHelper(Platform& platform, const std::vector<std::wstring>& items,
                           const NodeHost& host) {
  KVD_SCOPE(L"kvd::repair::RunDeviceManagerHelper");
  const std::wstring command = items.empty() ? std::wstring() : items[0];
  KVD_LOG(kind::Info, L"Switch %s with %u items.", command.c_str(),
          static_cast<unsigned>(items.size()));
  std::optional<int> exitCode;
  if (command == L"-d" && items.size() == 3) {
    exitCode = Diagnose(platform, RecordOf(items[1], items[2]));
  } else if (command == L"-f" && items.size() == 5) {
    if (const std::optional<int> problem = ProblemNumber(items[4])) {
      int errorCode = 0;
      exitCode = RepairDeviceNode(platform, RecordOf(items[1], items[2]), items[3], *problem, host,
                                  errorCode);
      if (errorCode != 0) KVD_LOG(kind::Info, L"Repair error code %d.", errorCode);
    }
  } else if (command == L"-u" && items.size() == 2) {
    exitCode = UpdateDriver(platform, items[1]);
  } else if (command == L"-r" && items.size() == 1) {
    exitCode = Rescan(platform);
  }
  if (!exitCode) {
    KVD_LOG(kind::Error, L"The command line is not one the helper takes.");
    exitCode = kHelperBadCommandLine;
  }
  KVD_LOG(kind::Info, L"Exit code %d.", *exitCode);
  return *exitCode;
}

}  // namespace kvd::repair
