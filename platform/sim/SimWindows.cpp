#include "platform/sim/SimWindows.h"

#include <algorithm>
#include <chrono>
#include <stdexcept>

namespace kvd::sim {

using platform::WindowHandle;

namespace {
// The sim clock is moved by other threads without telling anyone, so while a timer is set the
// idle loop (and RunUntilIdle) looks at it this often.
constexpr auto kClockCheck = std::chrono::milliseconds(1);
constexpr std::uint32_t kUserTimerMinimum = 10;
}  // namespace

SimWindows::SimWindows(SimCalls& calls, SimErrors& errors, SimClock& clock)
    : calls_(calls), errors_(errors), clock_(clock) {}

SimWindows::~SimWindows() {
  std::thread ui;
  {
    std::lock_guard lock(mutex_);
    stop_ = true;
    ui = std::move(ui_);
  }
  changed_.notify_all();
  if (ui.joinable()) ui.join();
}

void SimWindows::StartLocked() {
  if (ui_.joinable() || stop_) return;
  ui_ = std::thread([this] { Loop(); });
  uiId_ = ui_.get_id();
}

std::intptr_t SimWindows::Dispatch(std::unique_lock<std::mutex>& lock, const Message& message) {
  auto window = windows_.find(message.window);
  // Destroyed while the message waited: nobody handles it, as on Windows.
  if (window == windows_.end()) return 0;
  delivered_.push_back(message);
  // The handler may destroy its own window (or send, post, set timers): it runs unlocked, on a
  // copy that outlives the window's entry.
  const std::shared_ptr<const Handler> handler = window->second.handler;
  lock.unlock();
  const std::intptr_t result = (*handler)(message.message, message.wParam, message.lParam);
  lock.lock();
  return result;
}

std::int64_t SimWindows::RemainingLocked(const Timer& timer) const {
  // Unsigned difference: the tick wraps at 2^32 as GetTickCount does.
  const std::uint32_t elapsed = clock_.Tick() - timer.setAt;
  return static_cast<std::int64_t>(timer.interval) - static_cast<std::int64_t>(elapsed);
}

bool SimWindows::DueTimerLocked(TimerKey* key) const {
  const std::map<TimerKey, Timer>::value_type* best = nullptr;
  std::int64_t bestRemaining = 0;
  for (const auto& entry : timers_) {
    const std::int64_t remaining = RemainingLocked(entry.second);
    if (remaining > 0) continue;
    if (best == nullptr || remaining < bestRemaining ||
        (remaining == bestRemaining && entry.second.order < best->second.order)) {
      best = &entry;
      bestRemaining = remaining;
    }
  }
  if (best != nullptr && key != nullptr) *key = best->first;
  return best != nullptr;
}

bool SimWindows::IdleLocked() const {
  return sent_.empty() && posted_.empty() && !handling_ && !DueTimerLocked(nullptr);
}

void SimWindows::Loop() {
  std::unique_lock lock(mutex_);
  while (!stop_) {
    // Sent messages first, each of them, then one posted message, then one timer: user32's
    // GetMessage order.
    if (!sent_.empty()) {
      const std::shared_ptr<Sent> item = sent_.front();
      sent_.pop_front();
      handling_ = true;
      item->result = Dispatch(lock, item->message);
      item->done = true;
      handling_ = false;
      changed_.notify_all();
      continue;
    }
    if (!posted_.empty()) {
      const Message message = posted_.front();
      posted_.pop_front();
      handling_ = true;
      Dispatch(lock, message);
      handling_ = false;
      changed_.notify_all();
      continue;
    }
    TimerKey key;
    if (DueTimerLocked(&key)) {
      timers_[key].setAt = clock_.Tick();
      handling_ = true;
      Dispatch(lock, Message{key.first, kWmTimer, key.second, 0, false});
      handling_ = false;
      changed_.notify_all();
      continue;
    }
    changed_.notify_all();  // idle: RunUntilIdle may return
    if (timers_.empty()) {
      changed_.wait(lock);
    } else {
      changed_.wait_for(lock, kClockCheck);
    }
  }
  // Nobody will answer these any more.
  for (const auto& item : sent_) item->done = true;
  sent_.clear();
  changed_.notify_all();
}

std::intptr_t SimWindows::SendMessage(WindowHandle window, std::uint32_t message,
                                      std::uintptr_t wParam, std::intptr_t lParam) {
  if (auto fault = calls_.Enter("SendMessage")) {
    errors_.SetThreadError(*fault);
    return 0;
  }
  std::unique_lock lock(mutex_);
  if (windows_.count(window) == 0) {
    lock.unlock();
    errors_.SetThreadError(kErrorInvalidWindowHandle);
    return 0;
  }
  const Message sent{window, message, wParam, lParam, true};
  if (ui_.joinable() && std::this_thread::get_id() == uiId_) return Dispatch(lock, sent);
  auto item = std::make_shared<Sent>();
  item->message = sent;
  sent_.push_back(item);
  changed_.notify_all();
  changed_.wait(lock, [&item] { return item->done; });
  return item->result;
}

bool SimWindows::PostMessage(WindowHandle window, std::uint32_t message, std::uintptr_t wParam,
                             std::intptr_t lParam) {
  if (auto fault = calls_.Enter("PostMessage")) {
    errors_.SetThreadError(*fault);
    return false;
  }
  {
    std::lock_guard lock(mutex_);
    if (windows_.count(window) != 0) {
      posted_.push_back(Message{window, message, wParam, lParam, false});
      changed_.notify_all();
      return true;
    }
  }
  errors_.SetThreadError(kErrorInvalidWindowHandle);
  return false;
}

WindowHandle SimWindows::CreateWindow(Handler handler) {
  std::lock_guard lock(mutex_);
  if (stop_) throw std::logic_error("CreateWindow: the windows are being destroyed");
  StartLocked();
  const WindowHandle window = nextWindow_;
  nextWindow_ += 2;
  windows_[window] = Window{std::make_shared<const Handler>(std::move(handler))};
  return window;
}

bool SimWindows::DestroyWindow(WindowHandle window) {
  {
    std::lock_guard lock(mutex_);
    if (windows_.erase(window) == 0) return false;
    std::erase_if(timers_, [window](const auto& entry) { return entry.first.first == window; });
    std::erase_if(posted_, [window](const Message& m) { return m.window == window; });
    std::erase_if(sent_, [window](const std::shared_ptr<Sent>& item) {
      if (item->message.window != window) return false;
      item->done = true;
      return true;
    });
  }
  changed_.notify_all();
  return true;
}

bool SimWindows::SetTimer(WindowHandle window, std::uintptr_t id, std::uint32_t milliseconds) {
  {
    std::lock_guard lock(mutex_);
    if (windows_.count(window) != 0) {
      timers_[{window, id}] =
          Timer{clock_.Tick(), std::max(milliseconds, kUserTimerMinimum), ++timerOrder_};
      changed_.notify_all();
      return true;
    }
  }
  errors_.SetThreadError(kErrorInvalidWindowHandle);
  return false;
}

bool SimWindows::KillTimer(WindowHandle window, std::uintptr_t id) {
  std::lock_guard lock(mutex_);
  return timers_.erase({window, id}) != 0;
}

bool SimWindows::AdvanceToNextTimer() {
  {
    std::lock_guard lock(mutex_);
    if (timers_.empty()) return false;
    std::int64_t earliest = RemainingLocked(timers_.begin()->second);
    for (const auto& entry : timers_) earliest = std::min(earliest, RemainingLocked(entry.second));
    if (earliest > 0) clock_.Advance(static_cast<std::uint64_t>(earliest));
  }
  changed_.notify_all();
  return true;
}

void SimWindows::RunUntilIdle() {
  std::unique_lock lock(mutex_);
  if (ui_.joinable() && std::this_thread::get_id() == uiId_) {
    throw std::logic_error("RunUntilIdle: called on the UI thread, which would wait for itself");
  }
  // The loop tells when it goes idle, but a timer becomes due by a clock that tells nobody.
  while (!IdleLocked()) changed_.wait_for(lock, kClockCheck);
}

bool SimWindows::IsUiThread() const {
  std::lock_guard lock(mutex_);
  return ui_.joinable() && std::this_thread::get_id() == uiId_;
}

std::vector<SimWindows::Message> SimWindows::Delivered() const {
  std::lock_guard lock(mutex_);
  return delivered_;
}

std::size_t SimWindows::QueuedSends() const {
  std::lock_guard lock(mutex_);
  return sent_.size();
}

}  // namespace kvd::sim
