// The simulated machine's UI thread (window messages and timers) and its events: what only the
// sim has (timers on the sim clock, destruction with a sender waiting, call counts, faults). The
// send/post sequencing that both tiers share is WindowMessagesContractTest.cpp.
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <ostream>
#include <stdexcept>
#include <thread>
#include <vector>

#include "platform/api/Handles.h"
#include "platform/sim/SimMachine.h"
#include "tests/support/ThreadSync.h"

namespace kvd::sim {

void PrintTo(const SimWindows::Message& m, std::ostream* out) {
  *out << "{window " << m.window << ", message 0x" << std::hex << m.message << std::dec
       << ", wParam " << m.wParam << ", lParam " << m.lParam << (m.sent ? ", sent}" : ", posted}");
}

namespace {

namespace wait = platform::wait;
using platform::kWmUser;
using platform::WindowHandle;
using Message = SimWindows::Message;

constexpr std::uint32_t kGate = kWmUser + 1;
constexpr std::uint32_t kWork = kWmUser + 2;
constexpr std::uint32_t kInner = kWmUser + 3;

using kvd::test::Eventually;
using kvd::test::Gate;

class SimWindowsTest : public ::testing::Test {
 protected:
  SimWindows& windows() { return sim_.Messages(); }
  platform::IWindowMessages& messages() { return sim_.Ports().messages; }
  platform::ISync& sync() { return sim_.Ports().sync; }
  std::uint32_t LastError() { return sim_.Errors().ThreadError(); }

  // A window whose handler blocks the UI thread on kGate until `release` opens, after telling
  // `entered`, and hands every other message to `rest`.
  WindowHandle GatedWindow(Gate& entered, Gate& release,
                           const SimWindows::Handler& rest = nullptr) {
    return windows().CreateWindow([&entered, &release, rest](std::uint32_t message,
                                                             std::uintptr_t w,
                                                             std::intptr_t l) -> std::intptr_t {
      if (message == kGate) {
        entered.Open();
        release.Wait();
        return 0;
      }
      return rest ? rest(message, w, l) : 0;
    });
  }

  SimMachine sim_;
};

// ---------------------------------------------------------------------------------------------
// Messages

// Destroying a window drops what was queued for it, and a sender waiting for it gets 0 without
// its message ever being handled.
TEST_F(SimWindowsTest, DestroyingAWindowReleasesItsWaitingSender) {
  Gate entered;
  Gate release;
  const WindowHandle busy = GatedWindow(entered, release);
  const WindowHandle doomed = windows().CreateWindow([](auto...) { return std::intptr_t{5}; });
  ASSERT_TRUE(messages().PostMessage(busy, kGate, 0, 0));
  entered.Wait();
  ASSERT_TRUE(messages().PostMessage(doomed, kWork, 1, 0));
  std::intptr_t answer = -1;
  std::thread sender([&] { answer = messages().SendMessage(doomed, kWork, 2, 0); });
  ASSERT_TRUE(Eventually([&] { return windows().QueuedSends() == 1; }));
  ASSERT_TRUE(windows().DestroyWindow(doomed));
  sender.join();  // before the UI thread is free again: the destruction released it
  EXPECT_EQ(answer, 0);
  release.Open();
  windows().RunUntilIdle();
  EXPECT_EQ(windows().Delivered(), (std::vector<Message>{{busy, kGate, 0, 0, false}}));
}

TEST_F(SimWindowsTest, RunUntilIdleRefusesTheUiThread) {
  bool threw = false;
  const WindowHandle window = windows().CreateWindow([&](auto...) {
    try {
      windows().RunUntilIdle();
    } catch (const std::logic_error&) {
      threw = true;
    }
    return std::intptr_t{0};
  });
  messages().SendMessage(window, kWork, 0, 0);
  EXPECT_TRUE(threw);
}

// ---------------------------------------------------------------------------------------------
// Timers

// Timers fire when the sim clock reaches them and never by real time; a one-shot timer kills
// itself in its handler, as the pages do; an uncancelled one fires again an interval later.
TEST_F(SimWindowsTest, TimersFireOnTheSimClockOnly) {
  std::vector<std::uint32_t> firedAt;  // UI thread only, read when idle
  WindowHandle window = 0;
  window = windows().CreateWindow([&](std::uint32_t message, std::uintptr_t id, std::intptr_t) {
    if (message == kWmTimer) {
      firedAt.push_back(sim_.Clock().Tick());
      if (id == 7) windows().KillTimer(window, 7);
    }
    return std::intptr_t{0};
  });
  const std::uint32_t start = sim_.Clock().Tick();
  ASSERT_TRUE(windows().SetTimer(window, 7, 5000));
  ASSERT_TRUE(windows().SetTimer(window, 8, 3000));
  ASSERT_TRUE(windows().SetTimer(window, 9, 20000));
  windows().RunUntilIdle();
  sim_.Clock().Advance(2999);
  windows().RunUntilIdle();
  EXPECT_TRUE(windows().Delivered().empty());

  ASSERT_TRUE(windows().AdvanceToNextTimer());
  EXPECT_EQ(sim_.Clock().Tick(), start + 3000);
  windows().RunUntilIdle();
  ASSERT_TRUE(windows().AdvanceToNextTimer());  // 7 at 5000
  windows().RunUntilIdle();
  ASSERT_TRUE(windows().AdvanceToNextTimer());  // 8 again at 6000: it was not killed
  windows().RunUntilIdle();
  EXPECT_TRUE(windows().KillTimer(window, 8));
  EXPECT_FALSE(windows().KillTimer(window, 8));
  EXPECT_FALSE(windows().KillTimer(window, 7));  // killed by its handler
  EXPECT_TRUE(windows().KillTimer(window, 9));
  EXPECT_FALSE(windows().AdvanceToNextTimer());
  EXPECT_EQ(sim_.Clock().Tick(), start + 6000);

  EXPECT_EQ(firedAt, (std::vector<std::uint32_t>{start + 3000, start + 5000, start + 6000}));
  EXPECT_EQ(windows().Delivered(), (std::vector<Message>{{window, kWmTimer, 8, 0, false},
                                                         {window, kWmTimer, 7, 0, false},
                                                         {window, kWmTimer, 8, 0, false}}));
}

TEST_F(SimWindowsTest, TimersAndPostsNeedAWindowThatExists) {
  const WindowHandle destroyed = windows().CreateWindow([](auto...) { return std::intptr_t{7}; });
  ASSERT_TRUE(windows().DestroyWindow(destroyed));
  struct Case {
    const char* name;
    WindowHandle window;
  };
  const Case cases[] = {{"Destroyed", destroyed}, {"NeverMade", 0x4242}, {"None", 0}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    sim_.Errors().SetThreadError(0);
    EXPECT_FALSE(windows().SetTimer(c.window, 1, 100));
    EXPECT_EQ(LastError(), 1400u);
  }
  // Windows takes a post to no window as a message for the calling thread's own queue
  // (PostThreadMessage); the sim has no thread queues and refuses it as it refuses the timer.
  sim_.Errors().SetThreadError(0);
  EXPECT_FALSE(messages().PostMessage(0, kWork, 0, 0));
  EXPECT_EQ(LastError(), 1400u);
  EXPECT_FALSE(windows().AdvanceToNextTimer());
  windows().RunUntilIdle();
  EXPECT_TRUE(windows().Delivered().empty());
}

// WM_TIMER has the lowest priority: a due timer waits for the posted messages.
TEST_F(SimWindowsTest, ADueTimerWaitsForPostedMessages) {
  Gate entered;
  Gate release;
  const WindowHandle window = GatedWindow(entered, release);
  ASSERT_TRUE(windows().SetTimer(window, 1, 100));
  ASSERT_TRUE(messages().PostMessage(window, kGate, 0, 0));
  entered.Wait();
  ASSERT_TRUE(windows().AdvanceToNextTimer());
  ASSERT_TRUE(messages().PostMessage(window, kWork, 1, 0));
  release.Open();
  windows().RunUntilIdle();
  ASSERT_TRUE(windows().KillTimer(window, 1));
  EXPECT_EQ(windows().Delivered(), (std::vector<Message>{{window, kGate, 0, 0, false},
                                                         {window, kWork, 1, 0, false},
                                                         {window, kWmTimer, 1, 0, false}}));
}

// ---------------------------------------------------------------------------------------------
// Events

// Threads that wait on one event until it is set; each answer is kept.
class Waiters {
 public:
  Waiters(platform::ISync& sync, platform::SyncHandle event, int count,
          std::uint32_t milliseconds) {
    for (int i = 0; i < count; ++i) {
      threads_.emplace_back([this, &sync, event, milliseconds] {
        const std::uint32_t result = sync.WaitForSingleObject(event, milliseconds);
        std::lock_guard lock(mutex_);
        results_.push_back(result);
      });
    }
  }
  ~Waiters() { Join(); }
  Waiters(const Waiters&) = delete;
  Waiters& operator=(const Waiters&) = delete;

  std::size_t Done() {
    std::lock_guard lock(mutex_);
    return results_.size();
  }
  std::vector<std::uint32_t> Join() {
    for (auto& thread : threads_) {
      if (thread.joinable()) thread.join();
    }
    std::lock_guard lock(mutex_);
    return results_;
  }

 private:
  std::mutex mutex_;
  std::vector<std::uint32_t> results_;
  std::vector<std::thread> threads_;
};

TEST_F(SimWindowsTest, AutoResetEventReleasesOneWaiterPerSignal) {
  platform::UniqueSync event =
      platform::MakeUniqueSync(sync(), sync().CreateEvent(false, false, nullptr));
  ASSERT_TRUE(event.valid());
  Waiters waiters(sync(), event.get(), 2, wait::Infinite);
  ASSERT_TRUE(Eventually([&] { return sim_.Sync().BlockedEventWaits() == 2; }));
  ASSERT_TRUE(sync().SetEvent(event.get()));
  ASSERT_TRUE(Eventually([&] { return waiters.Done() >= 1; }));
  EXPECT_EQ(waiters.Done(), 1u);
  EXPECT_EQ(sim_.Sync().BlockedEventWaits(), 1u);
  ASSERT_TRUE(sync().SetEvent(event.get()));
  EXPECT_EQ(waiters.Join(), (std::vector<std::uint32_t>{wait::Object0, wait::Object0}));
  EXPECT_EQ(sync().WaitForSingleObject(event.get(), 0), wait::Timeout);

  // A signal nobody waited for stays for the next wait, which takes it.
  ASSERT_TRUE(sync().SetEvent(event.get()));
  EXPECT_EQ(sync().WaitForSingleObject(event.get(), 80000), wait::Object0);
  EXPECT_EQ(sync().WaitForSingleObject(event.get(), 0), wait::Timeout);
}

TEST_F(SimWindowsTest, ManualResetEventReleasesEveryWaiterAndStaysSet) {
  platform::UniqueSync event =
      platform::MakeUniqueSync(sync(), sync().CreateEvent(true, false, nullptr));
  ASSERT_TRUE(event.valid());
  const std::uint32_t start = sim_.Clock().Tick();
  Waiters waiters(sync(), event.get(), 3, 80000);
  ASSERT_TRUE(Eventually([&] { return sim_.Sync().BlockedEventWaits() == 3; }));
  ASSERT_TRUE(sync().SetEvent(event.get()));
  EXPECT_EQ(waiters.Join(),
            (std::vector<std::uint32_t>{wait::Object0, wait::Object0, wait::Object0}));
  EXPECT_EQ(sim_.Clock().Tick(), start);  // a released wait takes no sim time
  EXPECT_EQ(sync().WaitForSingleObject(event.get(), 0), wait::Object0);
  ASSERT_TRUE(sync().ResetEvent(event.get()));
  EXPECT_EQ(sync().WaitForSingleObject(event.get(), 0), wait::Timeout);
}

// The watchdog's 80 s: the wait ends when a test moves the sim clock past it, not before, and
// takes no real 80 s.
TEST_F(SimWindowsTest, TimedEventWaitEndsWhenTheSimClockPassesItsTimeout) {
  platform::UniqueSync event =
      platform::MakeUniqueSync(sync(), sync().CreateEvent(false, false, nullptr));
  ASSERT_TRUE(event.valid());
  const std::uint32_t start = sim_.Clock().Tick();
  {
    Waiters waiter(sync(), event.get(), 1, 80000);
    ASSERT_TRUE(Eventually([&] { return sim_.Sync().BlockedEventWaits() == 1; }));
    sim_.Clock().Advance(79999);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_EQ(waiter.Done(), 0u);
    sim_.Clock().Advance(1);
    EXPECT_EQ(waiter.Join(), (std::vector<std::uint32_t>{wait::Timeout}));
  }
  EXPECT_EQ(sim_.Clock().Tick(), start + 80000);  // the wait moved nothing itself

  // Set from another thread, the same wait ends at once.
  Waiters waiter(sync(), event.get(), 1, 80000);
  ASSERT_TRUE(Eventually([&] { return sim_.Sync().BlockedEventWaits() == 1; }));
  std::thread([&] { sync().SetEvent(event.get()); }).join();
  EXPECT_EQ(waiter.Join(), (std::vector<std::uint32_t>{wait::Object0}));
  EXPECT_EQ(sim_.Clock().Tick(), start + 80000);
}

// Mutexes and events share one namespace; "Local\" names the same object; a handle of the
// other kind is an invalid handle.
TEST_F(SimWindowsTest, EventNamesAndKinds) {
  platform::UniqueSync event =
      platform::MakeUniqueSync(sync(), sync().CreateEvent(true, false, L"Local\\KvdStop"));
  ASSERT_TRUE(event.valid());
  platform::UniqueSync opened = platform::MakeUniqueSync(sync(), sync().OpenEvent(L"KvdStop"));
  ASSERT_TRUE(opened.valid());
  ASSERT_TRUE(sync().SetEvent(opened.get()));
  EXPECT_EQ(sync().WaitForSingleObject(event.get(), 0), wait::Object0);
  EXPECT_TRUE(sim_.Sync().EventExists(L"KvdStop"));
  EXPECT_FALSE(sim_.Sync().MutexExists(L"KvdStop"));
  EXPECT_EQ(sync().OpenEvent(L"kvdstop"), 0u);  // names are case-sensitive
  EXPECT_EQ(LastError(), platform::err::FileNotFound);

  EXPECT_EQ(sync().CreateMutex(false, L"KvdStop"), 0u);
  EXPECT_EQ(LastError(), platform::err::InvalidHandle);
  platform::UniqueSync mutex =
      platform::MakeUniqueSync(sync(), sync().CreateMutex(false, L"KvdBusy"));
  ASSERT_TRUE(mutex.valid());
  EXPECT_EQ(sync().CreateEvent(false, false, L"KvdBusy"), 0u);
  EXPECT_EQ(LastError(), platform::err::InvalidHandle);
  EXPECT_EQ(sync().OpenEvent(L"KvdBusy"), 0u);
  EXPECT_EQ(LastError(), platform::err::InvalidHandle);
  EXPECT_FALSE(sync().SetEvent(mutex.get()));
  EXPECT_EQ(LastError(), platform::err::InvalidHandle);
  EXPECT_FALSE(sync().ReleaseMutex(event.get()));
  EXPECT_EQ(LastError(), platform::err::InvalidHandle);

  event.reset();
  opened.reset();
  EXPECT_FALSE(sim_.Sync().EventExists(L"KvdStop"));
}

// ---------------------------------------------------------------------------------------------
// Faults and counts of the new methods

// Each call through the port counts once, whichever thread makes it: a send from another thread
// (which the UI thread handles, not calls again), and a send and a post from inside a handler.
TEST_F(SimWindowsTest, SendsAndPostsCountOnceOnEveryThread) {
  WindowHandle window = 0;
  window = windows().CreateWindow([&](std::uint32_t message, std::uintptr_t, std::intptr_t) {
    if (message == kWork) {
      messages().SendMessage(window, kInner, 1, 0);
      messages().PostMessage(window, kInner, 2, 0);
    }
    return std::intptr_t{0};
  });
  std::thread([&] { messages().SendMessage(window, kWork, 0, 0); }).join();
  ASSERT_TRUE(messages().PostMessage(window, kGate, 0, 0));
  windows().RunUntilIdle();
  EXPECT_EQ(sim_.CallCount("SendMessage"), 2u);
  EXPECT_EQ(sim_.CallCount("PostMessage"), 2u);
  EXPECT_EQ(windows().Delivered(), (std::vector<Message>{{window, kWork, 0, 0, true},
                                                         {window, kInner, 1, 0, true},
                                                         {window, kInner, 2, 0, false},
                                                         {window, kGate, 0, 0, false}}));
}

TEST_F(SimWindowsTest, EachEventAndMessageMethodCanBeMadeToFail) {
  constexpr std::uint32_t kGenFailure = 31;
  platform::UniqueSync named =
      platform::MakeUniqueSync(sync(), sync().CreateEvent(true, false, L"KvdFaults"));
  ASSERT_TRUE(named.valid());
  const WindowHandle window = windows().CreateWindow([](auto...) { return std::intptr_t{1}; });
  struct Case {
    const char* method;
    std::function<bool()> succeeds;
  };
  const Case cases[] = {
      {"CreateEvent",
       [&] {
         return platform::MakeUniqueSync(sync(), sync().CreateEvent(false, false, nullptr)).valid();
       }},
      {"OpenEvent",
       [&] { return platform::MakeUniqueSync(sync(), sync().OpenEvent(L"KvdFaults")).valid(); }},
      {"SetEvent", [&] { return sync().SetEvent(named.get()); }},
      {"ResetEvent", [&] { return sync().ResetEvent(named.get()); }},
      {"SendMessage", [&] { return messages().SendMessage(window, kWork, 0, 0) == 1; }},
      {"PostMessage", [&] { return messages().PostMessage(window, kWork, 0, 0); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.method);
    const std::uint64_t before = sim_.CallCount(c.method);
    EXPECT_TRUE(c.succeeds());
    sim_.InjectFault(c.method, 1, kGenFailure);
    EXPECT_FALSE(c.succeeds());
    EXPECT_EQ(LastError(), kGenFailure);
    EXPECT_TRUE(c.succeeds());
    EXPECT_EQ(sim_.CallCount(c.method) - before, 3u);
  }
  // The failed SetEvent set nothing.
  ASSERT_TRUE(sync().ResetEvent(named.get()));
  sim_.InjectFault("SetEvent", 1, kGenFailure);
  EXPECT_FALSE(sync().SetEvent(named.get()));
  EXPECT_EQ(sync().WaitForSingleObject(named.get(), 0), wait::Timeout);
  windows().RunUntilIdle();
  // Only the successful calls reached the window: two sends and two posts.
  EXPECT_EQ(windows().Delivered().size(), 4u);
}

}  // namespace
}  // namespace kvd::sim
