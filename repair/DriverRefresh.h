// The driver refresh, the start-up rescan of the device tree, and the launches of the 64-bit
// device-manager helper (DeviceManager\DeviceManager.exe beside the program) that both use on a
// 64-bit Windows.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "discovery/DeviceDetails.h"
#include "platform/api/Handles.h"
#include "platform/api/Platform.h"

namespace kvd::repair {

// The error codes of the driver refresh (left untouched on success).
inline constexpr int kRefreshHelperFailed = 1038;    // 64-bit: the update did not end with 107
inline constexpr int kRefreshNoEntry = 1039;         // 32-bit: devmgr.dll has no entry
inline constexpr int kRefreshNoLibrary = 1040;       // 32-bit: devmgr.dll could not be loaded
inline constexpr int kRefreshNotReinstalled = 1041;  // the driver key did not come back

// What the helper's exit code means to its callers.
inline constexpr std::uint32_t kHelperUpdated = 107;      // "-u": the update ran
inline constexpr std::uint32_t kHelperNotStarted = 1;     // no path, or the shell refused
inline constexpr std::uint32_t kHelperNoExitCode = 2000;  // the exit code could not be read
inline constexpr std::uint32_t kStillActive = 259;        // still running when the wait ended

// "{4d36e96c-e325-11ce-bfc1-08002be10318}\0003": a device's own entry under the class key.
// Anything else (an empty text above all) would make a deletion take a whole class, or every
// class of the machine.
bool IsDeviceDriverKey(const std::wstring& key);

// The full path of the device's installed driver package: the Windows INF folder and the file
// named by the "InfPath" value of its driver key. Empty when the driver key is not a device's
// entry, or the value is missing, unreadable, or names anything but an INF file of that folder.
std::wstring DriverPackageInfPath(platform::Platform& platform, const DeviceDetails& device);

// How one helper run went.
struct HelperRun {
  bool started = false;
  bool exitCodeRead = false;
  std::uint32_t exitCode = 0;
};

// The helper's full path: the program's folder + "DeviceManager\\DeviceManager.exe"; nothing
// when the program's own path cannot be read.
std::optional<std::wstring> HelperPath(platform::Platform& platform);

// One quoted item of the helper's parameter string, escaped so that the helper's
// CommandLineToArgvW gives the item back exactly (quotes and trailing backslashes included).
std::wstring Quoted(const std::wstring& item);

// Starts the helper with `parameters` (ShellExecuteExW, "open", SEE_MASK_NOCLOSEPROCESS) and
// waits for it up to `waitMs` (wait::Infinite: until it ends; 0: not at all), or until
// `stopEvent` (0: none) is set, as every wait of the program's threads ends at exit.
HelperRun RunHelper(platform::Platform& platform, const std::wstring& parameters, int show,
                    platform::WindowHandle owner, std::uint32_t waitMs,
                    platform::SyncHandle stopEvent = 0);

// devmgr.dll, loaded from the system folder by full path, and its DeviceProperties_RunDLLW.
struct PropertySheetEntry {
  platform::UniqueLibrary library;
  platform::ProcAddress entry = 0;
};
// Nothing when the library cannot be loaded (errorCode kRefreshNoLibrary) or lacks the entry
// (kRefreshNoEntry).
std::optional<PropertySheetEntry> LoadPropertySheet(platform::Platform& platform, int& errorCode);
// Shows the property sheet of the device with `instanceId` and returns when the user closes it.
void ShowPropertySheet(platform::Platform& platform, const PropertySheetEntry& sheet,
                       const std::wstring& instanceId);

// What the refresh needs from its caller.
struct RefreshHost {
  // Shows the instruction dialog modally and returns when it is closed.
  std::function<void()> showInstructions;
  // The owner of the helper's window (the manager's page).
  platform::WindowHandle owner = 0;
  // Set at the program's exit: the refresh stops waiting for the helper.
  platform::SyncHandle stopEvent = 0;
};

// Deletes the device's driver key and lets the user update the driver (the property sheet
// through devmgr.dll on 32-bit Windows, the helper's "-u" on 64-bit Windows); true when the
// driver key exists again afterwards. On failure `errorCode` gets one of the codes above.
bool RefreshDrivers(platform::Platform& platform, const DeviceDetails& device,
                    const RefreshHost& host, int& errorCode);

// The 64-bit branch: the helper's exit code after "-u", kHelperNoExitCode when it cannot be
// read, kHelperNotStarted when it could not be started.
int RefreshDrivers64(platform::Platform& platform, const DeviceDetails& device,
                     const RefreshHost& host);

// The start-up rescan of the device tree: the helper's "-r" (not waited for) on 64-bit Windows,
// CM_Reenumerate_DevNode_Ex from the root on 32-bit Windows. False only when the program's own
// path is unknown on 64-bit Windows.
bool ReenumerateDeviceManager(platform::Platform& platform);

}  // namespace kvd::repair
