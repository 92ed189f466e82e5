#include "platform/sim/SimSync.h"

#include <chrono>

namespace kvd::sim {

namespace err = platform::err;
namespace wait = platform::wait;
using platform::SyncHandle;

namespace {
// A thread that ends signals nobody, so a blocked waiter looks at its mutex's owner this often.
constexpr auto kOwnerCheck = std::chrono::milliseconds(2);
constexpr std::wstring_view kLocalPrefix = L"Local\\";
}  // namespace

SimSync::SimSync(SimCalls& calls, SimErrors& errors, SimClock& clock)
    : calls_(calls), errors_(errors), clock_(clock) {}

std::wstring SimSync::ObjectName(std::wstring_view name) {
  // Object names are case-sensitive; "Local\X" and "X" are one object of the session.
  if (name.substr(0, kLocalPrefix.size()) == kLocalPrefix) name.remove_prefix(kLocalPrefix.size());
  return std::wstring(name);
}

std::shared_ptr<SimSync::Mutex> SimSync::NamedLocked(const std::wstring& name) const {
  auto it = named_.find(name);
  return it == named_.end() ? nullptr : it->second.lock();
}

SyncHandle SimSync::CreateMutex(bool initialOwner, const wchar_t* name) {
  if (auto fault = calls_.Enter("CreateMutex")) {
    errors_.SetThreadError(*fault);
    return 0;
  }
  std::lock_guard lock(mutex_);
  const std::wstring objectName = name == nullptr ? std::wstring() : ObjectName(name);
  std::shared_ptr<Mutex> object;
  if (!objectName.empty()) object = NamedLocked(objectName);
  if (object) {
    // An existing mutex is opened as it is: initialOwner only applies to the creator.
    errors_.SetThreadError(err::AlreadyExists);
  } else {
    object = std::make_shared<Mutex>();
    object->name = objectName;
    if (initialOwner) {
      object->owner = CurrentThread();
      object->recursion = 1;
    }
    if (!objectName.empty()) {
      for (auto it = named_.begin(); it != named_.end();) {
        it = it->second.expired() ? named_.erase(it) : std::next(it);
      }
      named_[objectName] = object;
    }
    errors_.SetThreadError(err::Success);
  }
  const SyncHandle handle = calls_.NextHandle();
  handles_[handle] = std::move(object);
  return handle;
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
  const std::shared_ptr<Mutex> object = it->second;
  const std::shared_ptr<ThreadLife> me = CurrentThread();
  const bool forever = milliseconds == wait::Infinite;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
  for (;;) {
    if (object->heldElsewhere) {
      if (!forever) {
        lock.unlock();
        clock_.Advance(milliseconds);
        return wait::Timeout;
      }
      changed_.wait(lock);
      continue;
    }
    if (!object->owner) {
      object->owner = me;
      object->recursion = 1;
      return wait::Object0;
    }
    if (object->owner == me) {
      ++object->recursion;
      return wait::Object0;
    }
    if (!object->owner->alive.load()) {
      object->owner = me;
      object->recursion = 1;
      return wait::Abandoned;
    }
    const auto now = std::chrono::steady_clock::now();
    if (!forever && now >= deadline) return wait::Timeout;
    const auto look = now + kOwnerCheck;
    changed_.wait_until(lock, forever ? look : std::min(look, deadline));
  }
}

bool SimSync::ReleaseMutex(SyncHandle handle) {
  if (auto fault = calls_.Enter("ReleaseMutex")) {
    errors_.SetThreadError(*fault);
    return false;
  }
  std::unique_lock lock(mutex_);
  auto it = handles_.find(handle);
  if (it == handles_.end()) {
    errors_.SetThreadError(err::InvalidHandle);
    return false;
  }
  Mutex& object = *it->second;
  if (!object.owner || object.owner != CurrentThread()) {
    errors_.SetThreadError(simerr::NotOwner);
    return false;
  }
  if (--object.recursion == 0) {
    object.owner.reset();
    lock.unlock();
    changed_.notify_all();
  }
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
    object = std::make_shared<Mutex>();
    object->name = objectName;
    named_[objectName] = object;
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
  return NamedLocked(ObjectName(name)) != nullptr;
}

std::size_t SimSync::OpenHandleCount() const {
  std::lock_guard lock(mutex_);
  return handles_.size();
}

}  // namespace kvd::sim
