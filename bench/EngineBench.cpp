// The engine's own cost of a run: every check of an all-in-one device passes at once, the page's
// timers run on the simulated clock and the watchdogs end with their checks, so what is
// measured is the engine's threads, messages and bookkeeping.
#include <benchmark/benchmark.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "engine/DiagnosticMgr.h"
#include "platform/sim/SimMachine.h"
#include "system/Helper.h"
#include "tests/support/CheckTables.h"
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

void BM_FullSimulatedRun(benchmark::State& state) {
  kvd::sim::SimMachine sim;
  g_hListenEvent = sim.Ports().sync.CreateEvent(false, false, L"Listen_Event");
  CDiagnosticMgr manager(
      sim.Ports(), kvd::test::ScriptedChecks([](int) { return std::make_unique<InstantPass>(); }));
  manager.Init();
  kvd::test::SimRunDriver page(sim, manager);
  g_hWatchTarget = page.Window();
  manager.SetHandle(page.Window());
  sim.Ports().sync.SetEvent(g_hListenEvent);
  manager.JoinThreads();

  _DeviceDetails device;
  device.strDriverKey = L"{6bdd1fc6-810f-11d0-bec7-08002be2092f}\\0003";
  for (auto _ : state) {
    page.StartRun(device, true);
    if (page.Completions() != 1) state.SkipWithError("the run did not complete");
  }
  sim.Messages().RunUntilIdle();
  g_hWatchTarget = 0;
}
BENCHMARK(BM_FullSimulatedRun)->Unit(benchmark::kMicrosecond)->UseRealTime();

}  // namespace
