// Window messages between threads as the engine and the pages rely on them, checked on every
// target: the simulated UI thread natively, a real message loop on a message-only window under
// Wine.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/TestMachine.h"
#include "tests/support/ThreadSync.h"

namespace kvd::platform {
namespace {

constexpr std::uint32_t kGate = kWmUser + 1;
constexpr std::uint32_t kWork = kWmUser + 2;
constexpr std::uint32_t kInner = kWmUser + 3;

// One message as a test window's handler received it.
struct Received {
  std::uint32_t message = 0;
  std::uintptr_t wParam = 0;
  std::intptr_t lParam = 0;
  bool sentByOther = false;  // InSendMessage: another thread sent it and waits for the answer
  friend bool operator==(const Received&, const Received&) = default;
};

void PrintTo(const Received& r, std::ostream* out) {
  *out << "{message 0x" << std::hex << r.message << std::dec << ", wParam " << r.wParam
       << ", lParam " << r.lParam << (r.sentByOther ? ", sent by another thread}" : ", not}");
}

using kvd::test::Eventually;
using kvd::test::Gate;

class WindowMessagesContract : public ::testing::TestWithParam<test::TargetFactory> {
 protected:
  void SetUp() override { machine_ = GetParam().make(); }

  test::TestMachine& machine() { return *machine_; }
  IWindowMessages& messages() { return machine_->Ports().messages; }
  IErrors& errors() { return machine_->Ports().errors; }
  std::uint32_t ThreadId() { return machine_->Ports().process.GetCurrentThreadId(); }

  // A test window that records each message before `handler` (if any) answers it.
  WindowHandle RecordedWindow(test::TestMachine::MessageHandler handler = nullptr) {
    test::TestMachine* machine = machine_.get();
    return machine->CreateTestWindow([this, machine, handler](std::uint32_t message,
                                                              std::uintptr_t w,
                                                              std::intptr_t l) -> std::intptr_t {
      {
        std::lock_guard lock(mutex_);
        delivered_.push_back(Received{message, w, l, machine->InSendMessage()});
      }
      return handler ? handler(message, w, l) : 0;
    });
  }

  std::vector<Received> Delivered() {
    std::lock_guard lock(mutex_);
    return delivered_;
  }

 private:
  std::mutex mutex_;
  std::vector<Received> delivered_;
  // Last, so that its UI thread ends before the record its handlers write to.
  std::unique_ptr<test::TestMachine> machine_;
};

TEST_P(WindowMessagesContract, CrossThreadSendBlocksUntilHandledAndAnswersTheResult) {
  Gate entered;
  Gate release;
  const WindowHandle window =
      RecordedWindow([&](std::uint32_t message, std::uintptr_t w, std::intptr_t l) {
        if (message != kWork) return std::intptr_t{0};
        entered.Open();
        release.Wait();
        return static_cast<std::intptr_t>(w) * 2 + l;
      });
  ASSERT_NE(window, 0u);
  std::atomic<bool> returned{false};
  std::intptr_t result = 0;
  std::thread sender([&] {
    result = messages().SendMessage(window, kWork, 20, 2);
    returned = true;
  });
  entered.Wait();
  // The handler has not returned yet, so neither may the send.
  EXPECT_FALSE(returned.load());
  release.Open();
  sender.join();
  EXPECT_EQ(result, 42);
  EXPECT_EQ(Delivered(), (std::vector<Received>{{kWork, 20, 2, true}}));
}

// Whoever sends or posts, and from whichever thread, the handler runs on the UI thread, the same
// one each time and none of the callers'.
TEST_P(WindowMessagesContract, HandlersRunOnTheUiThreadNotTheCallers) {
  struct Handled {
    std::uintptr_t wParam;
    bool onUiThread;
    std::uint32_t threadId;
  };
  std::vector<Handled> handled;  // UI thread only, read when idle
  const WindowHandle window =
      machine().CreateTestWindow([&](std::uint32_t, std::uintptr_t w, std::intptr_t) {
        handled.push_back({w, machine().IsUiThread(), ThreadId()});
        return std::intptr_t{1};
      });
  ASSERT_NE(window, 0u);
  const std::uint32_t testThread = ThreadId();
  EXPECT_FALSE(machine().IsUiThread());
  EXPECT_EQ(messages().SendMessage(window, kWork, 1, 0), 1);
  EXPECT_TRUE(messages().PostMessage(window, kWork, 2, 0));
  std::uint32_t otherThread = 0;
  bool otherIsUiThread = true;
  std::intptr_t otherSent = 0;
  bool otherPosted = false;
  std::thread([&] {
    otherThread = ThreadId();
    otherIsUiThread = machine().IsUiThread();
    otherSent = messages().SendMessage(window, kWork, 3, 0);
    otherPosted = messages().PostMessage(window, kWork, 4, 0);
  }).join();
  machine().RunUntilIdle();
  EXPECT_FALSE(otherIsUiThread);
  EXPECT_EQ(otherSent, 1);
  EXPECT_TRUE(otherPosted);

  ASSERT_EQ(handled.size(), 4u);
  for (const Handled& h : handled) {
    SCOPED_TRACE("message " + std::to_string(h.wParam));
    EXPECT_TRUE(h.onUiThread);
    EXPECT_EQ(h.threadId, handled[0].threadId);
    EXPECT_NE(h.threadId, testThread);
    EXPECT_NE(h.threadId, otherThread);
  }
}

// The inner send does not wait for the outer handler to return (it would wait for ever): the
// handler runs inside the call, on the UI thread.
TEST_P(WindowMessagesContract, SendFromInsideAHandlerRunsAtOnce) {
  std::vector<std::string> steps;  // UI thread only, read after the send returned
  WindowHandle window = 0;
  window = RecordedWindow([&](std::uint32_t message, std::uintptr_t, std::intptr_t) {
    if (message == kWork) {
      steps.push_back("outer entered");
      const std::intptr_t inner = messages().SendMessage(window, kInner, 5, 0);
      steps.push_back("outer got " + std::to_string(inner));
      return inner + 1;
    }
    if (message == kInner) {
      steps.push_back(machine().IsUiThread() ? "inner on UI thread" : "inner elsewhere");
      return std::intptr_t{41};
    }
    return std::intptr_t{0};
  });
  ASSERT_NE(window, 0u);
  EXPECT_EQ(messages().SendMessage(window, kWork, 0, 0), 42);
  EXPECT_EQ(steps,
            (std::vector<std::string>{"outer entered", "inner on UI thread", "outer got 41"}));
  // Inside the inner call the UI thread is still handling the test thread's send.
  EXPECT_EQ(Delivered(), (std::vector<Received>{{kWork, 0, 0, true}, {kInner, 5, 0, true}}));
}

// While the UI thread is busy, two posts and then a send queue up: the send is handled first,
// then the posts in their order, then a post made while handling the send.
TEST_P(WindowMessagesContract, PostsArriveInOrderAfterSendsAlreadyPending) {
  Gate entered;
  bool sendSeen = false;  // UI thread only, read when idle
  WindowHandle window = 0;
  window = RecordedWindow([&](std::uint32_t message, std::uintptr_t w, std::intptr_t) {
    if (message == kGate) {
      entered.Open();
      // Only the UI thread can see the send arrive in its queue. The posts were made before it.
      sendSeen = Eventually([&] { return machine().SendPending(); });
      return std::intptr_t{0};
    }
    if (message == kInner) messages().PostMessage(window, kWork, 3, 0);
    return static_cast<std::intptr_t>(w);
  });
  ASSERT_NE(window, 0u);
  ASSERT_TRUE(messages().PostMessage(window, kGate, 0, 0));
  entered.Wait();
  ASSERT_TRUE(messages().PostMessage(window, kWork, 1, 0));
  ASSERT_TRUE(messages().PostMessage(window, kWork, 2, 0));
  std::intptr_t answer = 0;
  std::thread sender([&] { answer = messages().SendMessage(window, kInner, 9, 0); });
  sender.join();
  machine().RunUntilIdle();
  EXPECT_TRUE(sendSeen);
  EXPECT_EQ(answer, 9);
  EXPECT_EQ(Delivered(), (std::vector<Received>{{kGate, 0, 0, false},
                                                {kInner, 9, 0, true},
                                                {kWork, 1, 0, false},
                                                {kWork, 2, 0, false},
                                                {kWork, 3, 0, false}}));
}

TEST_P(WindowMessagesContract, AWindowThatDoesNotExistAnswersZeroAndInvalidWindowHandle) {
  const WindowHandle destroyed = RecordedWindow([](auto...) { return std::intptr_t{7}; });
  ASSERT_NE(destroyed, 0u);
  EXPECT_EQ(messages().SendMessage(destroyed, kWork, 0, 0), 7);
  ASSERT_TRUE(machine().DestroyTestWindow(destroyed));
  EXPECT_FALSE(machine().DestroyTestWindow(destroyed));
  struct Case {
    const char* name;
    WindowHandle window;
    bool post;  // PostMessage refuses it too
  };
  const Case cases[] = {
      {"Destroyed", destroyed, true},
      // Neither tier hands out 0x4242 until thousands of windows were made.
      {"NeverMade", 0x4242, true},
      // Windows takes a post to no window as PostThreadMessage to the calling thread: that
      // succeeds (the sim refuses it; SimWindowsTest keeps that).
      {"None", 0, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    errors().SetLastError(0);
    EXPECT_EQ(messages().SendMessage(c.window, kWork, 0, 0), 0);
    EXPECT_EQ(errors().GetLastError(), err::InvalidWindowHandle);
    if (!c.post) continue;
    errors().SetLastError(0);
    EXPECT_FALSE(messages().PostMessage(c.window, kWork, 0, 0));
    EXPECT_EQ(errors().GetLastError(), err::InvalidWindowHandle);
  }
  machine().RunUntilIdle();
  EXPECT_EQ(Delivered(), (std::vector<Received>{{kWork, 0, 0, true}}));
}

// A timer's WM_TIMER comes on the window's thread with its id, again and again until it is
// killed; time is the clock port's (the simulated machine's moves when the test sleeps on it).
TEST_P(WindowMessagesContract, TimersFireUntilKilled) {
  constexpr std::uint32_t kTimer = 0x0113;
  const WindowHandle window = RecordedWindow();
  ASSERT_NE(window, 0u);
  auto timerTicks = [&] {
    int ticks = 0;
    for (const Received& r : Delivered()) ticks += r.message == kTimer && r.wParam == 1001 ? 1 : 0;
    return ticks;
  };
  auto& clock = machine().Ports().clock;
  ASSERT_TRUE(messages().SetTimer(window, 1001, 20));
  EXPECT_TRUE(Eventually([&] {
    clock.Sleep(25);
    machine().RunUntilIdle();
    return timerTicks() >= 2;
  }));
  EXPECT_TRUE(messages().KillTimer(window, 1001));
  machine().RunUntilIdle();
  const int ticks = timerTicks();
  for (int i = 0; i < 4; ++i) clock.Sleep(25);
  machine().RunUntilIdle();
  EXPECT_EQ(timerTicks(), ticks);
  EXPECT_FALSE(messages().KillTimer(window, 1001));
  machine().DestroyTestWindow(window);
  EXPECT_FALSE(messages().SetTimer(window, 1001, 20));
}

INSTANTIATE_TEST_SUITE_P(All, WindowMessagesContract, ::testing::ValuesIn(test::AllTargets()),
                         test::TargetName());

}  // namespace
}  // namespace kvd::platform
