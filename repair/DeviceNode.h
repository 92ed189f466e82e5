// The maker's Image-class device node of a device record, and the operations on it that the
// device-manager check runs itself on 32-bit Windows and that the 64-bit helper runs for it on
// 64-bit Windows: one implementation for both.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "discovery/DeviceDetails.h"
#include "platform/api/Platform.h"

namespace kvd::repair {

// The operations on the matching device nodes.
enum class NodeOperation {
  Query = 104,             // the first match's problem number
  Enable = 105,            // DICS_ENABLE on the first match that takes it
  Disable = 106,           // DICS_DISABLE on the first match that takes it
  AutoStartService = 107,  // every match's driver service set to start automatically
};

// Error codes the operations set (left as they were otherwise).
inline constexpr int kNodeStatusUnreadable = 1002;  // the matching node's status could not be read
inline constexpr int kNodeNotMatching = 1003;       // an Image device did not match during a change

// Whether the element is the record's device: its manufacturer, trimmed and lower-cased,
// contains "qv" or "quvari", and the first of its hardware ids equals the record's (both trimmed
// and upper-cased).
bool IsRecordsImageDevice(platform::IDevices& devices, platform::DevInfoSet set,
                          const platform::DevInfoData& element, const DeviceDetails& device);

// What a state change or a service change asks of its caller about a restart.
struct NodeHost {
  // The RESTART_MSG question; true for Yes.
  std::function<bool()> confirmRestart;
  // The restart itself; true once it was requested.
  std::function<bool()> restart;
};

// Runs `operation` on the Image-class nodes (present or not) that match the record. Query
// writes the first match's problem number into `problem`. False when the class or its set
// cannot be had, nothing matched, or the operation failed; `errorCode` as above.
bool ApplyToMatchingImageDevices(platform::Platform& platform, const DeviceDetails& device,
                                 NodeOperation operation, const NodeHost& host,
                                 std::uint32_t* problem, int& errorCode);

// The groups of Configuration Manager problem numbers: each has its own text, buttons and repair.
enum class ProblemGroup {
  Reinstall,  // the driver package removed and the tree rescanned
  Restart,    // the computer restarted
  Fixable,    // 22: the device enabled; 32: its driver service set to start automatically
  Unknown,    // every other number: the device software uninstalled
};
ProblemGroup GroupOfProblem(int problem);

// What a node repair answers.
inline constexpr int kNodeRepaired = 100;
inline constexpr int kNodeRepairFailed = 103;
inline constexpr int kNodeRestartDeclined = 111;

// The error codes of the repairs.
inline constexpr int kReinstallFailed = 1021;
inline constexpr int kRestartFailed = 1022;
inline constexpr int kEnableFailed = 1023;
inline constexpr int kServiceStartFailed = 1024;

// Removes the driver package of `infPath` from the driver store (difxapi.dll's
// DriverPackageUninstallW, forced) and rescans the device tree from its root; a package whose
// removal needs a restart asks for one instead. False for an empty path.
bool UninstallAndRescan(platform::Platform& platform, const std::wstring& infPath,
                        const NodeHost& host);

// The repair of `problem` for the record's device node, as the device-manager check makes it on
// 32-bit Windows and its 64-bit helper makes it for the check: kNodeRepaired,
// kNodeRepairFailed (with `errorCode` set) or kNodeRestartDeclined. The Unknown group has no
// repair of the node (its uninstall needs the whole device record, which only the check has):
// kNodeRepairFailed.
int RepairDeviceNode(platform::Platform& platform, const DeviceDetails& device,
                     const std::wstring& infPath, int problem, const NodeHost& host,
                     int& errorCode);

}  // namespace kvd::repair
