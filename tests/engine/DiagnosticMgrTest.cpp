// The diagnostic manager driven the way the diagnosis page drives it (timer 1004 after a posted
// 1030, a stop on any other result, Fix, Skip), on the simulated machine's UI thread, with checks
// whose outcomes each test sets.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <map>
#include <mutex>
#include <new>
#include <stdexcept>
#include <thread>
#include <vector>

#include "engine/DiagnosticMgr.h"
#include "issues/KVDConnectionIssue.h"
#include "platform/sim/SimMachine.h"
#include "strings/StringTable.h"
#include "system/Helper.h"
#include "tests/support/CheckTables.h"
#include "tests/support/ScenarioSim.h"
#include "tests/support/SimLog.h"
#include "tests/support/SimRunDriver.h"

namespace {

using kvd::platform::WindowHandle;

// A check whose results the test sets; it can also be told to hang until released.
class ScriptedIssue : public CKVDIssue {
 public:
  explicit ScriptedIssue(int index) : index_(index) {}
  int Diagnose(const _DeviceDetails&) override {
    ++runs;
    if (hang) {
      std::unique_lock<std::mutex> lock(mutex_);
      released_.wait(lock, [this] { return !hang; });
    }
    if (throws) throw std::runtime_error("the scanner component threw");
    m_nStatus = result == issue::kPassed ? issue::kStatusPassed : issue::kStatusFailed;
    return result;
  }
  int Fix(const _DeviceDetails&, int lastResult) override {
    lastResultSeen = lastResult;
    if (throws) throw std::bad_alloc();
    if (fixResult == issue::kFixed || fixResult == issue::kFixedToo)
      m_nStatus = issue::kStatusPassed;
    return fixResult;
  }
  void SetHandle(WindowHandle window) override { handle = window; }
  void Release() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      hang = false;
    }
    released_.notify_all();
  }

  std::atomic<int> result{issue::kPassed};
  std::atomic<int> fixResult{issue::kFixed};
  std::atomic<int> runs{0};
  std::atomic<int> lastResultSeen{0};
  std::atomic<bool> hang{false};
  std::atomic<bool> throws{false};
  std::atomic<WindowHandle> handle{0};

 private:
  int index_;
  std::mutex mutex_;
  std::condition_variable released_;
};

struct Family {
  const char* name;
  _DeviceDetails device;
  bool scanButton;
  std::vector<int> checks;
};

_DeviceDetails Device(bool tarvel, bool ostrel, bool lumeq) {
  _DeviceDetails device;
  device.strDriverKey = L"{6bdd1fc6-810f-11d0-bec7-08002be2092f}\\0003";
  device.bTarvel = tarvel;
  device.bOstrel = ostrel;
  device.bLumeq = lumeq;
  return device;
}

class DiagnosticMgrRun : public ::testing::Test {
 protected:
  void SetUp() override {
    g_hListenEvent = sim_.Ports().sync.CreateEvent(false, false, L"Listen_Event");
    manager_ =
        std::make_unique<CDiagnosticMgr>(sim_.Ports(), kvd::test::ScriptedChecks([this](int index) {
                                           auto check = std::make_unique<ScriptedIssue>(index);
                                           checks_[static_cast<std::size_t>(index)] = check.get();
                                           return check;
                                         }));
    manager_->Init();
    page_ = std::make_unique<kvd::test::SimRunDriver>(sim_, *manager_);
    window_ = page_->Window();
    g_hWatchTarget = window_;
    manager_->SetHandle(window_);
    sim_.Ports().sync.SetEvent(g_hListenEvent);  // what the device page does after SetHandle
    manager_->JoinThreads();                     // the enumeration thread took the signal
    sim_.Messages().RunUntilIdle();
  }

  void TearDown() override {
    for (ScriptedIssue* check : checks_) {
      if (check != nullptr) check->Release();
    }
    EndWatchers();
    manager_->JoinThreads();
    sim_.Messages().RunUntilIdle();
    manager_.reset();
    g_hWatchTarget = 0;
  }

  void EndWatchers(std::size_t left = 0) {
    kvd::test::SimRunDriver::EndWatchers(sim_, *manager_, left);
  }

  void StartRun(const _DeviceDetails& device, bool scanButton) {
    page_->StartRun(device, scanButton);
  }
  void Skip() { page_->Skip(); }
  bool FixNow() { return page_->FixNow(); }
  std::vector<int> Started() { return page_->Started(); }
  std::vector<std::pair<int, std::uintptr_t>> Results() { return page_->Results(); }
  int Completions() { return page_->Completions(); }
  // Starts a run for `device` and lets it go on until check `index` runs (which may hang).
  void RunUntilCheckRuns(const _DeviceDetails& device, int index) {
    manager_->MutableDevices().assign(1, device);
    manager_->StartRun();
    sim_.Messages().SetTimer(window_, kvd::test::SimRunDriver::kRunTimer, 100);
    while (checks_[static_cast<std::size_t>(index)]->runs == 0) {
      sim_.Messages().RunUntilIdle();
      sim_.Messages().AdvanceToNextTimer();
      std::this_thread::yield();
    }
  }
  // The texts of the records of one tag written since the last call.
  std::vector<std::wstring> Logged(const wchar_t* tag) { return log_.Texts(tag); }
  static bool Has(const std::vector<std::wstring>& texts, const std::wstring& text) {
    return std::find(texts.begin(), texts.end(), text) != texts.end();
  }
  static int CountOf(const std::vector<std::wstring>& texts, const std::wstring& text) {
    return static_cast<int>(std::count(texts.begin(), texts.end(), text));
  }
  // Lets simulated time pass in steps of `step` ms while `busy` runs on another thread; the
  // simulated time it took.
  std::uint32_t TimeOf(const std::function<void()>& busy, std::uint32_t step = 100) {
    std::atomic<bool> done{false};
    const std::uint32_t start = sim_.Clock().Tick();
    std::thread runner([&] {
      busy();
      done = true;
    });
    while (!done) {
      if (sim_.Sync().BlockedEventWaits() > 0) sim_.Clock().Advance(step);
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    runner.join();
    return sim_.Clock().Tick() - start;
  }

  kvd::sim::SimMachine sim_;
  kvd::test::SimLog log_{sim_};
  std::unique_ptr<CDiagnosticMgr> manager_;
  std::unique_ptr<kvd::test::SimRunDriver> page_;
  std::array<ScriptedIssue*, 13> checks_{};
  WindowHandle window_ = 0;
  int device_ = 0;
};

TEST_F(DiagnosticMgrRun, EachFamilyRunsItsChecksInOrder) {
  const Family families[] = {
      {"all-in-one with a scan button",
       Device(false, false, false),
       true,
       {0, 1, 2, 3, 4, 5, 6, 7, 8, 12}},
      {"all-in-one without a scan button",
       Device(false, false, false),
       false,
       {0, 1, 2, 3, 4, 5, 6, 7, 8}},
      {"Tarvel", Device(true, false, false), false, {0, 1, 2, 3, 5, 6, 7, 12}},
      {"Ostrel", Device(false, true, false), true, {0, 1, 3, 5, 6, 9}},
      {"Lumeq", Device(false, false, true), true, {0, 1, 3, 5, 10, 11}},
  };
  for (const auto& family : families) {
    SCOPED_TRACE(family.name);
    StartRun(family.device, family.scanButton);
    EXPECT_EQ(Started(), family.checks);
    EXPECT_EQ(Completions(), 1);
    EXPECT_TRUE(manager_->m_bComplete);
    EXPECT_TRUE(manager_->AllIssuesPassed());
    for (const auto& [index, wParam] : Results()) EXPECT_EQ(wParam, 0u) << index;
  }
  EXPECT_EQ(page_->DevicesReady(), 1);  // the enumeration thread answered the page once
}

TEST_F(DiagnosticMgrRun, AFailureStopsTheRunUntilSkipOrFix) {
  checks_[12]->result = 42;
  StartRun(Device(false, false, false), true);
  EXPECT_EQ(Started().back(), 12);
  EXPECT_EQ(Results().back(), (std::pair<int, std::uintptr_t>{12, 42}));
  EXPECT_EQ(Completions(), 0);
  EXPECT_FALSE(manager_->AllIssuesPassed());
  Skip();
  EXPECT_EQ(Completions(), 1);

  checks_[4]->result = 7;
  StartRun(Device(false, false, false), true);
  EXPECT_EQ(Started().back(), 4);
  EXPECT_TRUE(FixNow());  // fixed with result 1: the run goes on from the next check
  EXPECT_EQ(checks_[4]->lastResultSeen.load(), 7);
  EXPECT_EQ(Started(), (std::vector<int>{0, 1, 2, 3, 4, 5, 6, 7, 8, 12}));
  EXPECT_EQ(Completions(), 0);  // check 12 still fails
  EXPECT_EQ(Results().back(), (std::pair<int, std::uintptr_t>{12, 42}));
}

TEST_F(DiagnosticMgrRun, FixResults) {
  struct Case {
    int fixResult;
    std::uintptr_t reported;
    bool fixed;
  };
  const Case cases[] = {{1, msg::kFixSucceeded, true},
                        {100, msg::kFixSucceeded, true},
                        {111, msg::kFixFailed, false},
                        {5, msg::kFixFailed, false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.fixResult);
    checks_[3]->result = 9;
    checks_[3]->fixResult = c.fixResult;
    StartRun(Device(false, true, false), false);
    ASSERT_EQ(Started().back(), 3);
    EXPECT_EQ(FixNow(), c.fixed);
    const auto results = Results();
    const auto fixReport = std::find_if(results.begin(), results.end(), [](const auto& r) {
      return r.second == msg::kFixSucceeded || r.second == msg::kFixFailed;
    });
    ASSERT_NE(fixReport, results.end());
    EXPECT_EQ(*fixReport, (std::pair<int, std::uintptr_t>{3, c.reported}));
    EXPECT_EQ(Completions(), c.fixed ? 1 : 0);
  }
}

TEST_F(DiagnosticMgrRun, AHoldOnCompletionIsReleasedByMovingOn) {
  // An all-in-one device without a scan button: its last check is 8. A hold left there (a
  // repair that needs the user) must not keep the run from completing once the user skips.
  checks_[8]->result = 3;
  StartRun(Device(false, false, false), false);
  ASSERT_EQ(Started().back(), 8);
  manager_->m_bHoldCompletion = true;
  Skip();
  EXPECT_EQ(Completions(), 1);
  EXPECT_FALSE(manager_->m_bHoldCompletion);

  // A new run starts without an old hold.
  manager_->m_bHoldCompletion = true;
  checks_[8]->result = issue::kPassed;
  StartRun(Device(false, false, false), false);
  EXPECT_EQ(Completions(), 1);
}

TEST_F(DiagnosticMgrRun, TheVerdictCountsOnlyTheChecksOfThisRun) {
  checks_[9]->result = 5;  // QV Scan fails for an Ostrel device
  StartRun(Device(false, true, false), false);
  ASSERT_EQ(Started().back(), 9);
  EXPECT_FALSE(manager_->AllIssuesPassed());
  // The same manager then runs an all-in-one device, which has no check 9: all of its pass.
  StartRun(Device(false, false, false), false);
  EXPECT_EQ(Completions(), 1);
  EXPECT_TRUE(manager_->AllIssuesPassed());
}

// The pages call these from their window procedures: a device index outside the array fails
// the check the run is at (or answers false), and no exception leaves the engine.
TEST_F(DiagnosticMgrRun, IndexesOutsideTheDeviceArray) {
  manager_->MutableDevices().assign(1, Device(false, false, false));
  manager_->m_nCurrentIssue = 4;
  EXPECT_NO_THROW(manager_->Diagnose(1));
  EXPECT_EQ(Results().back(),
            (std::pair<int, std::uintptr_t>{4, CDiagnosticMgr::kUnexpectedFailure}));
  EXPECT_EQ(checks_[4]->m_nStatus, issue::kStatusFailed);
  EXPECT_EQ(checks_[4]->m_nButtons, button::Navigation | button::Skip);
  EXPECT_EQ(checks_[4]->runs.load(), 0);
  EXPECT_FALSE(manager_->Fix(-1));
  EXPECT_FALSE(manager_->Fix(3));
  EXPECT_EQ(Results().back(), (std::pair<int, std::uintptr_t>{4, msg::kFixFailed}));
  manager_->m_nCurrentIssue = 13;
  EXPECT_FALSE(manager_->Fix(0));
  EXPECT_FALSE(manager_->IsTarvel(2));
  EXPECT_FALSE(manager_->IsTarvel(-1));
  manager_->MutableDevices().clear();
  EXPECT_FALSE(manager_->IsLumeq(0));
}

TEST_F(DiagnosticMgrRun, AHungScannerCheckIsReportedAfterEightySecondsOfSimulatedTime) {
  checks_[2]->hang = true;
  // The timer starts the run; checks 0 and 1 pass; check 2 hangs.
  RunUntilCheckRuns(Device(true, false, false), 2);
  ASSERT_EQ(checks_[2]->runs.load(), 1);
  EndWatchers(1);  // the hung check itself stays
  sim_.Messages().RunUntilIdle();
  EXPECT_EQ(page_->NotResponding(), 1);
  const auto boxes = sim_.Shell().Boxes();
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].owner, window_);

  // The user starts again; the hung check ends later and reports into nothing.
  manager_->StartRun();
  const auto resultsBefore = Results().size();
  checks_[2]->Release();
  manager_->JoinThreads();
  sim_.Messages().RunUntilIdle();
  EXPECT_EQ(Results().size(), resultsBefore);
  EXPECT_EQ(manager_->m_nCurrentIssue.load(), 0);
}

// An exception out of a check is that check's failure: the page is told as for any problem, the
// log says why, and the user can skip it; an exception out of a repair is a failed repair.
TEST_F(DiagnosticMgrRun, AnExceptionInACheckIsAFailedCheck) {
  checks_[3]->throws = true;
  StartRun(Device(false, true, false), false);
  ASSERT_EQ(Started().back(), 3);
  EXPECT_EQ(Results().back(),
            (std::pair<int, std::uintptr_t>{3, CDiagnosticMgr::kUnexpectedFailure}));
  EXPECT_EQ(checks_[3]->m_nStatus, issue::kStatusFailed);
  EXPECT_EQ(checks_[3]->m_nButtons, button::Navigation | button::Skip);
  EXPECT_TRUE(
      Has(Logged(L"##"), L"The check WIA failed unexpectedly: the scanner component threw"));
  EXPECT_FALSE(FixNow());
  EXPECT_EQ(Results().back(), (std::pair<int, std::uintptr_t>{3, msg::kFixFailed}));
  EXPECT_TRUE(Has(Logged(L"##"), L"The check WIA failed unexpectedly: std::bad_alloc"));
  Skip();
  EXPECT_EQ(Started(), (std::vector<int>{0, 1, 3, 5, 6, 9}));
  EXPECT_EQ(Completions(), 1);
}

// A watched check ends its watchdog whether or not it signals: no watchdog outlives its check
// by 80 seconds to report a hang of a check that is long gone (nor does resetting the event for
// the next watched check take anything from it).
TEST_F(DiagnosticMgrRun, AWatchdogEndsWithItsCheck) {
  StartRun(Device(false, false, false), false);
  ASSERT_EQ(Completions(), 1);
  EXPECT_EQ(manager_->RunningThreads(), 0u);  // no simulated second has passed
  const auto info = Logged(L"I0");
  EXPECT_EQ(CountOf(info, L"Start Thread watch"), 3);
  EXPECT_EQ(CountOf(info, L"Exit Thread watch"), 3);
  EXPECT_FALSE(Has(info, L"Thread timeout"));
  sim_.Clock().Advance(80001);
  EXPECT_EQ(page_->NotResponding(), 0);
  EXPECT_TRUE(sim_.Shell().Boxes().empty());
}

// A wait that fails is no timeout: no "not responding", no box, an error record instead.
TEST_F(DiagnosticMgrRun, AFailedWatchIsNoHang) {
  struct Case {
    const char* name;
    std::function<void(kvd::sim::SimMachine&)> arrange;
    std::wstring logged;
  };
  const Case cases[] = {
      {"the wait fails",
       [](kvd::sim::SimMachine& sim) {
         sim.InjectFault("WaitForMultipleObjects", 1, kvd::platform::err::InvalidHandle);
       },
       L"The watch on Listen_Event failed - 6"},
      {"no event to wait on",
       [](kvd::sim::SimMachine& sim) { sim.Ports().sync.CloseHandle(g_hListenEvent.exchange(0)); },
       L"Listen_Event is missing: the scanner check is not watched."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    checks_[2]->hang = true;
    Logged(L"##");
    c.arrange(sim_);
    RunUntilCheckRuns(Device(true, false, false), 2);
    // The watchdog ends at once, without simulated time: advancing the clock here (as
    // EndWatchers does) could turn a watchdog still on its way into a real 80-second timeout
    // on a slow machine, and report a hang that is not the one under test.
    for (int waited = 0; manager_->RunningThreads() > 1 && waited < 10000; ++waited) {
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    EXPECT_LE(manager_->RunningThreads(), 1u);
    EXPECT_TRUE(Has(Logged(L"##"), c.logged));
    EXPECT_EQ(page_->NotResponding(), 0);
    EXPECT_TRUE(sim_.Shell().Boxes().empty());
    checks_[2]->Release();
    checks_[2]->runs = 0;
    EndWatchers();
    // The run of this case ends before the next case gives the manager its device again: a
    // worker of this run that still copies the record would race with that.
    sim_.Messages().KillTimer(window_, kvd::test::SimRunDriver::kRunTimer);
    manager_->JoinThreads();
    sim_.Messages().RunUntilIdle();
    manager_->JoinThreads();
  }
}

// The exit with a check that hangs: the shutdown returns after its bound of simulated time and
// says a thread is left; the hung check's watchdog ends at once without a box; what the check
// does afterwards reaches nobody.
TEST_F(DiagnosticMgrRun, ShutdownLeavesAHungCheckBehindWithinItsBound) {
  checks_[5]->hang = true;
  RunUntilCheckRuns(Device(false, false, true), 5);
  while (manager_->RunningThreads() > 2) std::this_thread::yield();
  ASSERT_EQ(manager_->RunningThreads(), 2u);  // the check and its watchdog
  Logged(L"DB");
  const auto resultsBefore = Results().size();
  bool ended = true;
  const std::uint32_t took = TimeOf([&] { ended = manager_->Shutdown(2000); });
  EXPECT_FALSE(ended);
  // Time goes on in steps of 100 ms while the shutdown waits: a few steps past its bound at most,
  // far from the 20 or 80 seconds of any wait of the threads it ends.
  EXPECT_GE(took, 2000u);
  EXPECT_LE(took, 3000u);
  EXPECT_EQ(manager_->RunningThreads(), 1u);
  EXPECT_TRUE(Has(Logged(L"DB"), L"The program ends: the watch ends with it."));
  EXPECT_TRUE(sim_.Shell().Boxes().empty());
  checks_[5]->Release();
  manager_->JoinThreads();
  sim_.Messages().RunUntilIdle();
  EXPECT_EQ(Results().size(), resultsBefore);
  manager_->Diagnose(0);  // a late timer of the page starts nothing any more
  EXPECT_EQ(manager_->RunningThreads(), 0u);
}

// Threads are reaped as they end: a long session does not pile them up.
TEST_F(DiagnosticMgrRun, ThreadsAreReapedAsTheyEnd) {
  for (int run = 0; run < 30; ++run) {
    StartRun(Device(false, false, false), true);
    ASSERT_EQ(Completions(), 1);
  }
  // Each run starts 13 threads (ten workers, three watchdogs); what is held is at most the
  // last few, not hundreds.
  EXPECT_LE(manager_->HeldThreads(), 4u);
}

// Every slot of the program's table builds its check under its own name; a table with a slot
// that builds nothing is refused before any run.
TEST(DiagnosticMgrTable, EverySlotBuildsItsCheck) {
  kvd::sim::SimMachine sim;
  const CheckTable table = ProgramCheckTable();
  for (const CheckRow& row : table) {
    SCOPED_TRACE(row.id);
    ASSERT_TRUE(row.factory);
    const std::unique_ptr<CKVDIssue> check = row.factory(sim.Ports());
    ASSERT_NE(check, nullptr);
    EXPECT_EQ(check->m_strName, GlobalLag.GetString(row.nameKey));
  }
  CheckTable holed = table;
  holed[8].factory = nullptr;
  CDiagnosticMgr manager(sim.Ports(), holed);
  manager.SetEnumerator([](std::vector<_DeviceDetails>&) {});
  EXPECT_THROW(manager.Init(), std::invalid_argument);
}

TEST(DiagnosticMgrEnumeration, WithoutTheDevicePageTheWaitTimesOut) {
  kvd::sim::SimMachine sim;
  g_hListenEvent = sim.Ports().sync.CreateEvent(false, false, L"Listen_Event");
  {
    CDiagnosticMgr manager(sim.Ports(), ProgramCheckTable());
    bool enumerated = false;
    manager.SetEnumerator([&](std::vector<_DeviceDetails>& devices) {
      devices.push_back(Device(false, false, true));
      enumerated = true;
    });
    manager.Init();
    // Nobody signals: the 20-second wait ends on the simulated clock, whenever the thread began
    // waiting.
    std::atomic<bool> joined{false};
    std::thread joiner([&] {
      manager.JoinThreads();
      joined = true;
    });
    while (!joined) {
      sim.Clock().Advance(20001);
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    joiner.join();
    EXPECT_TRUE(enumerated);
    EXPECT_EQ(manager.Devices().size(), 1u);
    EXPECT_TRUE(manager.IsLumeq(0));
  }
  EXPECT_EQ(g_hListenEvent.load(), 0u);  // the manager closed the event
}

}  // namespace

namespace {

// Without a test's hooks the manager lists the machine's devices itself and runs the real
// connection check first: an unplugged all-in-one stops the run at once with its USB text.
TEST(DiagnosticMgrDefaults, TheMachinesDevicesAndTheConnectionCheck) {
  kvd::sim::SimMachine sim;
  kvd::test::ApplyNamed("usb-aio-unplugged.xml", sim);
  g_hListenEvent = sim.Ports().sync.CreateEvent(false, false, L"Listen_Event");
  {
    CDiagnosticMgr manager(sim.Ports(), ProgramCheckTable());
    manager.Init();
    sim.Ports().sync.SetEvent(g_hListenEvent);
    manager.JoinThreads();
    ASSERT_EQ(manager.Devices().size(), 1u);
    EXPECT_EQ(manager.Devices()[0].strFriendlyName, L"Quvari AIO 3400 Series");
    ASSERT_NE(dynamic_cast<CKVDConnectionIssue*>(manager.Issue(0)), nullptr);
    EXPECT_EQ(dynamic_cast<CKVDConnectionIssue*>(manager.Issue(1)), nullptr);

    kvd::test::SimRunDriver page(sim, manager);
    manager.SetHandle(page.Window());
    page.StartRun(manager.Devices()[0], false);
    EXPECT_EQ(manager.m_nCurrentIssue.load(), 0);
    EXPECT_EQ(manager.Issue(0)->m_nStatus, issue::kStatusFailed);
    EXPECT_EQ(manager.Issue(0)->m_nErrorCode, 1000);
    sim.Messages().RunUntilIdle();
  }
}

}  // namespace
