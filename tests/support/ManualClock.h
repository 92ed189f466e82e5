#pragma once

#include <atomic>
#include <mutex>
#include <vector>

#include "platform/api/ISystem.h"

namespace kvd::test {

// A clock that moves only when told, for suites that need exact times on either tier (the trace
// log's durations, poll intervals and prefixes), with the real registry and files under Wine.
class ManualClock : public platform::IClock {
 public:
  std::uint32_t GetTickCount() override { return tick_.load(); }
  bool QueryPerformanceCounter(std::int64_t* counter) override {
    *counter = counter_.load();
    return true;
  }
  bool QueryPerformanceFrequency(std::int64_t* frequency) override {
    *frequency = frequency_.load();
    return frequency_.load() != 0;
  }
  bool GetLocalCalendarTime(platform::CalendarTime* out) override {
    std::lock_guard<std::mutex> lock(mutex_);
    if (failLocalTime_) return false;
    *out = local_;
    return true;
  }
  void Sleep(std::uint32_t milliseconds) override {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      sleeps_.push_back(milliseconds);
    }
    Advance(milliseconds);
  }

  // Moves the tick and the counter (at the frequency) together.
  void Advance(std::uint32_t milliseconds) {
    tick_ += milliseconds;
    counter_ += static_cast<std::int64_t>(milliseconds) * frequency_.load() / 1000;
  }
  void AdvanceCounter(std::int64_t ticks) { counter_ += ticks; }
  void SetFrequency(std::int64_t frequency) { frequency_ = frequency; }
  void SetLocalTime(const platform::CalendarTime& local) {
    std::lock_guard<std::mutex> lock(mutex_);
    local_ = local;
  }
  void FailLocalTime(bool fail) {
    std::lock_guard<std::mutex> lock(mutex_);
    failLocalTime_ = fail;
  }
  std::vector<std::uint32_t> Sleeps() {
    std::lock_guard<std::mutex> lock(mutex_);
    return sleeps_;
  }

 private:
  std::atomic<std::uint32_t> tick_{5000000};
  std::atomic<std::int64_t> counter_{123456789};
  std::atomic<std::int64_t> frequency_{10000000};
  std::mutex mutex_;
  platform::CalendarTime local_{2026, 12, 10, 9, 30, 5};
  bool failLocalTime_ = false;
  std::vector<std::uint32_t> sleeps_;
};

}  // namespace kvd::test
