// The threads' owner and their end: an exception ends one thread only, ended threads are
// reaped, a hung one is left behind after a bounded wait, and the enumeration thread's wait for
// the device page tells a timeout from a failed wait and from the program's end.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <stdexcept>
#include <thread>
#include <vector>

#include "app/CheckTable.h"
#include "engine/DiagnosticMgr.h"
#include "platform/sim/SimMachine.h"
#include "system/Helper.h"
#include "system/Threads.h"
#include "tests/support/SimLog.h"
#include "tests/support/SimRunDriver.h"

namespace {

TEST(ThreadGroup, AnExceptionEndsItsThreadOnlyAndEndedThreadsAreReaped) {
  kvd::sim::SimMachine sim;
  kvd::test::SimLog log(sim);
  CThreadGroup group(sim.Ports());
  const auto thrower = group.Start(L"Thrower", [] { throw std::runtime_error("no scanner"); });
  ASSERT_EQ(
      sim.Ports().sync.WaitForSingleObject(thrower.EndedEvent(), kvd::platform::wait::Infinite),
      kvd::platform::wait::Object0);
  EXPECT_TRUE(thrower.HasEnded());
  const auto errors = log.Texts(L"##");
  EXPECT_EQ(errors,
            std::vector<std::wstring>{L"The thread Thrower ended with an exception: no scanner"});

  for (int i = 0; i < 50; ++i) {
    const auto thread = group.Start(L"Short", [] {});
    sim.Ports().sync.WaitForSingleObject(thread.EndedEvent(), kvd::platform::wait::Infinite);
  }
  EXPECT_LE(group.Held(), 1u);
  EXPECT_EQ(group.Reap(), 0u);
  EXPECT_EQ(group.Held(), 0u);
  EXPECT_EQ(group.Find(thrower.Id()).Id(), 0u);  // reaped: nothing to watch any more
}

TEST(ThreadGroup, AHungThreadIsLeftAfterTheBoundAndTheOthersEnd) {
  kvd::sim::SimMachine sim;
  CThreadGroup group(sim.Ports());
  std::atomic<bool> release{false};
  group.Start(L"Hung", [&] {
    while (!release) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  });
  // A waiter that ends when the group is asked to stop.
  group.Start(L"Waiter", [&] {
    sim.Ports().sync.WaitForSingleObject(group.StopEvent(), kvd::platform::wait::Infinite);
  });
  group.RequestStop();
  std::atomic<bool> done{false};
  std::size_t left = 0;
  std::thread waiting([&] {
    left = group.WaitForAll(500);
    done = true;
  });
  const std::uint32_t start = sim.Clock().Tick();
  while (!done) {
    if (sim.Sync().BlockedEventWaits() > 0) sim.Clock().Advance(50);
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  waiting.join();
  EXPECT_EQ(left, 1u);
  EXPECT_GE(sim.Clock().Tick() - start, 500u);
  EXPECT_LE(sim.Clock().Tick() - start, 1000u);  // a few of the 50 ms steps
  release = true;
  group.JoinAll();
  EXPECT_EQ(group.Running(), 0u);
}

_DeviceDetails Lumeq() {
  _DeviceDetails device;
  device.bLumeq = true;
  return device;
}

// The enumeration thread and the device page's acknowledgement.
class EnumerationWait : public ::testing::Test {
 protected:
  void SetUp() override {
    g_hListenEvent = sim_.Ports().sync.CreateEvent(false, false, L"Listen_Event");
    manager_.SetEnumerator(
        [](std::vector<_DeviceDetails>& devices) { devices.push_back(Lumeq()); });
  }
  void TearDown() override { manager_.Shutdown(0); }

  bool Logged(const std::wstring& tag, const std::wstring& text) {
    return kvd::test::SimLog::Contains(records_, tag, text);
  }

  kvd::sim::SimMachine sim_;
  kvd::test::SimLog log_{sim_};
  std::vector<kvd::test::SimLog::Record> records_;
  CDiagnosticMgr manager_{sim_.Ports(), ProgramCheckTable()};
};

// The program ends before any device page came: the wait ends at once, nothing is announced to
// nobody, and no timeout is claimed.
TEST_F(EnumerationWait, TheProgramsEndIsNoTimeoutAndNoAcknowledgement) {
  manager_.Init();
  while (sim_.Sync().BlockedEventWaits() == 0) std::this_thread::yield();
  // The thread ends at once on the program's end: no simulated time needs to pass.
  EXPECT_TRUE(manager_.Shutdown(CDiagnosticMgr::kExitGraceMs));
  records_ = log_.Take();
  EXPECT_TRUE(Logged(L"DB", L"The program ends: the device list is not announced."));
  EXPECT_FALSE(Logged(L"##", L"TIMEOUT: Enumerate Scanners may not update scaners list"));
  EXPECT_EQ(manager_.Devices().size(), 1u);
}

// Without the event, or with a wait that fails, the thread says so instead of "TIMEOUT", and a
// page that registered gets the list; an acknowledgement without a page announces nothing.
TEST(EnumerationWaitFailures, AFailedWaitIsNoTimeout) {
  struct Case {
    const char* name;
    std::function<void(kvd::sim::SimMachine&)> arrange;
    bool page;
    std::wstring logged;
    int announced;
  };
  const Case cases[] = {
      {"no event",
       [](kvd::sim::SimMachine& sim) { sim.Ports().sync.CloseHandle(g_hListenEvent.exchange(0)); },
       true, L"Listen_Event is missing: the device page's acknowledgement cannot come.", 1},
      {"the wait fails",
       [](kvd::sim::SimMachine& sim) {
         sim.InjectFault("WaitForMultipleObjects", 1, kvd::platform::err::InvalidHandle);
       },
       true, L"The wait for the device page failed - 6", 1},
      {"signalled without a page",
       [](kvd::sim::SimMachine& sim) { sim.Ports().sync.SetEvent(g_hListenEvent); }, false,
       L"No device page is registered: the device list is not announced.", 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    kvd::sim::SimMachine sim;
    kvd::test::SimLog log(sim);
    g_hListenEvent = sim.Ports().sync.CreateEvent(false, false, L"Listen_Event");
    CDiagnosticMgr manager(sim.Ports(), ProgramCheckTable());
    manager.SetEnumerator([](std::vector<_DeviceDetails>&) {});
    kvd::test::SimRunDriver page(sim, manager);
    if (c.page) manager.SetHandle(page.Window());
    c.arrange(sim);
    manager.Init();
    manager.JoinThreads();
    sim.Messages().RunUntilIdle();
    const auto records = log.Take();
    EXPECT_TRUE(kvd::test::SimLog::Contains(records, L"##", c.logged) ||
                kvd::test::SimLog::Contains(records, L"DB", c.logged));
    EXPECT_FALSE(kvd::test::SimLog::Contains(
        records, L"##", L"TIMEOUT: Enumerate Scanners may not update scaners list"));
    EXPECT_EQ(page.DevicesReady(), c.announced);
  }
  g_hListenEvent = 0;
}

// An exception in the enumeration keeps what was found so far and ends the thread as usual.
TEST_F(EnumerationWait, AnExceptionInTheEnumerationKeepsWhatWasFound) {
  manager_.SetEnumerator([](std::vector<_DeviceDetails>& devices) {
    devices.push_back(Lumeq());
    throw std::length_error("a description too long");
  });
  manager_.Init();
  sim_.Ports().sync.SetEvent(g_hListenEvent);
  manager_.JoinThreads();
  records_ = log_.Take();
  EXPECT_TRUE(Logged(L"##", L"Enumerating the scanners failed: a description too long"));
  EXPECT_EQ(manager_.Devices().size(), 1u);
}

}  // namespace
