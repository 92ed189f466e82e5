#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/api/IRegistry.h"
#include "platform/sim/SimCommon.h"
#include "platform/sim/SimSystem.h"

namespace kvd::sim {

// HKEY_CURRENT_USER and HKEY_LOCAL_MACHINE as the 32-bit program on 64-bit Windows 7 sees them.
// Key and value names are case-insensitive with the stored case kept; sub-keys enumerate in the
// order of their upper-case names, as the registry keeps them. Handles are checked against the
// access they were opened with. A key's last-write time is the clock's time when it was created,
// when a value of it was set or deleted, or when a sub-key was created or deleted.
// The 32-bit view (KEY_WOW64_32KEY, or neither view bit): HKLM\SOFTWARE is
// HKLM\SOFTWARE\Wow6432Node, for the key itself and everything reached through it; HKCU is never
// redirected. Not modelled: the shared keys under SOFTWARE that Windows 7 does not redirect,
// security descriptors (DenyAccess stands for them), volatile keys, value enumeration, and
// RegSetValueExW's habit of counting a NUL that follows unterminated text in the caller's memory
// (the sim stores exactly the bytes it is given).
class SimRegistry final : public platform::IRegistry {
 public:
  struct Value {
    std::uint32_t type = 0;
    std::vector<std::uint8_t> bytes;
    bool operator==(const Value&) const = default;
  };

  SimRegistry(SimCalls& calls, SimClock& clock);

  platform::LStatus OpenKeyEx(platform::HKey parent, const wchar_t* subKey,
                              std::uint32_t samDesired, platform::HKey* result) override;
  platform::LStatus CreateKeyEx(platform::HKey parent, const wchar_t* subKey,
                                std::uint32_t samDesired, platform::HKey* result,
                                std::uint32_t* disposition) override;
  platform::LStatus QueryValueEx(platform::HKey key, const wchar_t* valueName, std::uint32_t* type,
                                 std::uint8_t* data, std::uint32_t* dataBytes) override;
  platform::LStatus SetValueEx(platform::HKey key, const wchar_t* valueName, std::uint32_t type,
                               const std::uint8_t* data, std::uint32_t dataBytes) override;
  platform::LStatus DeleteValue(platform::HKey key, const wchar_t* valueName) override;
  platform::LStatus DeleteKeyEx(platform::HKey parent, const wchar_t* subKey,
                                std::uint32_t samDesired) override;
  platform::LStatus DeleteTree(platform::HKey parent, const wchar_t* subKey) override;
  platform::LStatus EnumValue(platform::HKey key, std::uint32_t index, wchar_t* name,
                              std::uint32_t* nameChars) override;
  platform::LStatus EnumKeyEx(platform::HKey key, std::uint32_t index, wchar_t* name,
                              std::uint32_t* nameChars, platform::FileTime* lastWriteTime) override;
  platform::LStatus CloseKey(platform::HKey key) override;

  // Set-up and inspection (not counted, never faulted). root is kHkeyCurrentUser or
  // kHkeyLocalMachine; paths are real paths (no redirection), e.g. L"SOFTWARE\\Wow6432Node\\X".
  void PutKey(platform::HKey root, std::wstring_view path);  // with its parents
  void PutValue(platform::HKey root, std::wstring_view path, std::wstring_view name,
                std::uint32_t type, std::vector<std::uint8_t> bytes);
  void PutString(platform::HKey root, std::wstring_view path, std::wstring_view name,
                 std::wstring_view text);  // REG_SZ with its NUL
  void PutDword(platform::HKey root, std::wstring_view path, std::wstring_view name,
                std::uint32_t value);
  std::optional<Value> GetValue(platform::HKey root, std::wstring_view path,
                                std::wstring_view name) const;
  bool KeyExists(platform::HKey root, std::wstring_view path) const;
  // The sub-keys' names as stored, in enumeration order; empty for a missing key.
  std::vector<std::wstring> SubKeyNames(platform::HKey root, std::wstring_view path) const;
  void RemoveKey(platform::HKey root, std::wstring_view path);  // with everything below it
  void RemoveValue(platform::HKey root, std::wstring_view path, std::wstring_view name);
  // Opening or creating that key (made if missing) answers ERROR_ACCESS_DENIED, as does
  // creating a sub-key in it; keys below it stay reachable.
  void DenyAccess(platform::HKey root, std::wstring_view path);
  void SetLastWriteTime(platform::HKey root, std::wstring_view path, platform::FileTime time);
  std::optional<platform::FileTime> GetLastWriteTime(platform::HKey root,
                                                     std::wstring_view path) const;
  std::size_t OpenHandleCount() const;

 private:
  struct Node {
    std::wstring name;
    Node* parent = nullptr;
    std::map<std::wstring, std::shared_ptr<Node>> children;         // by upper-case name
    std::map<std::wstring, std::pair<std::wstring, Value>> values;  // by upper-case name
    platform::FileTime lastWrite = 0;
    bool denied = false;
    bool deleted = false;
    bool redirected = false;  // HKLM\SOFTWARE: the 32-bit view continues in its Wow6432Node
  };
  struct Open {
    std::shared_ptr<Node> node;
    std::uint32_t access = 0;
  };

  std::shared_ptr<Node> RootLocked(platform::HKey key) const;
  // The key a handle names; a status other than success when it names none.
  platform::LStatus NodeLocked(platform::HKey key, std::uint32_t accessNeeded,
                               std::shared_ptr<Node>& out) const;
  platform::LStatus WalkLocked(const std::shared_ptr<Node>& start, std::wstring_view path,
                               bool view32, bool create, bool mayCreateInStart,
                               std::shared_ptr<Node>& out, bool& created);
  std::shared_ptr<Node> RealLocked(platform::HKey root, std::wstring_view path, bool create);
  std::shared_ptr<Node> FindRealLocked(platform::HKey root, std::wstring_view path) const;
  // Takes a key (not a root) and everything below it out of the tree.
  void EraseTreeLocked(Node& node);
  std::shared_ptr<Node> AddChildLocked(Node& parent, std::wstring_view name);

  SimCalls& calls_;
  SimClock& clock_;
  mutable std::mutex mutex_;
  std::shared_ptr<Node> currentUser_;
  std::shared_ptr<Node> localMachine_;
  std::map<platform::HKey, Open> opens_;
};

}  // namespace kvd::sim
