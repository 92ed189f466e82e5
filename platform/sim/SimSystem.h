#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/api/ISystem.h"
#include "platform/sim/SimCommon.h"

namespace kvd::sim {

// The thread's last error and the system's English message texts.
class SimErrors final : public platform::IErrors {
 public:
  explicit SimErrors(SimCalls& calls) : calls_(calls) {}

  std::uint32_t GetLastError() override;
  void SetLastError(std::uint32_t code) override;
  std::uint32_t FormatMessage(std::uint32_t code, std::uint32_t languageId, wchar_t* buffer,
                              std::uint32_t chars) override;

  // Set-up and inspection (not counted): what the other sub-objects use to answer like Windows.
  void SetThreadError(std::uint32_t code);
  std::uint32_t ThreadError();
  // The system text for a code, or nothing when the system has none.
  static std::optional<std::wstring_view> SystemText(std::uint32_t code);

 private:
  SimCalls& calls_;
  std::mutex mutex_;
  PerThread<std::uint32_t> lastErrors_;
};

// Time that only moves when told. The tick starts at 1,000,000 ms; the performance counter and
// the local calendar time move with it; the calendar's time zone is UTC, so local time and file
// times agree.
class SimClock final : public platform::IClock {
 public:
  explicit SimClock(SimCalls& calls, SimErrors& errors) : calls_(calls), errors_(errors) {}

  std::uint32_t GetTickCount() override;
  bool QueryPerformanceCounter(std::int64_t* counter) override;
  bool QueryPerformanceFrequency(std::int64_t* frequency) override;
  bool GetLocalCalendarTime(platform::CalendarTime* out) override;
  // Advances the clock at once by the time asked for and records it; never really waits.
  void Sleep(std::uint32_t milliseconds) override;

  // Set-up and inspection (not counted).
  void Advance(std::uint64_t milliseconds);  // tick, counter and calendar
  void SetTick(std::uint32_t tick);          // the tick alone (to reach the 2^32 wrap)
  void AdvanceCounter(std::int64_t ticks);   // the performance counter alone
  // 0 means the machine has no performance counter: both counter calls fail.
  void SetFrequency(std::int64_t frequency);
  void SetCalendarTime(const platform::CalendarTime& local);
  void FailLocalTime(bool fail);
  std::vector<std::uint32_t> Sleeps() const;
  platform::FileTime Now() const;  // the current time as a file time, for time stamps
  std::uint32_t Tick() const;      // what GetTickCount answers, for the sim's own use

  static platform::FileTime ToFileTime(const platform::CalendarTime& time);
  static platform::CalendarTime ToCalendarTime(platform::FileTime time);

 private:
  void AdvanceLocked(std::uint64_t milliseconds);

  SimCalls& calls_;
  SimErrors& errors_;
  mutable std::mutex mutex_;
  std::uint32_t tick_ = 1000000;
  std::int64_t frequency_ = 10000000;
  std::int64_t counter_ = 10000000000;  // the tick's 1,000,000 ms at the default frequency
  std::int64_t counterRemainder_ = 0;   // parts of a counter tick not yet whole (per 1000)
  std::uint64_t elapsedMs_ = 0;
  platform::FileTime base_ = 134413686000000000;  // 2026-12-10 09:30:00
  bool failLocalTime_ = false;
  std::vector<std::uint32_t> sleeps_;
};

// The debugger-output channel: every text is kept, in order.
class SimDebugOutput final : public platform::IDebugOutput {
 public:
  explicit SimDebugOutput(SimCalls& calls) : calls_(calls) {}

  void OutputDebugString(const wchar_t* text) override;

  // Every text received since the last Take, in order.
  std::vector<std::wstring> Take();

 private:
  SimCalls& calls_;
  std::mutex mutex_;
  std::vector<std::wstring> texts_;
};

// The process environment (names are case-insensitive, stored case kept).
class SimEnvironment final : public platform::IEnvironment {
 public:
  SimEnvironment(SimCalls& calls, SimErrors& errors);

  std::uint32_t ExpandEnvironmentStrings(const wchar_t* source, wchar_t* destination,
                                         std::uint32_t chars) override;
  bool SetEnvironmentVariable(const wchar_t* name, const wchar_t* value) override;

  // Set-up and inspection (not counted).
  void Put(std::wstring_view name, std::wstring_view value);
  void Remove(std::wstring_view name);
  std::optional<std::wstring> Get(std::wstring_view name) const;
  std::wstring Expand(std::wstring_view source) const;

 private:
  struct Variable {
    std::wstring name;
    std::wstring value;
  };
  std::wstring ExpandLocked(std::wstring_view source) const;

  SimCalls& calls_;
  SimErrors& errors_;
  mutable std::mutex mutex_;
  std::map<std::wstring, Variable> variables_;  // keyed by upper-case name
};

// Counts a call of `method` and, when a fault is due, sets it as the thread's last error: true
// when the call must fail.
inline bool Faulted(SimCalls& calls, SimErrors& errors, std::string_view method) {
  if (auto fault = calls.Enter(method)) {
    errors.SetThreadError(*fault);
    return true;
  }
  return false;
}

}  // namespace kvd::sim
