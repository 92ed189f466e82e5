#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

#include "platform/api/IWindowMessages.h"
#include "platform/sim/SimCommon.h"
#include "platform/sim/SimSystem.h"

namespace kvd::sim {

inline constexpr std::uint32_t kWmTimer = 0x0113;
inline constexpr std::uint32_t kErrorInvalidWindowHandle = 1400;

// The windows of the simulated machine's pages, all owned by one "UI thread" that this object
// runs (started with the first window, joined at destruction) in a message loop with the
// semantics of user32: a message sent from another thread waits in the queue and its sender
// blocks until the window's handler has answered it; a send from the UI thread itself (inside a
// handler) calls the handler at once; posted messages are handled in order, each after every
// sent message pending at the time; WM_TIMER is made for a due timer only when nothing else is
// queued. Timers run on the sim clock, never on real time: a timer is due once the tick has
// reached its due time, so a test decides when it fires (AdvanceToNextTimer).
class SimWindows final : public platform::IWindowMessages {
 public:
  using Handler = std::function<std::intptr_t(std::uint32_t message, std::uintptr_t wParam,
                                              std::intptr_t lParam)>;

  // One message as a handler received it.
  struct Message {
    platform::WindowHandle window = 0;
    std::uint32_t message = 0;
    std::uintptr_t wParam = 0;
    std::intptr_t lParam = 0;
    bool sent = false;  // SendMessage, else PostMessage or a timer
    friend bool operator==(const Message&, const Message&) = default;
  };

  SimWindows(SimCalls& calls, SimErrors& errors, SimClock& clock);
  ~SimWindows() override;
  SimWindows(const SimWindows&) = delete;
  SimWindows& operator=(const SimWindows&) = delete;

  std::intptr_t SendMessage(platform::WindowHandle window, std::uint32_t message,
                            std::uintptr_t wParam, std::intptr_t lParam) override;
  bool PostMessage(platform::WindowHandle window, std::uint32_t message, std::uintptr_t wParam,
                   std::intptr_t lParam) override;

  // Set-up and inspection (not counted), callable from any thread, handlers included.
  // A window of the UI thread whose messages `handler` handles, on the UI thread.
  platform::WindowHandle CreateWindow(Handler handler);
  // Messages still queued for it are dropped; a sender waiting for one of them gets 0.
  bool DestroyWindow(platform::WindowHandle window);
  // SetTimer(window, id, milliseconds, nullptr): due `milliseconds` of sim time from now, and
  // then again every `milliseconds` after it fired until KillTimer, as on Windows (the pages
  // kill theirs in the handler). An id already set is set anew. Less than 10 ms is 10 ms
  // (USER_TIMER_MINIMUM).
  bool SetTimer(platform::WindowHandle window, std::uintptr_t id,
                std::uint32_t milliseconds) override;
  bool KillTimer(platform::WindowHandle window, std::uintptr_t id) override;
  // Moves the sim clock to the due time of the earliest timer (not at all when one is due
  // already), so that the UI thread fires it; false when no timer is set. Does not wait for the
  // handler: RunUntilIdle does.
  bool AdvanceToNextTimer();
  // From a thread other than the UI thread: returns once the UI thread has handled every queued
  // message and every due timer and is waiting for more. Throws std::logic_error on the UI
  // thread, where it could never return.
  void RunUntilIdle();
  bool IsUiThread() const;
  // Every message handled so far, in the order the handlers were entered.
  std::vector<Message> Delivered() const;
  // Sent messages that wait in the queue now (their senders are blocked).
  std::size_t QueuedSends() const;

 private:
  struct Window {
    std::shared_ptr<const Handler> handler;
  };
  // A sent message and its answer; the sender waits until `done`.
  struct Sent {
    Message message;
    std::intptr_t result = 0;
    bool done = false;
  };
  struct Timer {
    std::uint32_t setAt = 0;  // sim tick when set or last fired
    std::uint32_t interval = 0;
    std::uint64_t order = 0;  // earlier-set timers fire first among those due at once
  };
  using TimerKey = std::pair<platform::WindowHandle, std::uintptr_t>;

  void Loop();
  void StartLocked();
  // The due timer that fires first (the longest overdue, then the earliest set); false when
  // none is due. Every *Locked member runs with mutex_ held.
  bool DueTimerLocked(TimerKey* key) const;
  bool IdleLocked() const;
  // Milliseconds of sim time until the timer is due, <= 0 when it is.
  std::int64_t RemainingLocked(const Timer& timer) const;
  // Records the message and runs the window's handler with the lock released; 0 when the window
  // is gone.
  std::intptr_t Dispatch(std::unique_lock<std::mutex>& lock, const Message& message);

  SimCalls& calls_;
  SimErrors& errors_;
  SimClock& clock_;
  mutable std::mutex mutex_;
  std::condition_variable changed_;
  std::thread ui_;
  std::thread::id uiId_;
  bool stop_ = false;
  bool handling_ = false;  // the loop is inside a handler
  platform::WindowHandle nextWindow_ = 0x10010;
  std::map<platform::WindowHandle, Window> windows_;
  std::deque<std::shared_ptr<Sent>> sent_;
  std::deque<Message> posted_;
  std::map<TimerKey, Timer> timers_;
  std::uint64_t timerOrder_ = 0;
  std::vector<Message> delivered_;
};

}  // namespace kvd::sim
