// The monitor check: the suite's tray monitor is installed and runs exactly once; on the way, the
// maker's Parlo device service is set to run when it does not. The repair ends every monitor that
// runs, starts one, and puts a copy of it in the user's Startup folder for the next logon.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "engine/KVDIssue.h"
#include "platform/api/Platform.h"

class CKVDBVMIssue : public CKVDIssue {
 public:
  // The manager's hold on the run's completion: a failed repair keeps the run from ending until
  // the user decides.
  struct Services {
    std::function<void(bool)> holdCompletion;
  };

  static constexpr const wchar_t* kParloService = L"Parlo Driver QVZ12";
  static constexpr const wchar_t* kMonitorExe = L"qvmonitr.exe";

  explicit CKVDBVMIssue(kvd::platform::Platform& platform, Services services = {});

  // 107 when one monitor runs; 100013 when it is not installed, 100014 when none runs, 100015
  // when several run; a simulated case as it is.
  int Diagnose(const _DeviceDetails& device) override;
  // 1 when the monitor was started again, 0 otherwise.
  int Fix(const _DeviceDetails& device, int lastResult) override;
  void SetHandle(kvd::platform::WindowHandle) override {}

  // 107 when the Parlo service is there, not disabled and not stopped; 0 otherwise.
  int DiagnoseParlo();
  // 1 when the Parlo service was set to start automatically and runs; 0 otherwise.
  int FixParlo();
  // 0 when the monitor was started (and copied into the Startup folder), 1084 otherwise.
  int RunBVM();
  // The ids of the monitor processes running now; true when there is at least one.
  bool FindMonitorProcesses(std::vector<std::uint32_t>& ids);

  std::vector<std::uint32_t> m_arrProcessIds;
  // Cleared once a diagnosis found no monitor: from then on several count as a pass.
  bool m_bCheckMultiple = true;

 private:
  void ShowNotFound();
  void ShowMultiple();
  // Ends the monitor process of `id`, unless the id now belongs to another program.
  bool EndMonitor(std::uint32_t id);

  kvd::platform::Platform& m_platform;
  Services m_services;
};
