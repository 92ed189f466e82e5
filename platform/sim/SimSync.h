#pragma once

#include <condition_variable>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

#include "platform/api/ISystem.h"
#include "platform/sim/SimCommon.h"
#include "platform/sim/SimSystem.h"

namespace kvd::sim {

// Mutexes, named (one object per name; "Local\" names the same object as no prefix) or not.
// Owned by real threads: a wait on a mutex another thread of this process owns blocks in real
// time until it is released, its owner ends (then it is abandoned: WAIT_ABANDONED, and the
// waiter owns it) or the timeout passes; the sim clock is not moved by that wait. A mutex held by
// another process (HoldElsewhere) answers WAIT_TIMEOUT at once and moves the clock by the
// timeout instead.
class SimSync final : public platform::ISync {
 public:
  SimSync(SimCalls& calls, SimErrors& errors, SimClock& clock);

  platform::SyncHandle CreateMutex(bool initialOwner, const wchar_t* name) override;
  std::uint32_t WaitForSingleObject(platform::SyncHandle handle,
                                    std::uint32_t milliseconds) override;
  bool ReleaseMutex(platform::SyncHandle handle) override;
  bool CloseHandle(platform::SyncHandle handle) override;

  // Set-up and inspection (not counted). The named mutex (made if missing) is held by another
  // process until ReleaseElsewhere.
  void HoldElsewhere(std::wstring_view name);
  void ReleaseElsewhere(std::wstring_view name);
  bool MutexExists(std::wstring_view name) const;
  std::size_t OpenHandleCount() const;

 private:
  struct Mutex {
    std::wstring name;
    std::shared_ptr<ThreadLife> owner;
    std::uint32_t recursion = 0;
    bool heldElsewhere = false;
  };
  static std::wstring ObjectName(std::wstring_view name);
  std::shared_ptr<Mutex> NamedLocked(const std::wstring& name) const;

  SimCalls& calls_;
  SimErrors& errors_;
  SimClock& clock_;
  mutable std::mutex mutex_;
  std::condition_variable changed_;
  std::map<platform::SyncHandle, std::shared_ptr<Mutex>> handles_;
  std::map<std::wstring, std::weak_ptr<Mutex>> named_;
  std::map<std::wstring, std::shared_ptr<Mutex>> elsewhere_;  // kept alive by the other process
};

}  // namespace kvd::sim
