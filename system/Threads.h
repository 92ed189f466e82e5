// The program's threads, each owned by a group that reaps it once it has ended.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/api/Platform.h"

// Every thread entry here is an exception boundary: an exception out of a thread's body is
// logged as an error record and ends that thread only.
//
// Exit policy: an owner asks its threads to stop (RequestStop sets the stop event that every
// wait of theirs includes), gives them a bounded time to end (WaitForAll), and when some have
// not ended (a check hung inside a device's component), it does not join them: it abandons the
// group and everything those threads use, and ends the process (the application does this). A
// group is destroyed only when none of its threads runs any more; its destructor then joins
// what is left.
class CThreadGroup {
 public:
  // A started thread as the ones who watch it see it; empty (Id 0) for no thread.
  class Thread {
   public:
    Thread() = default;
    std::uintptr_t Id() const;
    bool HasEnded() const;
    // A manual-reset event that is set when the thread has ended; 0 when none could be made.
    kvd::platform::SyncHandle EndedEvent() const;

   private:
    friend class CThreadGroup;
    struct State;
    explicit Thread(std::shared_ptr<State> state) : m_state(std::move(state)) {}
    std::shared_ptr<State> m_state;
  };

  explicit CThreadGroup(kvd::platform::Platform& platform);
  ~CThreadGroup();
  CThreadGroup(const CThreadGroup&) = delete;
  CThreadGroup& operator=(const CThreadGroup&) = delete;

  // Starts `body` on a thread of its own (threads that have ended are reaped first). `name` (a
  // literal) names it in the log.
  Thread Start(const wchar_t* name, std::function<void()> body);
  // The running thread of that id; an empty one when it has ended and was reaped, or never was.
  Thread Find(std::uintptr_t id) const;

  // A manual-reset event set by RequestStop: the waits of the group's threads include it.
  kvd::platform::SyncHandle StopEvent() const { return m_stopEvent; }
  void RequestStop();
  bool StopRequested() const { return m_bStopRequested.load(); }

  // Joins the threads that have ended; the number still running.
  std::size_t Reap();
  std::size_t Running() const;
  // The threads the group holds, running or ended and not yet reaped.
  std::size_t Held() const;
  // Waits up to `milliseconds` (on the platform's clock) for every thread to end, then reaps:
  // the number still running.
  std::size_t WaitForAll(std::uint32_t milliseconds);
  // Joins every thread however long that takes: for tests, once they released what hangs.
  void JoinAll();

 private:
  struct Entry {
    std::shared_ptr<Thread::State> state;
    std::thread thread;
  };

  kvd::platform::Platform& m_platform;
  kvd::platform::SyncHandle m_stopEvent = 0;
  std::atomic<bool> m_bStopRequested{false};
  mutable std::mutex m_lock;
  std::vector<Entry> m_threads;
  std::uintptr_t m_nextId = 1;
};
