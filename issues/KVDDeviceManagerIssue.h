// The device-manager check: the Configuration Manager problem of the device's node, and its
// repair (reinstall and rescan, enable, the driver service's start, restart, uninstall).
#pragma once

#include <string>

#include "engine/KVDIssue.h"
#include "platform/api/Platform.h"

class CKVDDeviceManagerIssue : public CKVDIssue {
 public:
  explicit CKVDDeviceManagerIssue(kvd::platform::Platform& platform);

  int Diagnose(const _DeviceDetails& device) override;
  int Fix(const _DeviceDetails& device, int code) override;
  void SetHandle(kvd::platform::WindowHandle window) override {
    m_hParentWnd = window;
    m_hNotifyWnd = window;
  }

  // The text, buttons and log line of a problem number's group.
  void SetUI(int code);
  // The 64-bit helper's "-d" (diagnose) or "-f" (repair) run: its exit code; 1000 (diagnose) or
  // 2000 (repair) when it cannot be read, 1 when it could not be started. `answered`: whether
  // the helper ran and ended within its minute with an exit code.
  int DeviceManagerIssue64(const _DeviceDetails& device, bool fixMode, int problem,
                           bool* answered = nullptr);

  // What Diagnose answers when the helper gave no answer at all (not started, still running
  // after its minute, no exit code): no problem number of the device's.
  static constexpr int kNoAnswer = 1000;
  static constexpr int kNoDevice = 100;
  static constexpr int kRepairFailed = 103;
  static constexpr int kUninstallBranch = 101;

  kvd::platform::WindowHandle m_hParentWnd = 0;

 private:
  bool OnWow64();
  bool AskYesNo(const wchar_t* key);
  // The Unknown group's repair: the device software uninstalled once the user agrees.
  int UninstallBranch(const _DeviceDetails& device);

  kvd::platform::Platform& m_platform;
};
