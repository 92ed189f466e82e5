// The engine's own cost of a run: every check of an all-in-one device passes at once, the page's
// timers run on the simulated clock and the watchdogs end with their checks, so what is
// measured is the engine's threads, messages and bookkeeping.
#include <benchmark/benchmark.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "app/CheckTable.h"
#include "engine/DiagnosticMgr.h"
#include "issues/KVDDriverIssue.h"
#include "platform/sim/SimMachine.h"
#include "system/Helper.h"
#include "tests/support/CheckTables.h"
#include "tests/support/ScenarioSim.h"
#include "tests/support/SimRunDriver.h"

namespace {

class InstantPass : public CKVDIssue {
 public:
  int Diagnose(const _DeviceDetails&) override {
    m_nStatus = issue::kStatusPassed;
    return issue::kPassed;
  }
  int Fix(const _DeviceDetails&, int) override { return issue::kFixed; }
  void SetHandle(kvd::platform::WindowHandle) override {}
};

constexpr const wchar_t* kDriverKey = L"{6bdd1fc6-810f-11d0-bec7-08002be2092f}\\0003";

// Runs of `device` through the manager with the checks `make` builds, until `state` ends; each
// must complete, and `passed` (when given) must hold after it.
// A manager of `table` that has enumerated, with the page's part of a run and the watchdog's
// target; both are let go of when it ends.
struct ReadyManager {
  ReadyManager(kvd::sim::SimMachine& machine, const CheckTable& table)
      : sim(machine),
        listen(g_hListenEvent = sim.Ports().sync.CreateEvent(false, false, L"Listen_Event")),
        manager(sim.Ports(), table) {
    manager.Init();
    g_hWatchTarget = page.Window();
    manager.SetHandle(page.Window());
    sim.Ports().sync.SetEvent(listen);
    manager.JoinThreads();
  }
  ~ReadyManager() {
    sim.Messages().RunUntilIdle();
    g_hWatchTarget = 0;
  }
  ReadyManager(const ReadyManager&) = delete;
  ReadyManager& operator=(const ReadyManager&) = delete;

  kvd::sim::SimMachine& sim;
  kvd::platform::SyncHandle listen;
  CDiagnosticMgr manager;
  kvd::test::SimRunDriver page{sim, manager};
};

void RunAll(benchmark::State& state, kvd::sim::SimMachine& sim,
            const std::function<std::unique_ptr<CKVDIssue>(int index)>& make,
            const _DeviceDetails& device, const std::function<bool(CDiagnosticMgr&)>& passed = {}) {
  ReadyManager ready(sim, kvd::test::ScriptedChecks(make));
  for (auto _ : state) {
    ready.page.StartRun(device, true);
    if (ready.page.Completions() != 1) state.SkipWithError("the run did not complete");
    if (passed && !passed(ready.manager)) state.SkipWithError("a check did not pass");
  }
}

void BM_FullSimulatedRun(benchmark::State& state) {
  kvd::sim::SimMachine sim;
  _DeviceDetails device;
  device.strDriverKey = kDriverKey;
  RunAll(
      state, sim, [](int) { return std::make_unique<InstantPass>(); }, device);
}
BENCHMARK(BM_FullSimulatedRun)->Unit(benchmark::kMicrosecond)->UseRealTime();

// The same run with the real driver check: a whole flatbed scan through the simulated scanner
// components (gamma tables, 100 lines read in nine blocks, the 22-second settling wait on the
// virtual clock). Compared with the run above, it shows what the check's own work adds to the
// engine's.
void BM_RunWithDriverScan(benchmark::State& state) {
  kvd::sim::SimMachine sim;
  const std::wstring classKey =
      std::wstring(L"SYSTEM\\CurrentControlSet\\Control\\Class\\") + kDriverKey;
  const wchar_t* scannerClass = L"{1D0C2B3A-4E5F-4A6B-8C7D-9E0F1A2B3C4D}";
  sim.Registry().PutString(kvd::platform::kHkeyLocalMachine, classKey, L"CreateFileName", L"x");
  sim.Registry().PutString(kvd::platform::kHkeyLocalMachine, classKey + L"\\Devicedata",
                           L"CrocanCLSID", scannerClass);
  kvd::sim::SimCrocan::Scanner scanner;
  scanner.friendlyName = L"Quvari AIO 3400 Series";
  scanner.classId = *kvd::platform::GuidFromText(scannerClass);
  sim.Crocan().AddScanner(scanner);
  _DeviceDetails device;
  device.strDriverKey = kDriverKey;
  device.strFriendlyName = scanner.friendlyName;
  RunAll(
      state, sim,
      [&sim](int index) -> std::unique_ptr<CKVDIssue> {
        if (index == 2) return std::make_unique<CKVDDriverIssue>(sim.Ports());
        return std::make_unique<InstantPass>();
      },
      device,
      [](CDiagnosticMgr& manager) { return manager.Issue(2)->m_nStatus == issue::kStatusPassed; });
}
BENCHMARK(BM_RunWithDriverScan)->Unit(benchmark::kMicrosecond)->UseRealTime();

// A whole run of the program's thirteen checks for one device of each family, on the machine
// its scenario describes (the suite's files, registry and registrations for the all-in-one),
// Skip taken wherever the run stops. The components' waits are on the virtual clock, so what is
// measured is the engine and the checks' own work.
void BM_RealChecksRun(benchmark::State& state, std::vector<std::string> scenarios) {
  kvd::sim::SimMachine sim;
  for (const std::string& scenario : scenarios) kvd::test::ApplyNamed(scenario, sim);
  kvd::test::InstallTwain(sim);
  ReadyManager ready(sim, ProgramCheckTable());
  CDiagnosticMgr& manager = ready.manager;
  kvd::test::SimRunDriver& page = ready.page;
  if (manager.Devices().empty()) {
    state.SkipWithError("the scenario has no device");
    return;
  }
  const _DeviceDetails device = manager.Devices()[0];
  std::size_t ran = 0;
  for (auto _ : state) {
    page.StartRun(device, true);
    for (int skips = 0; page.Completions() == 0 && skips < kCheckCount; ++skips) page.Skip();
    if (page.Completions() != 1) state.SkipWithError("the run did not complete");
    ran = page.Started().size();
  }
  int passed = 0;
  for (int index = 0; index < kCheckCount; ++index) {
    passed += manager.Issue(index)->m_nStatus == issue::kStatusPassed ? 1 : 0;
  }
  state.counters["checks"] = static_cast<double>(ran);
  state.counters["passed"] = passed;
}
BENCHMARK_CAPTURE(BM_RealChecksRun, AllInOne,
                  std::vector<std::string>{"usb-aio-composite.xml", "suite-tools.xml",
                                           "suite-registry.xml", "suite-scanflow.xml",
                                           "suite-frontpanel.xml"})
    ->Unit(benchmark::kMicrosecond)
    ->UseRealTime();
BENCHMARK_CAPTURE(BM_RealChecksRun, Tarvel, std::vector<std::string>{"usb-tarvel.xml"})
    ->Unit(benchmark::kMicrosecond)
    ->UseRealTime();
BENCHMARK_CAPTURE(BM_RealChecksRun, Ostrel, std::vector<std::string>{"network-ostrel.xml"})
    ->Unit(benchmark::kMicrosecond)
    ->UseRealTime();
BENCHMARK_CAPTURE(BM_RealChecksRun, Lumeq, std::vector<std::string>{"usb-lumeq.xml"})
    ->Unit(benchmark::kMicrosecond)
    ->UseRealTime();

}  // namespace
