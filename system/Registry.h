// The one way the program reads the registry: a value in two steps (size, then data), told apart
// as read, absent or unreadable, with the failing call and its code kept for the log.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/api/IRegistry.h"

namespace kvd::reg {

// How a read ended. Absent: the key or the value is not there (ERROR_FILE_NOT_FOUND), which is
// an answer, not an error. Unreadable: it is there but cannot be had (any other failure of the
// open or the query, a type the reader does not take, a number without bytes).
enum class RegStatus { Read, Absent, Unreadable };

struct RegValue {
  RegStatus status = RegStatus::Absent;
  std::uint32_t type = 0;
  std::vector<std::uint8_t> bytes;
  // The call that failed ("RegOpenKeyExW", "RegQueryValueExW") and its LSTATUS; none when the
  // value was read or merely had a type the reader does not take.
  const wchar_t* failedCall = nullptr;
  platform::LStatus error = 0;

  bool IsRead() const { return status == RegStatus::Read; }
  // The first byte of a number value, whatever its type; none when the value was not read or
  // has no bytes.
  std::optional<std::uint8_t> FirstByte() const;
};

struct RegText {
  RegStatus status = RegStatus::Absent;
  std::wstring text;

  bool IsRead() const { return status == RegStatus::Read; }
  // The text when read, else `fallback`.
  std::wstring Or(std::wstring_view fallback) const {
    return IsRead() ? text : std::wstring(fallback);
  }
};

// The name that asks for a key's unnamed default value (an empty name of any other origin asks
// nothing).
inline constexpr std::wstring_view kDefaultValue = L"";

// The view every HKLM access of the program uses.
inline constexpr std::uint32_t kView32 = platform::sam::Wow64_32Key;

// One value of root\path, opened for reading in `view`. An empty path or name asks nothing and
// answers Absent. Failures other than absence are logged with the call, its code and the path.
RegValue ReadValue(platform::IRegistry& registry, platform::HKey root, std::wstring_view path,
                   std::wstring_view name, std::uint32_t view = kView32);

// A text value: REG_SZ or REG_EXPAND_SZ (not expanded), up to its first NUL or its end; a 0-byte
// value is the empty text. Any other type is unreadable.
RegText ReadText(platform::IRegistry& registry, platform::HKey root, std::wstring_view path,
                 std::wstring_view name, std::uint32_t view = kView32);

// The same under HKLM in the 32-bit view.
inline RegValue MachineValue(platform::IRegistry& registry, std::wstring_view path,
                             std::wstring_view name) {
  return ReadValue(registry, platform::kHkeyLocalMachine, path, name);
}
inline RegText MachineText(platform::IRegistry& registry, std::wstring_view path,
                           std::wstring_view name) {
  return ReadText(registry, platform::kHkeyLocalMachine, path, name);
}

// The names of an open key's sub-keys in enumeration order; the walk ends at the first failure
// (ERROR_NO_MORE_ITEMS past the last one).
std::vector<std::wstring> SubKeyNames(platform::IRegistry& registry, platform::HKey key);

// REG_SZ with its terminating NUL, into an open key; true when written.
bool WriteText(platform::IRegistry& registry, platform::HKey key, const wchar_t* name,
               std::wstring_view text);

}  // namespace kvd::reg
