// The Windows (WIA) scan check: the Windows Image Acquisition service runs (started when it does
// not), and a test scan through WIA works; when it does not, why: the device is not reachable,
// the Windows 7 upgrade problem of the imaging software, the user cancelled, or WIA fails.
#pragma once

#include <functional>

#include "engine/KVDIssue.h"
#include "platform/api/Platform.h"

class CKVDWindowsScanIssue : public CKVDIssue {
 public:
  // One test scan through WIA (WiaWrap::WiaGetImage): 0 an image was transferred, 1 a WIA
  // dialog was cancelled, negative a failure. It signals "Listen_Event" on every way out.
  using WiaScan =
      std::function<int(const _DeviceDetails& device, kvd::platform::WindowHandle owner)>;

  CKVDWindowsScanIssue(kvd::platform::Platform& platform, WiaScan scan);

  int Diagnose(const _DeviceDetails& device) override;
  // The service is repaired during Diagnose: nothing is left to do.
  int Fix(const _DeviceDetails& device, int lastResult) override;
  void SetHandle(kvd::platform::WindowHandle window) override {
    m_hParentWnd = window;
    m_hNotifyWnd = window;
  }

  // The outcome's text, status, buttons (and error code for the unreachable cases); `code`.
  int SetUI(int code);
  // 107 when the WIA service (stisvc) is usable, 0 when it is not.
  int CheckWIAService();
  // The service set to start automatically and started; errorCode 1044 / 1045 otherwise.
  bool FixWIAServiceIssue(int& errorCode);

  // The outcomes Diagnose answers besides a pass (107).
  static constexpr int kServiceError = 108;
  static constexpr int kWin7Upgrade = 114;
  static constexpr int kNetworkUnreachable = 115;
  static constexpr int kUsbUnreachable = 116;
  static constexpr int kUserCancelled = 100012;
  static constexpr int kScanFailed = 0;

  kvd::platform::WindowHandle m_hParentWnd = 0;

 private:
  void SignalListen();

  kvd::platform::Platform& m_platform;
  WiaScan m_scan;
};
