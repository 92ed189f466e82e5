#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "engine/DiagnosticMgr.h"
#include "platform/sim/SimMachine.h"
#include "system/Helper.h"

namespace kvd::test {

// The diagnosis page's part of a run, on the simulated machine's UI thread: continues the run
// with its one-shot timer 1004 after each posted 1030, stops on any other result, and offers
// what the page's Skip and Fix do. Records what the page was told.
class SimRunDriver {
 public:
  static constexpr std::uint32_t kWmTimer = 0x0113;
  static constexpr std::uintptr_t kRunTimer = 1004;
  static constexpr std::uint32_t kRunTimerMs = 100;

  SimRunDriver(sim::SimMachine& sim, CDiagnosticMgr& manager) : sim_(sim), manager_(manager) {
    window_ = sim_.Messages().CreateWindow(
        [this](std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam) {
          return Page(message, wParam, lParam);
        });
  }

  platform::WindowHandle Window() const { return window_; }

  // Lets simulated time pass, 80 seconds at a time, until no more than `left` of the manager's
  // threads run (the watchdogs of hung checks time out; the hung checks themselves stay).
  static void EndWatchers(sim::SimMachine& sim, CDiagnosticMgr& manager, std::size_t left = 0) {
    while (manager.RunningThreads() > left) {
      sim.Clock().Advance(80001);
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  }

  // Starts a run for the device at index 0, whose scan button the driver's registry records.
  void StartRun(const _DeviceDetails& device, bool scanButton) {
    manager_.MutableDevices().assign(1, device);
    const std::wstring data =
        L"SYSTEM\\CurrentControlSet\\Control\\Class\\" + device.strDriverKey + L"\\Devicedata";
    sim_.Registry().PutDword(platform::kHkeyLocalMachine, data, L"HasScanButton",
                             scanButton ? 2 : 1);
    {
      std::lock_guard<std::recursive_mutex> lock(lock_);
      started_.clear();
      results_.clear();
      completions_ = 0;
    }
    manager_.StartRun();
    sim_.Messages().SetTimer(window_, kRunTimer, kRunTimerMs);
    Settle();
  }

  // What the page's Skip does.
  void Skip() {
    if (manager_.MoveNext()) sim_.Messages().SetTimer(window_, kRunTimer, kRunTimerMs);
    Settle();
  }

  // What the page's fix thread does.
  bool FixNow() {
    const bool fixed = manager_.Fix(0);
    if (fixed && !manager_.m_bComplete) sim_.Messages().SetTimer(window_, kRunTimer, kRunTimerMs);
    Settle();
    return fixed;
  }

  // Runs the run until it stops: for the user, or at its end. Answers false when it does not.
  bool Settle() {
    for (int guard = 0; guard < 200; ++guard) {
      // A due timer makes the page start a worker; the second pass waits for that worker and
      // handles what it posted.
      for (int pass = 0; pass < 2; ++pass) {
        manager_.JoinThreads();
        sim_.Messages().RunUntilIdle();
      }
      if (!sim_.Messages().AdvanceToNextTimer()) return true;
    }
    return false;
  }

  std::vector<int> Started() {
    std::lock_guard<std::recursive_mutex> lock(lock_);
    return started_;
  }
  std::vector<std::pair<int, std::uintptr_t>> Results() {
    std::lock_guard<std::recursive_mutex> lock(lock_);
    return results_;
  }
  int Completions() {
    std::lock_guard<std::recursive_mutex> lock(lock_);
    return completions_;
  }
  int DevicesReady() {
    std::lock_guard<std::recursive_mutex> lock(lock_);
    return devicesReady_;
  }
  int NotResponding() {
    std::lock_guard<std::recursive_mutex> lock(lock_);
    return notResponding_;
  }

 private:
  std::intptr_t Page(std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam) {
    std::lock_guard<std::recursive_mutex> lock(lock_);
    if (message == msg::CheckStarts) started_.push_back(static_cast<int>(lParam));
    if (message == msg::Result) results_.emplace_back(static_cast<int>(lParam), wParam);
    if (message == msg::Complete) ++completions_;
    if (message == msg::DevicesReady) ++devicesReady_;
    if (message == msg::Continue && wParam == msg::kNotResponding) ++notResponding_;
    if (message == msg::Continue && wParam == 0) {
      sim_.Messages().SetTimer(window_, kRunTimer, kRunTimerMs);
    }
    if (message == kWmTimer && wParam == kRunTimer) {
      sim_.Messages().KillTimer(window_, kRunTimer);
      manager_.Diagnose(0);
    }
    return 0;
  }

  sim::SimMachine& sim_;
  CDiagnosticMgr& manager_;
  platform::WindowHandle window_ = 0;
  // The handler runs again inside itself when Diagnose sends from the UI thread.
  std::recursive_mutex lock_;
  std::vector<int> started_;
  std::vector<std::pair<int, std::uintptr_t>> results_;
  int completions_ = 0;
  int devicesReady_ = 0;
  int notResponding_ = 0;
};

}  // namespace kvd::test
