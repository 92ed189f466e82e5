// The 64-bit device-manager helper's work behind its command line: the same node operations and
// repairs the device-manager check makes itself on 32-bit Windows, for a 32-bit program that
// cannot reach the native device tree on 64-bit Windows.
#pragma once

#include <string>
#include <vector>

#include "platform/api/Platform.h"
#include "repair/DeviceNode.h"

namespace kvd::repair {

// The helper's exit code for a command line it does not understand (ERROR_INVALID_PARAMETER);
// it ends with kHelperNoExitCode (2000) when it fails itself.
inline constexpr int kHelperBadCommandLine = 87;

// Runs one command line, `items` being its items after the program's own name as
// CommandLineToArgvW splits them, and answers the exit code the caller relies on:
//   "-d" <description> <hardware id>: the matching node's problem number (0: none), 100 when no
//        node matches or its status cannot be read;
//   "-f" <description> <hardware id> <INF path> <problem>: 100, 103 or 111 (RepairDeviceNode);
//   "-u" <instance id>: 107 once the device's property sheet is closed, else 1040 / 1039;
//   "-r": the CONFIGRET of the rescan from the root.
// `host` asks the user about a restart and makes it.
int RunDeviceManagerHelper(platform::Platform& platform, const std::vector<std::wstring>& items,
                           const NodeHost& host);

}  // namespace kvd::repair
