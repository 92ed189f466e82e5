// platform/sim: the simulated machine behind the ports (tests and demos only): one stateful,
// thread-safe model of a 64-bit Windows 7 machine running the 32-bit program.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/api/Types.h"

namespace kvd::sim {

// Error codes that the ports' callers do not name but the sim answers as Windows does.
namespace simerr {
inline constexpr std::uint32_t BadNetPath = 53;
inline constexpr std::uint32_t BufferOverflow = 111;
inline constexpr std::uint32_t ModNotFound = 126;
inline constexpr std::uint32_t NegativeSeek = 131;
inline constexpr std::uint32_t NotOwner = 288;
inline constexpr std::uint32_t NoAccess = 998;
inline constexpr std::uint32_t ResourceLangNotFound = 1815;
}  // namespace simerr

// One real thread as the sim tells threads apart. The object outlives the thread as long as
// someone (a mutex's owner record, a last-error slot) refers to it, so a dead owner can be seen
// as dead instead of being confused with a new thread that got the same std::thread::id.
struct ThreadLife {
  std::atomic<bool> alive{true};
};

// The calling thread's life token, created on first use and marked dead at thread exit.
std::shared_ptr<ThreadLife> CurrentThread();

// Per-thread values keyed by thread life (last errors, thread ids). Not locked: its owner locks.
template <class T>
class PerThread {
 public:
  // The slot of the calling thread, created with `initial` on first use. Slots of threads that
  // ended are dropped then, so the table stays as small as the set of live threads.
  T& Slot(const T& initial) {
    auto me = CurrentThread();
    auto it = slots_.find(me.get());
    if (it != slots_.end()) return it->second.value;
    for (auto dead = slots_.begin(); dead != slots_.end();) {
      dead = dead->second.life->alive.load() ? std::next(dead) : slots_.erase(dead);
    }
    auto* key = me.get();
    return slots_.emplace(key, Entry{std::move(me), initial}).first->second.value;
  }

 private:
  struct Entry {
    std::shared_ptr<ThreadLife> life;
    T value;
  };
  std::map<const ThreadLife*, Entry> slots_;
};

// Call counts and injected faults of one machine, shared by all its sub-objects, and the
// machine's one sequence of handle numbers (files, mutexes and keys never share a number, as
// kernel handles of one process never do).
class SimCalls {
 public:
  // Counts one call of the port method `method` and answers the error code it must fail with.
  std::optional<std::uint32_t> Enter(std::string_view method);

  void Inject(std::string_view method, int nth, std::uint32_t code, bool persistent);
  void Clear();
  // The nth next call of `method` blocks in Enter until ReleaseHangs.
  void InjectHang(std::string_view method, int nth);
  void ReleaseHangs();
  std::size_t HungCalls() const;
  std::uint64_t Count(std::string_view method) const;

  std::uintptr_t NextHandle() { return nextHandle_.fetch_add(4); }

 private:
  struct Fault {
    std::uint64_t at = 0;  // the call number (count after the call) that fails
    std::uint32_t code = 0;
    bool persistent = false;
  };
  mutable std::mutex mutex_;
  std::map<std::string, std::uint64_t, std::less<>> counts_;
  std::map<std::string, std::vector<Fault>, std::less<>> faults_;
  std::map<std::string, std::vector<std::uint64_t>, std::less<>> hangs_;  // call numbers
  std::condition_variable released_;
  bool hangsReleased_ = false;
  std::size_t hung_ = 0;
  std::atomic<std::uintptr_t> nextHandle_{0x1A4};
};

// Upper-cases ASCII and Latin-1 letters: the registry orders and matches names by their
// upper-case form, which puts '_' after the letters, unlike a lower-case comparison.
std::wstring ToUpperOrdinal(std::wstring_view text);

// Copies text with its NUL into a caller's buffer of `chars` characters when it fits, and
// answers as GetLongPathName/SearchPath do: the length without the NUL when copied, else the
// size needed with the NUL.
std::uint32_t CopyOrNeeded(std::wstring_view text, wchar_t* buffer, std::uint32_t chars);

}  // namespace kvd::sim
