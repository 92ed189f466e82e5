#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "platform/api/ISystem.h"
#include "platform/sim/SimCommon.h"
#include "platform/sim/SimSystem.h"

namespace kvd::sim {

// Mutexes and events, named (one object per name, mutexes and events sharing one namespace;
// "Local\" names the same object as no prefix) or not.
//
// Mutexes are owned by real threads: a wait on a mutex another thread of this process owns
// blocks in real time until it is released, its owner ends (then it is abandoned:
// WAIT_ABANDONED, and the waiter owns it) or the timeout passes; the sim clock is not moved by
// that wait. A mutex held by another process (HoldElsewhere) answers WAIT_TIMEOUT at once and
// moves the clock by the timeout instead.
//
// Events are signalled by real threads, but their timeouts run on the sim clock: a wait ends
// when the event is set or when the clock has been advanced (by another thread) past the
// timeout, and never moves the clock itself, so that an 80 s watchdog can be waited out in no
// real time and a test decides when it expires.
class SimSync final : public platform::ISync {
 public:
  SimSync(SimCalls& calls, SimErrors& errors, SimClock& clock);

  platform::SyncHandle CreateMutex(bool initialOwner, const wchar_t* name) override;
  std::uint32_t WaitForSingleObject(platform::SyncHandle handle,
                                    std::uint32_t milliseconds) override;
  // Events only, and waitAll false only (what the program asks): anything else fails with
  // ERROR_INVALID_HANDLE or ERROR_NOT_SUPPORTED.
  std::uint32_t WaitForMultipleObjects(std::uint32_t count, const platform::SyncHandle* handles,
                                       bool waitAll, std::uint32_t milliseconds) override;
  bool ReleaseMutex(platform::SyncHandle handle) override;
  platform::SyncHandle CreateEvent(bool manualReset, bool initialState,
                                   const wchar_t* name) override;
  platform::SyncHandle OpenEvent(const wchar_t* name) override;
  bool SetEvent(platform::SyncHandle handle) override;
  bool ResetEvent(platform::SyncHandle handle) override;
  bool CloseHandle(platform::SyncHandle handle) override;

  // Set-up and inspection (not counted). The named mutex (made if missing) is held by another
  // process until ReleaseElsewhere.
  void HoldElsewhere(std::wstring_view name);
  void ReleaseElsewhere(std::wstring_view name);
  bool MutexExists(std::wstring_view name) const;
  bool EventExists(std::wstring_view name) const;
  std::size_t OpenHandleCount() const;
  // Threads blocked right now in a wait on an event: a test advances the clock past a timeout
  // once the waiter is known to be waiting, or the wait would start after the advance.
  std::size_t BlockedEventWaits() const;

 private:
  enum class Kind { Mutex, Event };
  struct Object {
    Kind kind = Kind::Mutex;
    std::wstring name;
    // Mutex
    std::shared_ptr<ThreadLife> owner;
    std::uint32_t recursion = 0;
    bool heldElsewhere = false;
    // Event
    bool manualReset = false;
    bool signalled = false;
  };
  static std::wstring ObjectName(std::wstring_view name);
  std::shared_ptr<Object> NamedLocked(const std::wstring& name) const;
  // Records a new named object, dropping the names of objects nobody refers to any more.
  void NameLocked(const std::wstring& name, const std::shared_ptr<Object>& object);
  platform::SyncHandle CreateLocked(Kind kind, const wchar_t* name,
                                    const std::function<void(Object&)>& initialise);
  // The object behind a handle, if it is of the kind asked for; else the last error is set.
  std::shared_ptr<Object> FindLocked(platform::SyncHandle handle, Kind kind);
  std::uint32_t WaitForMutex(std::unique_lock<std::mutex>& lock, Object& object,
                             std::uint32_t milliseconds);
  // Until one of `events` is set (the lowest index wins) or the sim clock passes the timeout.
  std::uint32_t WaitForEvents(std::unique_lock<std::mutex>& lock,
                              const std::vector<std::shared_ptr<Object>>& events,
                              std::uint32_t milliseconds);

  SimCalls& calls_;
  SimErrors& errors_;
  SimClock& clock_;
  mutable std::mutex mutex_;
  std::condition_variable changed_;
  std::map<platform::SyncHandle, std::shared_ptr<Object>> handles_;
  std::map<std::wstring, std::weak_ptr<Object>> named_;
  std::map<std::wstring, std::shared_ptr<Object>> elsewhere_;  // kept alive by the other process
  std::size_t blockedEventWaits_ = 0;
};

}  // namespace kvd::sim
