// The front-panel check: pressing the scan button on the device starts a scan on this computer.
// A Tarvel device needs a still-image scan event whose default handler starts a program that
// exists; an all-in-one device needs at least one scan-button shortcut in the maker's device
// scan-settings library. The repair starts the Tarvel driver's button-settings program, or
// Tabbor with its scan-button settings command, and asks the library again after Tabbor had
// time to apply it.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "engine/KVDIssue.h"
#include "platform/api/Platform.h"

class CKVDFrontPanelIssue : public CKVDIssue {
 public:
  // What the check reads of the run and the program, and the hold on the run's completion it
  // sets while an all-in-one device is diagnosed (a pass releases it).
  struct Services {
    std::function<bool()> wiaPassed;
    std::function<bool()> twainPassed;
    std::function<bool()> dashraPresent;
    std::function<bool()> simulatingTarvel;
    std::function<void(bool)> holdCompletion;
  };

  // How long Tabbor is given to apply the scan-button setting before the library is asked again.
  static constexpr std::uint32_t kTabborSettleMs = 20000;

  explicit CKVDFrontPanelIssue(kvd::platform::Platform& platform, Services services = {});

  // 107 when the button works, 100020 for a problem, 0 for an unknown simulated case.
  int Diagnose(const _DeviceDetails& device) override;
  // 1 repaired, 0 not.
  int Fix(const _DeviceDetails& device, int lastResult) override;
  void SetHandle(kvd::platform::WindowHandle) override {}

  // The Tarvel device's scan event: 0 its handler's program exists, -1 not answerable.
  int IsFrontPanelIssueExist(const std::wstring& driverKey);
  // The device's scan-button shortcuts: 0 found, 1 none, -1 not answerable.
  int IsProblemExist(const std::wstring& deviceId);
  bool FixTarvelFronPanelIssue(const _DeviceDetails& device);
  bool FixAiOFrontPanelIssue(const _DeviceDetails& device);

  // Where qvdevset.dll is loaded from: the suite's bin folder, else the system folder; empty
  // when it is in neither.
  std::wstring ScanSettingsLibraryPath();

 private:
  void SetOutcome(int answer, const _DeviceDetails& device);
  bool ScanChecksPassed() const;

  kvd::platform::Platform& m_platform;
  Services m_services;
};
