#include "platform/sim/SimSync.h"

#include <chrono>
#include <functional>
#include <vector>

namespace kvd::sim {

namespace err = platform::err;
namespace wait = platform::wait;
using platform::SyncHandle;

namespace {
// A thread that ends signals nobody, so a blocked waiter looks at its mutex's owner this often.
constexpr auto kOwnerCheck = std::chrono::milliseconds(2);
// The sim clock is moved by other threads without telling anyone, so a timed event wait looks
// at it this often.
constexpr auto kClockCheck = std::chrono::milliseconds(1);
constexpr std::wstring_view kLocalPrefix = L"Local\\";
}  // namespace

SimSync::SimSync(SimCalls& calls, SimErrors& errors, SimClock& clock)
    : calls_(calls), errors_(errors), clock_(clock) {}

std::wstring SimSync::ObjectName(std::wstring_view name) {
  // Object names are case-sensitive; "Local\X" and "X" are one object of the session.
  if (name.substr(0, kLocalPrefix.size()) == kLocalPrefix) name.remove_prefix(kLocalPrefix.size());
  return std::wstring(name);
}

std::shared_ptr<SimSync::Object> SimSync::NamedLocked(const std::wstring& name) const {
  auto it = named_.find(name);
  return it == named_.end() ? nullptr : it->second.lock();
}

void SimSync::NameLocked(const std::wstring& name, const std::shared_ptr<Object>& object) {
  for (auto it = named_.begin(); it != named_.end();) {
    it = it->second.expired() ? named_.erase(it) : std::next(it);
  }
  named_[name] = object;
}

std::shared_ptr<SimSync::Object> SimSync::FindLocked(SyncHandle handle, Kind kind) {
  auto it = handles_.find(handle);
  // A handle to an object of another type is refused as Windows refuses it: invalid handle.
  if (it == handles_.end() || it->second->kind != kind) {
    errors_.SetThreadError(err::InvalidHandle);
    return nullptr;
  }
  return it->second;
}

SyncHandle SimSync::CreateMutex(bool initialOwner, const wchar_t* name) {
  if (auto fault = calls_.Enter("CreateMutex")) {
    errors_.SetThreadError(*fault);
    return 0;
  }
  std::lock_guard lock(mutex_);
  return CreateLocked(Kind::Mutex, name, [initialOwner](Object& object) {
    if (initialOwner) {
      object.owner = CurrentThread();
      object.recursion = 1;
    }
  });
}

std::uint32_t SimSync::WaitForSingleObject(SyncHandle handle, std::uint32_t milliseconds) {
  if (auto fault = calls_.Enter("WaitForSingleObject")) {
    errors_.SetThreadError(*fault);
    return wait::Failed;
  }
  std::unique_lock lock(mutex_);
  auto it = handles_.find(handle);
  if (it == handles_.end()) {
    lock.unlock();
    errors_.SetThreadError(err::InvalidHandle);
    return wait::Failed;
  }
  // The waiter keeps the object alive: another thread may close the handle meanwhile.
  const std::shared_ptr<Object> object = it->second;
  return object->kind == Kind::Mutex ? WaitForMutex(lock, *object, milliseconds)
                                     : WaitForEvents(lock, {object}, milliseconds);
}

std::uint32_t SimSync::WaitForMutex(std::unique_lock<std::mutex>& lock, Object& object,
                                    std::uint32_t milliseconds) {
  const std::shared_ptr<ThreadLife> me = CurrentThread();
  const bool forever = milliseconds == wait::Infinite;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
  for (;;) {
    if (object.heldElsewhere) {
      if (!forever) {
        lock.unlock();
        clock_.Advance(milliseconds);
        return wait::Timeout;
      }
      changed_.wait(lock);
      continue;
    }
    if (!object.owner) {
      object.owner = me;
      object.recursion = 1;
      return wait::Object0;
    }
    if (object.owner == me) {
      ++object.recursion;
      return wait::Object0;
    }
    if (!object.owner->alive.load()) {
      object.owner = me;
      object.recursion = 1;
      return wait::Abandoned;
    }
    const auto now = std::chrono::steady_clock::now();
    if (!forever && now >= deadline) return wait::Timeout;
    const auto look = now + kOwnerCheck;
    changed_.wait_until(lock, forever ? look : std::min(look, deadline));
  }
}

std::uint32_t SimSync::WaitForEvents(std::unique_lock<std::mutex>& lock,
                                     const std::vector<std::shared_ptr<Object>>& events,
                                     std::uint32_t milliseconds) {
  const bool forever = milliseconds == wait::Infinite;
  const std::uint32_t start = clock_.Tick();
  ++blockedEventWaits_;
  for (;;) {
    for (std::size_t i = 0; i < events.size(); ++i) {
      Object& object = *events[i];
      if (!object.signalled) continue;
      // An auto-reset event lets exactly this waiter through; the others see it unset again.
      if (!object.manualReset) object.signalled = false;
      --blockedEventWaits_;
      return wait::Object0 + static_cast<std::uint32_t>(i);
    }
    // Unsigned difference: the tick wraps at 2^32 as GetTickCount does.
    if (!forever && clock_.Tick() - start >= milliseconds) {
      --blockedEventWaits_;
      return wait::Timeout;
    }
    if (forever) {
      changed_.wait(lock);
    } else {
      changed_.wait_for(lock, kClockCheck);
    }
  }
}

std::uint32_t SimSync::WaitForMultipleObjects(std::uint32_t count, const SyncHandle* handles,
                                              bool waitAll, std::uint32_t milliseconds) {
  if (auto fault = calls_.Enter("WaitForMultipleObjects")) {
    errors_.SetThreadError(*fault);
    return wait::Failed;
  }
  if (handles == nullptr || count == 0 || count > wait::kMaximumWaitObjects) {
    errors_.SetThreadError(err::InvalidParameter);
    return wait::Failed;
  }
  if (waitAll) {
    errors_.SetThreadError(err::NotSupported);
    return wait::Failed;
  }
  std::unique_lock lock(mutex_);
  // The waiter keeps the objects alive: another thread may close a handle meanwhile.
  std::vector<std::shared_ptr<Object>> objects;
  for (std::uint32_t i = 0; i < count; ++i) {
    auto it = handles_.find(handles[i]);
    if (it == handles_.end() || it->second->kind != Kind::Event) {
      lock.unlock();
      errors_.SetThreadError(err::InvalidHandle);
      return wait::Failed;
    }
    objects.push_back(it->second);
  }
  return WaitForEvents(lock, objects, milliseconds);
}

bool SimSync::ReleaseMutex(SyncHandle handle) {
  if (auto fault = calls_.Enter("ReleaseMutex")) {
    errors_.SetThreadError(*fault);
    return false;
  }
  std::unique_lock lock(mutex_);
  const std::shared_ptr<Object> object = FindLocked(handle, Kind::Mutex);
  if (!object) return false;
  if (!object->owner || object->owner != CurrentThread()) {
    errors_.SetThreadError(simerr::NotOwner);
    return false;
  }
  if (--object->recursion == 0) {
    object->owner.reset();
    lock.unlock();
    changed_.notify_all();
  }
  return true;
}

SyncHandle SimSync::CreateEvent(bool manualReset, bool initialState, const wchar_t* name) {
  if (auto fault = calls_.Enter("CreateEvent")) {
    errors_.SetThreadError(*fault);
    return 0;
  }
  std::lock_guard lock(mutex_);
  return CreateLocked(Kind::Event, name, [manualReset, initialState](Object& object) {
    object.manualReset = manualReset;
    object.signalled = initialState;
  });
}

// Makes an object of `kind`, or opens the one of that name as it is (the creation arguments
// apply only to its creator, ERROR_ALREADY_EXISTS); a name held by the other kind answers
// ERROR_INVALID_HANDLE, as Windows does.
SyncHandle SimSync::CreateLocked(Kind kind, const wchar_t* name,
                                 const std::function<void(Object&)>& initialise) {
  const std::wstring objectName = name == nullptr ? std::wstring() : ObjectName(name);
  std::shared_ptr<Object> object;
  if (!objectName.empty()) object = NamedLocked(objectName);
  if (object) {
    if (object->kind != kind) {
      errors_.SetThreadError(err::InvalidHandle);
      return 0;
    }
    errors_.SetThreadError(err::AlreadyExists);
  } else {
    object = std::make_shared<Object>();
    object->kind = kind;
    object->name = objectName;
    initialise(*object);
    if (!objectName.empty()) NameLocked(objectName, object);
    errors_.SetThreadError(err::Success);
  }
  const SyncHandle handle = calls_.NextHandle();
  handles_[handle] = std::move(object);
  return handle;
}

SyncHandle SimSync::OpenEvent(const wchar_t* name) {
  if (auto fault = calls_.Enter("OpenEvent")) {
    errors_.SetThreadError(*fault);
    return 0;
  }
  std::lock_guard lock(mutex_);
  const std::wstring objectName = name == nullptr ? std::wstring() : ObjectName(name);
  std::shared_ptr<Object> object;
  if (!objectName.empty()) object = NamedLocked(objectName);
  if (!object) {
    errors_.SetThreadError(err::FileNotFound);
    return 0;
  }
  if (object->kind != Kind::Event) {
    errors_.SetThreadError(err::InvalidHandle);
    return 0;
  }
  errors_.SetThreadError(err::Success);
  const SyncHandle handle = calls_.NextHandle();
  handles_[handle] = std::move(object);
  return handle;
}

bool SimSync::SetEvent(SyncHandle handle) {
  if (auto fault = calls_.Enter("SetEvent")) {
    errors_.SetThreadError(*fault);
    return false;
  }
  {
    std::lock_guard lock(mutex_);
    const std::shared_ptr<Object> object = FindLocked(handle, Kind::Event);
    if (!object) return false;
    object->signalled = true;
  }
  changed_.notify_all();
  return true;
}

bool SimSync::ResetEvent(SyncHandle handle) {
  if (auto fault = calls_.Enter("ResetEvent")) {
    errors_.SetThreadError(*fault);
    return false;
  }
  std::lock_guard lock(mutex_);
  const std::shared_ptr<Object> object = FindLocked(handle, Kind::Event);
  if (!object) return false;
  object->signalled = false;
  return true;
}

bool SimSync::CloseHandle(SyncHandle handle) {
  if (auto fault = calls_.Enter("CloseHandle")) {
    errors_.SetThreadError(*fault);
    return false;
  }
  std::lock_guard lock(mutex_);
  if (handles_.erase(handle) == 0) {
    errors_.SetThreadError(err::InvalidHandle);
    return false;
  }
  return true;
}

void SimSync::HoldElsewhere(std::wstring_view name) {
  std::lock_guard lock(mutex_);
  const std::wstring objectName = ObjectName(name);
  auto object = NamedLocked(objectName);
  if (!object) {
    object = std::make_shared<Object>();
    object->kind = Kind::Mutex;
    object->name = objectName;
    NameLocked(objectName, object);
  }
  object->heldElsewhere = true;
  elsewhere_[objectName] = std::move(object);
}

void SimSync::ReleaseElsewhere(std::wstring_view name) {
  {
    std::lock_guard lock(mutex_);
    auto it = elsewhere_.find(ObjectName(name));
    if (it == elsewhere_.end()) return;
    it->second->heldElsewhere = false;
    elsewhere_.erase(it);
  }
  changed_.notify_all();
}

bool SimSync::MutexExists(std::wstring_view name) const {
  std::lock_guard lock(mutex_);
  const auto object = NamedLocked(ObjectName(name));
  return object != nullptr && object->kind == Kind::Mutex;
}

bool SimSync::EventExists(std::wstring_view name) const {
  std::lock_guard lock(mutex_);
  const auto object = NamedLocked(ObjectName(name));
  return object != nullptr && object->kind == Kind::Event;
}

std::size_t SimSync::OpenHandleCount() const {
  std::lock_guard lock(mutex_);
  return handles_.size();
}

std::size_t SimSync::BlockedEventWaits() const {
  std::lock_guard lock(mutex_);
  return blockedEventWaits_;
}

}  // namespace kvd::sim
