// The driver check: the device's own low-level scan driver works. The driver's scan-folder
// setting is there, and one page scans through the maker's scanner components (Crocan): a
// session, the lock, the lamp, gamma tables and scan parameters, a flatbed page or every page
// in the document feeder, the session closed again. The repair is the driver refresh.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "engine/KVDIssue.h"
#include "issues/DriverRepair.h"
#include "platform/api/Platform.h"

class CKVDDriverIssue : public CKVDIssue {
 public:
  using Repair = DriverRepair;

  // The outcomes Diagnose answers besides a pass (107) and a component's own status.
  static constexpr int kFailedToCommunicate = 12;
  static constexpr int kNotFound = 3;
  static constexpr int kUnexpected = 9;
  static constexpr int kUpdateScanDriver = 109;
  static constexpr int kComponentMissing = 100017;
  // The longest the feeder is asked whether it is ready, and a lamp's warm-up at most: beyond
  // them a component is not answering sensibly (the watchdog reports silence after 80 s).
  static constexpr std::uint32_t kFeederReadyLimitMs = 60000;
  static constexpr std::uint32_t kFeederPollMs = 100;
  static constexpr std::uint32_t kWarmUpLimitSeconds = 120;

  explicit CKVDDriverIssue(kvd::platform::Platform& platform, Repair repair = {});

  int Diagnose(const _DeviceDetails& device) override;
  // The driver refresh: 100 and the check again next, or 2000 with the refresh's error code.
  int Fix(const _DeviceDetails& device, int lastResult) override;
  void SetHandle(kvd::platform::WindowHandle window) override { m_hNotifyWnd = window; }

  // 107 when the driver's scan-folder setting is a non-empty text, else 0.
  int CheckCreateFileName(const _DeviceDetails& device);
  // The result's presentation: a pass after the 22-second settling wait, anything else through
  // SetUI and the progress dialog closed.
  void ManageUI(int code);
  int SetUI(int code);

 private:
  class Conversation;
  int Converse(const _DeviceDetails& device, Conversation& talk);
  // The lamp's warm-up, InitializeScanner and the gamma tables; 107 when the scan can go on.
  int PrepareScan(Conversation& talk, bool flatbed);
  int FlatbedScan(Conversation& talk);
  int FeederScan(Conversation& talk);
  void WarmUp(const Conversation& talk);
  // Ends the conversation on a failure: the log text, the watchdog told, the lock and session
  // given back, the error code, the presentation of `result`; answers `result`.
  int Fail(Conversation& talk, const std::wstring& text, int errorCode, int result);
  void Progress(int percent);
  void SignalListen();

  kvd::platform::Platform& m_platform;
  Repair m_repair;
};
