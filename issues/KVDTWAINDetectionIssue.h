// The TWAIN check: the device scans through its TWAIN data source. The source that belongs to
// the device is found among the installed ones by name (or the user picks one), opened without
// its user interface, and delivers one image by native transfer, which is thrown away. A failure
// is explained with the Windows scan check's result in mind.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "engine/KVDIssue.h"
#include "platform/api/Platform.h"

class CKVDTWAINDetectionIssue : public CKVDIssue {
 public:
  // What the check needs from the running program: whether the Windows scan check passed in
  // this run, whether the simulation menu runs in its Ostrel mode, the watchdog started again for
  // the check's worker, the manager's watched worker forgotten, and the source selection dialog
  // (the product names; the chosen one's index, nothing for Cancel).
  struct Services {
    std::function<bool()> wiaPassed;
    std::function<bool()> simulatingOstrel;
    std::function<void()> watchAgain;
    std::function<void()> forgetWatched;
    std::function<std::optional<std::size_t>(const std::vector<std::wstring>& names,
                                             kvd::platform::WindowHandle owner)>
        chooseSource;
  };

  // The outcomes (besides a pass, 107).
  static constexpr int kNoLibrary = 100000;
  static constexpr int kManagerNotOpened = 100001;
  static constexpr int kSourceNotOpened = 100002;
  static constexpr int kNoSource = 100003;
  static constexpr int kNotEnabled = 100005;
  static constexpr int kNoEntry = 100008;
  static constexpr int kScanFailed = 100011;
  static constexpr int kUserCancelled = 100012;
  static constexpr int kFilesDiffer = 100018;
  static constexpr int kWin7Upgrade = 100019;
  static constexpr int kNetworkUnreachable = 117;
  static constexpr int kUsbUnreachable = 118;
  // The longest the source is given to deliver its image once it is enabled.
  static constexpr std::uint32_t kTransferLimitMs = 80000;

  CKVDTWAINDetectionIssue(kvd::platform::Platform& platform, Services services = {});

  int Diagnose(const _DeviceDetails& device) override;
  // This check has no repair.
  int Fix(const _DeviceDetails& device, int lastResult) override;
  void SetHandle(kvd::platform::WindowHandle window) override { m_hParentWnd = window; }

  int SetUI(int code);
  // 0 when the device's data-source file and the generic one agree; otherwise 1053 to 1057,
  // or 100024 when the Windows folder is unknown.
  int CheckDataSourceFiles(const std::wstring& instance);

  kvd::platform::WindowHandle m_hParentWnd = 0;

 private:
  int Converse(const _DeviceDetails& device, const std::wstring& target);
  int Unreachable(const _DeviceDetails& device, int result);
  void SignalListen();
  std::wstring WindowsFolder();

  kvd::platform::Platform& m_platform;
  Services m_services;
  // The selected device is an Ostrel or Lumeq device: the outcome texts of that family.
  bool m_bOstrelTexts = false;
};
