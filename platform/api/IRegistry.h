#pragma once

#include <cstdint>

#include "platform/api/Types.h"

namespace kvd::platform {

// Predefined roots, with the values Windows gives them so that a root is an HKey like any other.
inline constexpr HKey kHkeyCurrentUser = 0x80000001u;
inline constexpr HKey kHkeyLocalMachine = 0x80000002u;

// REGSAM bits.
namespace sam {
inline constexpr std::uint32_t QueryValue = 0x0001;
inline constexpr std::uint32_t SetValue = 0x0002;
inline constexpr std::uint32_t CreateSubKey = 0x0004;
inline constexpr std::uint32_t EnumerateSubKeys = 0x0008;
inline constexpr std::uint32_t Notify = 0x0010;
inline constexpr std::uint32_t Wow64_64Key = 0x0100;
inline constexpr std::uint32_t Wow64_32Key = 0x0200;
inline constexpr std::uint32_t Read = 0x20019;   // KEY_READ
inline constexpr std::uint32_t Write = 0x20006;  // KEY_WRITE
inline constexpr std::uint32_t AllAccess = 0xF003F;
}  // namespace sam

// Value types.
namespace regtype {
inline constexpr std::uint32_t None = 0;
inline constexpr std::uint32_t Sz = 1;
inline constexpr std::uint32_t ExpandSz = 2;
inline constexpr std::uint32_t Binary = 3;
inline constexpr std::uint32_t Dword = 4;
inline constexpr std::uint32_t MultiSz = 7;
inline constexpr std::uint32_t Qword = 11;
}  // namespace regtype

// RegCreateKeyExW dispositions.
inline constexpr std::uint32_t kCreatedNewKey = 1;
inline constexpr std::uint32_t kOpenedExistingKey = 2;

// The registry (advapi32 Reg*W). Every method returns the LSTATUS of the call it wraps; names are
// NUL-terminated wide texts; value data are the raw bytes Windows stores (REG_SZ is UTF-16LE).
// Keys opened here are closed with CloseKey; the predefined roots never need closing.
class IRegistry {
 public:
  virtual ~IRegistry() = default;

  // RegOpenKeyExW(parent, subKey, 0, samDesired, result). subKey may be empty (reopens parent).
  virtual LStatus OpenKeyEx(HKey parent, const wchar_t* subKey, std::uint32_t samDesired,
                            HKey* result) = 0;

  // RegCreateKeyExW(parent, subKey, 0, nullptr, REG_OPTION_NON_VOLATILE, samDesired, nullptr,
  // result, disposition). Creates missing intermediate keys. disposition may be null.
  virtual LStatus CreateKeyEx(HKey parent, const wchar_t* subKey, std::uint32_t samDesired,
                              HKey* result, std::uint32_t* disposition) = 0;

  // RegQueryValueExW(key, valueName, nullptr, type, data, dataBytes). With data null only the
  // type and the size are answered; a buffer too small answers ERROR_MORE_DATA with the size
  // needed. type and dataBytes may be null when not wanted (dataBytes only when data is null).
  virtual LStatus QueryValueEx(HKey key, const wchar_t* valueName, std::uint32_t* type,
                               std::uint8_t* data, std::uint32_t* dataBytes) = 0;

  // RegSetValueExW(key, valueName, 0, type, data, dataBytes): the bytes are stored as given.
  virtual LStatus SetValueEx(HKey key, const wchar_t* valueName, std::uint32_t type,
                             const std::uint8_t* data, std::uint32_t dataBytes) = 0;

  // RegDeleteValueW.
  virtual LStatus DeleteValue(HKey key, const wchar_t* valueName) = 0;

  // RegDeleteKeyExW(parent, subKey, samDesired view bits, 0): the key must have no sub-keys.
  virtual LStatus DeleteKeyEx(HKey parent, const wchar_t* subKey, std::uint32_t samDesired) = 0;

  // SHDeleteKeyW(parent, subKey): the key with all its sub-keys and values, as a 32-bit process
  // sees it (HKLM\SOFTWARE redirected). ERROR_FILE_NOT_FOUND when it is not there.
  virtual LStatus DeleteTree(HKey parent, const wchar_t* subKey) = 0;

  // RegEnumKeyExW(key, index, name, nameChars, nullptr, nullptr, nullptr, lastWriteTime).
  // *nameChars: buffer size in characters on entry, name length without the NUL on success.
  // ERROR_NO_MORE_ITEMS past the last sub-key; ERROR_MORE_DATA when the buffer is too small.
  // lastWriteTime may be null.
  virtual LStatus EnumKeyEx(HKey key, std::uint32_t index, wchar_t* name, std::uint32_t* nameChars,
                            FileTime* lastWriteTime) = 0;

  // RegCloseKey.
  // RegEnumValueW(key, index, name, nameChars, nullptr, nullptr, nullptr, nullptr): the name
  // of the index-th value. *nameChars: buffer size in characters on entry, name length without
  // the NUL on success; ERROR_NO_MORE_ITEMS past the last value; ERROR_MORE_DATA when the
  // buffer is too small.
  virtual LStatus EnumValue(HKey key, std::uint32_t index, wchar_t* name,
                            std::uint32_t* nameChars) = 0;

  virtual LStatus CloseKey(HKey key) = 0;
};

}  // namespace kvd::platform
