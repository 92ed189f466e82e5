#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

namespace kvd::test {

// A one-way door between threads: Wait returns once Open was called, before or after.
class Gate {
 public:
  void Open() {
    {
      std::lock_guard lock(mutex_);
      open_ = true;
    }
    changed_.notify_all();
  }
  void Wait() {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [this] { return open_; });
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  bool open_ = false;
};

// Waits for another thread to reach a state that only it can reach. The bound only keeps a
// broken build from hanging; it is no measure of speed.
inline bool Eventually(const std::function<bool()>& reached) {
  const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (!reached()) {
    if (std::chrono::steady_clock::now() > giveUp) return false;
    std::this_thread::sleep_for(std::chrono::microseconds(100));
  }
  return true;
}

}  // namespace kvd::test
