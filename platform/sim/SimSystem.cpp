#include "platform/sim/SimSystem.h"

#include <algorithm>
#include <array>
#include <utility>

#include "platform/api/Text.h"

namespace kvd::sim {

using platform::CalendarTime;
using platform::FileTime;
namespace err = platform::err;

// ---------------------------------------------------------------------------------------------
// SimErrors

namespace {
struct MessageText {
  std::uint32_t code;
  const wchar_t* text;
};

// The English system texts of Windows 7, as FormatMessage answers them.
constexpr std::array kMessages{
    MessageText{0, L"The operation completed successfully.\r\n"},
    MessageText{1, L"Incorrect function.\r\n"},
    MessageText{2, L"The system cannot find the file specified.\r\n"},
    MessageText{3, L"The system cannot find the path specified.\r\n"},
    MessageText{5, L"Access is denied.\r\n"},
    MessageText{6, L"The handle is invalid.\r\n"},
    MessageText{8, L"Not enough storage is available to process this command.\r\n"},
    MessageText{13, L"The data is invalid.\r\n"},
    MessageText{32,
                L"The process cannot access the file because it is being used by another "
                L"process.\r\n"},
    MessageText{38, L"Reached the end of the file.\r\n"},
    MessageText{50, L"The request is not supported.\r\n"},
    MessageText{53, L"The network path was not found.\r\n"},
    MessageText{80, L"The file exists.\r\n"},
    MessageText{87, L"The parameter is incorrect.\r\n"},
    MessageText{111, L"The file name is too long.\r\n"},
    MessageText{120, L"This function is not supported on this system.\r\n"},
    MessageText{122, L"The data area passed to a system call is too small.\r\n"},
    MessageText{123, L"The filename, directory name, or volume label syntax is incorrect.\r\n"},
    MessageText{126, L"The specified module could not be found.\r\n"},
    MessageText{131,
                L"An attempt was made to move the file pointer before the beginning of the "
                L"file.\r\n"},
    MessageText{145, L"The directory is not empty.\r\n"},
    MessageText{161, L"The specified path is invalid.\r\n"},
    MessageText{183, L"Cannot create a file when that file already exists.\r\n"},
    MessageText{203, L"The system could not find the environment option that was entered.\r\n"},
    MessageText{206, L"The filename or extension is too long.\r\n"},
    MessageText{234, L"More data is available.\r\n"},
    MessageText{259, L"No more data is available.\r\n"},
    MessageText{288, L"Attempt to release mutex not owned by caller.\r\n"},
    MessageText{317,
                L"The system cannot find message text for message number 0x%1 in the message "
                L"file for %2.\r\n"},
    MessageText{998, L"Invalid access to memory location.\r\n"},
    MessageText{1018,
                L"Illegal operation attempted on a registry key that has been marked for "
                L"deletion.\r\n"},
    MessageText{1812, L"The specified image file did not contain a resource section.\r\n"},
    MessageText{1813, L"The specified resource type cannot be found in the image file.\r\n"},
    MessageText{1815, L"The specified resource language ID cannot be found in the image file.\r\n"},
};

constexpr std::uint32_t kPrimaryLanguageMask = 0x3FF;
constexpr std::uint32_t kLangNeutral = 0x00;
constexpr std::uint32_t kLangEnglish = 0x09;
}  // namespace

std::optional<std::wstring_view> SimErrors::SystemText(std::uint32_t code) {
  // FormatMessage also knows the HRESULT form of a Win32 code (FACILITY_WIN32).
  if ((code & 0xFFFF0000u) == 0x80070000u) code &= 0xFFFFu;
  for (const auto& message : kMessages) {
    if (message.code == code) return std::wstring_view(message.text);
  }
  return std::nullopt;
}

std::uint32_t SimErrors::GetLastError() {
  calls_.Enter("GetLastError");
  return ThreadError();
}

void SimErrors::SetLastError(std::uint32_t code) {
  calls_.Enter("SetLastError");
  SetThreadError(code);
}

std::uint32_t SimErrors::FormatMessage(std::uint32_t code, std::uint32_t languageId,
                                       wchar_t* buffer, std::uint32_t chars) {
  if (auto fault = calls_.Enter("FormatMessage")) {
    SetThreadError(*fault);
    return 0;
  }
  const std::uint32_t primary = languageId & kPrimaryLanguageMask;
  if (primary != kLangNeutral && primary != kLangEnglish) {
    SetThreadError(simerr::ResourceLangNotFound);
    return 0;
  }
  const auto text = SystemText(code);
  if (!text) {
    SetThreadError(err::MrMidNotFound);
    return 0;
  }
  if (buffer == nullptr || chars <= text->size()) {
    SetThreadError(err::InsufficientBuffer);
    return 0;
  }
  std::copy(text->begin(), text->end(), buffer);
  buffer[text->size()] = L'\0';
  return static_cast<std::uint32_t>(text->size());
}

void SimErrors::SetThreadError(std::uint32_t code) {
  std::lock_guard lock(mutex_);
  lastErrors_.Slot(0) = code;
}

std::uint32_t SimErrors::ThreadError() {
  std::lock_guard lock(mutex_);
  return lastErrors_.Slot(0);
}

// ---------------------------------------------------------------------------------------------
// SimClock

namespace {
constexpr std::int64_t kFileTimePerMs = 10000;
constexpr std::int64_t kFileTimePerSecond = 10000000;
constexpr std::int64_t kSecondsPerDay = 86400;
// Days from 1601-01-01 to 1970-01-01.
constexpr std::int64_t kDays1601To1970 = 134774;

// Days since 1970-01-01 of a proleptic Gregorian date, and back (H. Hinnant's algorithms).
std::int64_t DaysFromCivil(std::int64_t y, unsigned m, unsigned d) {
  y -= m <= 2 ? 1 : 0;
  const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
  const auto yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

void CivilFromDays(std::int64_t z, int& year, int& month, int& day) {
  z += 719468;
  const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const auto doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  year = static_cast<int>(static_cast<std::int64_t>(yoe) + era * 400 + (month <= 2 ? 1 : 0));
}
}  // namespace

FileTime SimClock::ToFileTime(const CalendarTime& time) {
  const std::int64_t days =
      DaysFromCivil(time.year, static_cast<unsigned>(time.month), static_cast<unsigned>(time.day)) +
      kDays1601To1970;
  const std::int64_t seconds =
      days * kSecondsPerDay + time.hour * 3600 + time.minute * 60 + time.second;
  return static_cast<FileTime>(seconds * kFileTimePerSecond);
}

CalendarTime SimClock::ToCalendarTime(FileTime time) {
  const auto seconds = static_cast<std::int64_t>(time / kFileTimePerSecond);
  const std::int64_t days = seconds / kSecondsPerDay;
  const std::int64_t inDay = seconds % kSecondsPerDay;
  CalendarTime out;
  CivilFromDays(days - kDays1601To1970, out.year, out.month, out.day);
  out.hour = static_cast<int>(inDay / 3600);
  out.minute = static_cast<int>(inDay / 60 % 60);
  out.second = static_cast<int>(inDay % 60);
  return out;
}

std::uint32_t SimClock::GetTickCount() {
  calls_.Enter("GetTickCount");
  std::lock_guard lock(mutex_);
  return tick_;
}

bool SimClock::QueryPerformanceCounter(std::int64_t* counter) {
  if (auto fault = calls_.Enter("QueryPerformanceCounter")) {
    errors_.SetThreadError(*fault);
    return false;
  }
  std::lock_guard lock(mutex_);
  if (counter == nullptr) {
    errors_.SetThreadError(simerr::NoAccess);
    return false;
  }
  if (frequency_ == 0) {
    errors_.SetThreadError(err::InvalidFunction);
    return false;
  }
  *counter = counter_;
  return true;
}

bool SimClock::QueryPerformanceFrequency(std::int64_t* frequency) {
  if (auto fault = calls_.Enter("QueryPerformanceFrequency")) {
    errors_.SetThreadError(*fault);
    return false;
  }
  std::lock_guard lock(mutex_);
  if (frequency == nullptr) {
    errors_.SetThreadError(simerr::NoAccess);
    return false;
  }
  if (frequency_ == 0) {
    errors_.SetThreadError(err::InvalidFunction);
    *frequency = 0;
    return false;
  }
  *frequency = frequency_;
  return true;
}

bool SimClock::GetLocalCalendarTime(CalendarTime* out) {
  if (auto fault = calls_.Enter("GetLocalCalendarTime")) {
    errors_.SetThreadError(*fault);
    return false;
  }
  std::lock_guard lock(mutex_);
  if (failLocalTime_ || out == nullptr) return false;
  *out = ToCalendarTime(base_ + elapsedMs_ * kFileTimePerMs);
  return true;
}

void SimClock::Sleep(std::uint32_t milliseconds) {
  calls_.Enter("Sleep");
  std::lock_guard lock(mutex_);
  sleeps_.push_back(milliseconds);
  AdvanceLocked(milliseconds);
}

void SimClock::Advance(std::uint64_t milliseconds) {
  std::lock_guard lock(mutex_);
  AdvanceLocked(milliseconds);
}

void SimClock::AdvanceLocked(std::uint64_t milliseconds) {
  tick_ = static_cast<std::uint32_t>(tick_ + milliseconds);
  elapsedMs_ += milliseconds;
  // Whole counter ticks per millisecond plus the carried parts, so that odd frequencies do not
  // drift from the tick over many small advances.
  const auto ms = static_cast<std::int64_t>(milliseconds);
  const std::int64_t scaled = (frequency_ % 1000) * ms + counterRemainder_;
  counter_ += (frequency_ / 1000) * ms + scaled / 1000;
  counterRemainder_ = scaled % 1000;
}

void SimClock::SetTick(std::uint32_t tick) {
  std::lock_guard lock(mutex_);
  tick_ = tick;
}

void SimClock::AdvanceCounter(std::int64_t ticks) {
  std::lock_guard lock(mutex_);
  counter_ += ticks;
}

void SimClock::SetFrequency(std::int64_t frequency) {
  std::lock_guard lock(mutex_);
  frequency_ = frequency;
  counterRemainder_ = 0;
}

void SimClock::SetCalendarTime(const CalendarTime& local) {
  std::lock_guard lock(mutex_);
  base_ = ToFileTime(local) - elapsedMs_ * kFileTimePerMs;
}

void SimClock::FailLocalTime(bool fail) {
  std::lock_guard lock(mutex_);
  failLocalTime_ = fail;
}

std::vector<std::uint32_t> SimClock::Sleeps() const {
  std::lock_guard lock(mutex_);
  return sleeps_;
}

std::uint32_t SimClock::Tick() const {
  std::lock_guard lock(mutex_);
  return tick_;
}

FileTime SimClock::Now() const {
  std::lock_guard lock(mutex_);
  return base_ + elapsedMs_ * kFileTimePerMs;
}

// ---------------------------------------------------------------------------------------------
// SimDebugOutput

void SimDebugOutput::OutputDebugString(const wchar_t* text) {
  calls_.Enter("OutputDebugString");
  std::lock_guard lock(mutex_);
  texts_.emplace_back(text == nullptr ? L"" : text);
}

std::vector<std::wstring> SimDebugOutput::Take() {
  std::lock_guard lock(mutex_);
  return std::exchange(texts_, {});
}

// ---------------------------------------------------------------------------------------------
// SimEnvironment

SimEnvironment::SimEnvironment(SimCalls& calls, SimErrors& errors)
    : calls_(calls), errors_(errors) {
  // What a 32-bit process of user "tester" finds on a 64-bit Windows 7.
  const std::pair<const wchar_t*, const wchar_t*> preset[] = {
      {L"ALLUSERSPROFILE", L"C:\\ProgramData"},
      {L"APPDATA", L"C:\\Users\\tester\\AppData\\Roaming"},
      {L"CommonProgramFiles", L"C:\\Program Files (x86)\\Common Files"},
      {L"COMPUTERNAME", L"KVD-SIM"},
      {L"LOCALAPPDATA", L"C:\\Users\\tester\\AppData\\Local"},
      {L"PROCESSOR_ARCHITECTURE", L"x86"},
      {L"PROCESSOR_ARCHITEW6432", L"AMD64"},
      {L"ProgramData", L"C:\\ProgramData"},
      {L"ProgramFiles", L"C:\\Program Files (x86)"},
      {L"ProgramFiles(x86)", L"C:\\Program Files (x86)"},
      {L"ProgramW6432", L"C:\\Program Files"},
      {L"SystemDrive", L"C:"},
      {L"SystemRoot", L"C:\\Windows"},
      {L"TEMP", L"C:\\Users\\tester\\AppData\\Local\\Temp"},
      {L"TMP", L"C:\\Users\\tester\\AppData\\Local\\Temp"},
      {L"USERNAME", L"tester"},
      {L"USERPROFILE", L"C:\\Users\\tester"},
      {L"windir", L"C:\\Windows"},
  };
  for (const auto& [name, value] : preset) Put(name, value);
}

std::uint32_t SimEnvironment::ExpandEnvironmentStrings(const wchar_t* source, wchar_t* destination,
                                                       std::uint32_t chars) {
  if (auto fault = calls_.Enter("ExpandEnvironmentStrings")) {
    errors_.SetThreadError(*fault);
    return 0;
  }
  if (source == nullptr) {
    errors_.SetThreadError(err::InvalidParameter);
    return 0;
  }
  const std::wstring expanded = Expand(source);
  const auto needed = static_cast<std::uint32_t>(expanded.size() + 1);
  if (destination != nullptr && chars >= needed) {
    std::copy(expanded.begin(), expanded.end(), destination);
    destination[expanded.size()] = L'\0';
  }
  return needed;
}

bool SimEnvironment::SetEnvironmentVariable(const wchar_t* name, const wchar_t* value) {
  if (auto fault = calls_.Enter("SetEnvironmentVariable")) {
    errors_.SetThreadError(*fault);
    return false;
  }
  // A name with '=' past its first character cannot be told apart from "name=value".
  if (name == nullptr || *name == L'\0' ||
      std::wstring_view(name + 1).find(L'=') != std::wstring_view::npos) {
    errors_.SetThreadError(err::InvalidParameter);
    return false;
  }
  if (value == nullptr) {
    Remove(name);
  } else {
    Put(name, value);
  }
  return true;
}

void SimEnvironment::Put(std::wstring_view name, std::wstring_view value) {
  std::lock_guard lock(mutex_);
  auto& variable = variables_[ToUpperOrdinal(name)];
  variable.name = name;
  variable.value = value;
}

void SimEnvironment::Remove(std::wstring_view name) {
  std::lock_guard lock(mutex_);
  variables_.erase(ToUpperOrdinal(name));
}

std::optional<std::wstring> SimEnvironment::Get(std::wstring_view name) const {
  std::lock_guard lock(mutex_);
  auto it = variables_.find(ToUpperOrdinal(name));
  if (it == variables_.end()) return std::nullopt;
  return it->second.value;
}

std::wstring SimEnvironment::Expand(std::wstring_view source) const {
  std::lock_guard lock(mutex_);
  return ExpandLocked(source);
}

std::wstring SimEnvironment::ExpandLocked(std::wstring_view source) const {
  // As the system's expansion does: a '%' that does not start a defined %NAME% is copied alone
  // and the scan goes on after it, so in "%UNDEFINED%PATH%" the second '%' starts %PATH%.
  std::wstring out;
  std::size_t i = 0;
  while (i < source.size()) {
    if (source[i] != L'%') {
      const std::size_t next = source.find(L'%', i);
      const std::size_t end = next == std::wstring_view::npos ? source.size() : next;
      out.append(source.substr(i, end - i));
      i = end;
      continue;
    }
    const std::size_t close = source.find(L'%', i + 1);
    if (close != std::wstring_view::npos) {
      auto it = variables_.find(ToUpperOrdinal(source.substr(i + 1, close - i - 1)));
      if (close > i + 1 && it != variables_.end()) {
        out.append(it->second.value);
        i = close + 1;
        continue;
      }
    }
    out.push_back(L'%');
    ++i;
  }
  return out;
}

}  // namespace kvd::sim
