#include "platform/sim/SimRegistry.h"

#include <algorithm>
#include <stdexcept>

#include "platform/api/Text.h"

namespace kvd::sim {

namespace err = platform::err;
namespace sam = platform::sam;
using platform::HKey;
using platform::LStatus;

namespace {

constexpr std::uint32_t kGenericRead = 0x80000000u;
constexpr std::uint32_t kGenericWrite = 0x40000000u;
constexpr std::uint32_t kGenericAll = 0x10000000u;
constexpr std::uint32_t kMaximumAllowed = 0x02000000u;
constexpr std::uint32_t kViewBits = sam::Wow64_32Key | sam::Wow64_64Key;
constexpr std::wstring_view kWow6432Node = L"Wow6432Node";

LStatus Status(std::uint32_t code) { return static_cast<LStatus>(code); }

std::uint32_t Granted(std::uint32_t samDesired) {
  std::uint32_t access = samDesired & ~kViewBits;
  if ((access & (kMaximumAllowed | kGenericAll)) != 0) access |= sam::AllAccess;
  if ((access & kGenericRead) != 0) access |= sam::Read;
  if ((access & kGenericWrite) != 0) access |= sam::Write;
  return access;
}

std::vector<std::wstring_view> Split(std::wstring_view path) {
  std::vector<std::wstring_view> parts;
  std::size_t pos = 0;
  while (pos < path.size()) {
    std::size_t next = path.find(L'\\', pos);
    if (next == std::wstring_view::npos) next = path.size();
    if (next > pos) parts.push_back(path.substr(pos, next - pos));
    pos = next + 1;
  }
  return parts;
}

}  // namespace

SimRegistry::SimRegistry(SimCalls& calls, SimClock& clock)
    : calls_(calls),
      clock_(clock),
      currentUser_(std::make_shared<Node>()),
      localMachine_(std::make_shared<Node>()) {
  currentUser_->name = L"HKEY_CURRENT_USER";
  localMachine_->name = L"HKEY_LOCAL_MACHINE";
  std::lock_guard lock(mutex_);
  for (const auto* path : {L"SOFTWARE\\Microsoft", L"SOFTWARE\\Wow6432Node\\Microsoft",
                           L"SYSTEM\\CurrentControlSet\\Services"}) {
    RealLocked(platform::kHkeyLocalMachine, path, true);
  }
  RealLocked(platform::kHkeyCurrentUser, L"Software\\Microsoft", true);
}

std::shared_ptr<SimRegistry::Node> SimRegistry::RootLocked(HKey key) const {
  if (key == platform::kHkeyCurrentUser) return currentUser_;
  if (key == platform::kHkeyLocalMachine) return localMachine_;
  return nullptr;
}

LStatus SimRegistry::NodeLocked(HKey key, std::uint32_t accessNeeded,
                                std::shared_ptr<Node>& out) const {
  if (auto root = RootLocked(key)) {
    out = std::move(root);
    return Status(err::Success);
  }
  auto it = opens_.find(key);
  if (it == opens_.end()) return Status(err::InvalidHandle);
  if ((it->second.access & accessNeeded) != accessNeeded) return Status(err::AccessDenied);
  if (it->second.node->deleted) return Status(err::KeyDeleted);
  out = it->second.node;
  return Status(err::Success);
}

std::shared_ptr<SimRegistry::Node> SimRegistry::AddChildLocked(Node& parent,
                                                               std::wstring_view name) {
  auto node = std::make_shared<Node>();
  node->name = name;
  node->parent = &parent;
  node->lastWrite = parent.lastWrite = clock_.Now();
  node->redirected = &parent == localMachine_.get() && platform::EqualsNoCase(name, L"SOFTWARE");
  parent.children[ToUpperOrdinal(name)] = node;
  return node;
}

LStatus SimRegistry::WalkLocked(const std::shared_ptr<Node>& start, std::wstring_view path,
                                bool view32, bool create, bool mayCreateInStart,
                                std::shared_ptr<Node>& out, bool& created) {
  created = false;
  // A sub-key relative to a handle cannot start at a root.
  if (!path.empty() && path.front() == L'\\') return Status(err::BadPathname);
  const auto parts = Split(path);
  std::shared_ptr<Node> node = start;
  for (std::size_t i = 0; i < parts.size(); ++i) {
    auto it = node->children.find(ToUpperOrdinal(parts[i]));
    if (it != node->children.end()) {
      node = it->second;
    } else {
      if (!create) return Status(err::FileNotFound);
      if (node->denied || (node == start && !mayCreateInStart)) return Status(err::AccessDenied);
      node = AddChildLocked(*node, parts[i]);
      created = true;
    }
    const bool namesWow =
        i + 1 < parts.size() && platform::EqualsNoCase(parts[i + 1], kWow6432Node);
    if (view32 && node->redirected && !namesWow) {
      auto wow = node->children.find(ToUpperOrdinal(kWow6432Node));
      if (wow != node->children.end()) {
        node = wow->second;
      } else if (create) {
        node = AddChildLocked(*node, kWow6432Node);
      } else {
        return Status(err::FileNotFound);
      }
    }
  }
  if (node->denied) return Status(err::AccessDenied);
  out = std::move(node);
  return Status(err::Success);
}

// ---------------------------------------------------------------------------------------------
// Ports

LStatus SimRegistry::OpenKeyEx(HKey parent, const wchar_t* subKey, std::uint32_t samDesired,
                               HKey* result) {
  if (result != nullptr) *result = 0;
  if (auto fault = calls_.Enter("OpenKeyEx")) return Status(*fault);
  if (result == nullptr || (samDesired & kViewBits) == kViewBits) {
    return Status(err::InvalidParameter);
  }
  std::lock_guard lock(mutex_);
  std::shared_ptr<Node> start;
  if (LStatus status = NodeLocked(parent, 0, start); status != 0) return status;
  std::shared_ptr<Node> node;
  bool created = false;
  const bool view32 = (samDesired & sam::Wow64_64Key) == 0;
  if (LStatus status =
          WalkLocked(start, subKey == nullptr ? L"" : subKey, view32, false, false, node, created);
      status != 0) {
    return status;
  }
  const HKey handle = calls_.NextHandle();
  opens_[handle] = Open{std::move(node), Granted(samDesired)};
  *result = handle;
  return Status(err::Success);
}

LStatus SimRegistry::CreateKeyEx(HKey parent, const wchar_t* subKey, std::uint32_t samDesired,
                                 HKey* result, std::uint32_t* disposition) {
  if (result != nullptr) *result = 0;
  if (auto fault = calls_.Enter("CreateKeyEx")) return Status(*fault);
  if (result == nullptr || (samDesired & kViewBits) == kViewBits) {
    return Status(err::InvalidParameter);
  }
  std::lock_guard lock(mutex_);
  std::shared_ptr<Node> start;
  if (LStatus status = NodeLocked(parent, 0, start); status != 0) return status;
  auto open = opens_.find(parent);
  const bool mayCreate = open == opens_.end() || (open->second.access & sam::CreateSubKey) != 0;
  std::shared_ptr<Node> node;
  bool created = false;
  const bool view32 = (samDesired & sam::Wow64_64Key) == 0;
  if (LStatus status = WalkLocked(start, subKey == nullptr ? L"" : subKey, view32, true, mayCreate,
                                  node, created);
      status != 0) {
    return status;
  }
  const HKey handle = calls_.NextHandle();
  opens_[handle] = Open{std::move(node), Granted(samDesired)};
  *result = handle;
  if (disposition != nullptr) {
    *disposition = created ? platform::kCreatedNewKey : platform::kOpenedExistingKey;
  }
  return Status(err::Success);
}

LStatus SimRegistry::QueryValueEx(HKey key, const wchar_t* valueName, std::uint32_t* type,
                                  std::uint8_t* data, std::uint32_t* dataBytes) {
  if (auto fault = calls_.Enter("QueryValueEx")) return Status(*fault);
  if (data != nullptr && dataBytes == nullptr) return Status(err::InvalidParameter);
  std::lock_guard lock(mutex_);
  std::shared_ptr<Node> node;
  if (LStatus status = NodeLocked(key, sam::QueryValue, node); status != 0) return status;
  auto it = node->values.find(ToUpperOrdinal(valueName == nullptr ? L"" : valueName));
  if (it == node->values.end()) return Status(err::FileNotFound);
  const Value& value = it->second.second;
  const auto size = static_cast<std::uint32_t>(value.bytes.size());
  if (type != nullptr) *type = value.type;
  if (data == nullptr) {
    if (dataBytes != nullptr) *dataBytes = size;
    return Status(err::Success);
  }
  if (*dataBytes < size) {
    *dataBytes = size;
    return Status(err::MoreData);
  }
  std::copy(value.bytes.begin(), value.bytes.end(), data);
  // Windows adds a NUL after text that lacks one when the buffer has room for it, without
  // counting it in the size.
  const bool text = value.type == platform::regtype::Sz ||
                    value.type == platform::regtype::ExpandSz ||
                    value.type == platform::regtype::MultiSz;
  if (text && size >= 2 && *dataBytes >= size + 2 && (data[size - 2] != 0 || data[size - 1] != 0)) {
    data[size] = 0;
    data[size + 1] = 0;
  }
  *dataBytes = size;
  return Status(err::Success);
}

LStatus SimRegistry::SetValueEx(HKey key, const wchar_t* valueName, std::uint32_t type,
                                const std::uint8_t* data, std::uint32_t dataBytes) {
  if (auto fault = calls_.Enter("SetValueEx")) return Status(*fault);
  std::lock_guard lock(mutex_);
  std::shared_ptr<Node> node;
  if (LStatus status = NodeLocked(key, sam::SetValue, node); status != 0) return status;
  if (data == nullptr && dataBytes != 0) return Status(simerr::NoAccess);
  const std::wstring name = valueName == nullptr ? L"" : valueName;
  node->values[ToUpperOrdinal(name)] =
      std::pair{name, Value{type, std::vector<std::uint8_t>(data, data + dataBytes)}};
  node->lastWrite = clock_.Now();
  return Status(err::Success);
}

LStatus SimRegistry::DeleteValue(HKey key, const wchar_t* valueName) {
  if (auto fault = calls_.Enter("DeleteValue")) return Status(*fault);
  std::lock_guard lock(mutex_);
  std::shared_ptr<Node> node;
  if (LStatus status = NodeLocked(key, sam::SetValue, node); status != 0) return status;
  if (node->values.erase(ToUpperOrdinal(valueName == nullptr ? L"" : valueName)) == 0) {
    return Status(err::FileNotFound);
  }
  node->lastWrite = clock_.Now();
  return Status(err::Success);
}

LStatus SimRegistry::DeleteKeyEx(HKey parent, const wchar_t* subKey, std::uint32_t samDesired) {
  if (auto fault = calls_.Enter("DeleteKeyEx")) return Status(*fault);
  if (subKey == nullptr || (samDesired & kViewBits) == kViewBits) {
    return Status(err::InvalidParameter);
  }
  std::lock_guard lock(mutex_);
  std::shared_ptr<Node> start;
  if (LStatus status = NodeLocked(parent, 0, start); status != 0) return status;
  std::shared_ptr<Node> node;
  bool created = false;
  const bool view32 = (samDesired & sam::Wow64_64Key) == 0;
  if (LStatus status = WalkLocked(start, subKey, view32, false, false, node, created);
      status != 0) {
    return status;
  }
  // Roots cannot go, and a key with sub-keys cannot either (RegDeleteTree is another call).
  if (node->parent == nullptr || !node->children.empty()) return Status(err::AccessDenied);
  node->deleted = true;
  node->parent->children.erase(ToUpperOrdinal(node->name));
  node->parent->lastWrite = clock_.Now();
  return Status(err::Success);
}

void SimRegistry::EraseTreeLocked(Node& node) {
  // Handles still open on the tree now name deleted keys.
  std::vector<Node*> pending{&node};
  while (!pending.empty()) {
    Node* current = pending.back();
    pending.pop_back();
    current->deleted = true;
    for (auto& [key, child] : current->children) pending.push_back(child.get());
  }
  node.parent->children.erase(ToUpperOrdinal(node.name));
  node.parent->lastWrite = clock_.Now();
}

LStatus SimRegistry::DeleteTree(HKey parent, const wchar_t* subKey) {
  if (auto fault = calls_.Enter("DeleteTree")) return Status(*fault);
  if (subKey == nullptr) return Status(err::InvalidParameter);
  std::lock_guard lock(mutex_);
  std::shared_ptr<Node> start;
  if (LStatus status = NodeLocked(parent, 0, start); status != 0) return status;
  std::shared_ptr<Node> node;
  bool created = false;
  if (LStatus status = WalkLocked(start, subKey, true, false, false, node, created); status != 0) {
    return status;
  }
  if (node->parent == nullptr) return Status(err::AccessDenied);
  EraseTreeLocked(*node);
  return Status(err::Success);
}

LStatus SimRegistry::EnumKeyEx(HKey key, std::uint32_t index, wchar_t* name,
                               std::uint32_t* nameChars, platform::FileTime* lastWriteTime) {
  if (auto fault = calls_.Enter("EnumKeyEx")) return Status(*fault);
  if (name == nullptr || nameChars == nullptr) return Status(err::InvalidParameter);
  std::lock_guard lock(mutex_);
  std::shared_ptr<Node> node;
  if (LStatus status = NodeLocked(key, sam::EnumerateSubKeys, node); status != 0) return status;
  if (index >= node->children.size()) return Status(err::NoMoreItems);
  const Node& child = *std::next(node->children.begin(), index)->second;
  if (*nameChars <= child.name.size()) return Status(err::MoreData);
  std::copy(child.name.begin(), child.name.end(), name);
  name[child.name.size()] = L'\0';
  *nameChars = static_cast<std::uint32_t>(child.name.size());
  if (lastWriteTime != nullptr) *lastWriteTime = child.lastWrite;
  return Status(err::Success);
}

LStatus SimRegistry::EnumValue(HKey key, std::uint32_t index, wchar_t* name,
                               std::uint32_t* nameChars) {
  if (auto fault = calls_.Enter("EnumValue")) return Status(*fault);
  if (name == nullptr || nameChars == nullptr) return Status(err::InvalidParameter);
  std::lock_guard lock(mutex_);
  std::shared_ptr<Node> node;
  if (LStatus status = NodeLocked(key, sam::QueryValue, node); status != 0) return status;
  if (index >= node->values.size()) return Status(err::NoMoreItems);
  const std::wstring& stored = std::next(node->values.begin(), index)->second.first;
  if (*nameChars <= stored.size()) return Status(err::MoreData);
  std::copy(stored.begin(), stored.end(), name);
  name[stored.size()] = L'\0';
  *nameChars = static_cast<std::uint32_t>(stored.size());
  return Status(err::Success);
}

LStatus SimRegistry::CloseKey(HKey key) {
  if (auto fault = calls_.Enter("CloseKey")) return Status(*fault);
  std::lock_guard lock(mutex_);
  if (RootLocked(key)) return Status(err::Success);
  return opens_.erase(key) == 1 ? Status(err::Success) : Status(err::InvalidHandle);
}

// ---------------------------------------------------------------------------------------------
// Set-up and inspection

std::shared_ptr<SimRegistry::Node> SimRegistry::RealLocked(HKey root, std::wstring_view path,
                                                           bool create) {
  auto node = RootLocked(root);
  if (!node) throw std::invalid_argument("sim registry: root must be HKCU or HKLM");
  for (const auto part : Split(path)) {
    auto it = node->children.find(ToUpperOrdinal(part));
    if (it != node->children.end()) {
      node = it->second;
    } else if (create) {
      node = AddChildLocked(*node, part);
    } else {
      return nullptr;
    }
  }
  return node;
}

std::shared_ptr<SimRegistry::Node> SimRegistry::FindRealLocked(HKey root,
                                                               std::wstring_view path) const {
  auto node = RootLocked(root);
  if (!node) throw std::invalid_argument("sim registry: root must be HKCU or HKLM");
  for (const auto part : Split(path)) {
    auto it = node->children.find(ToUpperOrdinal(part));
    if (it == node->children.end()) return nullptr;
    node = it->second;
  }
  return node;
}

void SimRegistry::PutKey(HKey root, std::wstring_view path) {
  std::lock_guard lock(mutex_);
  RealLocked(root, path, true);
}

void SimRegistry::PutValue(HKey root, std::wstring_view path, std::wstring_view name,
                           std::uint32_t type, std::vector<std::uint8_t> bytes) {
  std::lock_guard lock(mutex_);
  auto node = RealLocked(root, path, true);
  node->values[ToUpperOrdinal(name)] = std::pair{std::wstring(name), Value{type, std::move(bytes)}};
  node->lastWrite = clock_.Now();
}

void SimRegistry::PutString(HKey root, std::wstring_view path, std::wstring_view name,
                            std::wstring_view text) {
  PutValue(root, path, name, platform::regtype::Sz, platform::ToUtf16Bytes(text, true));
}

void SimRegistry::PutDword(HKey root, std::wstring_view path, std::wstring_view name,
                           std::uint32_t value) {
  PutValue(root, path, name, platform::regtype::Dword,
           {static_cast<std::uint8_t>(value & 0xFF), static_cast<std::uint8_t>((value >> 8) & 0xFF),
            static_cast<std::uint8_t>((value >> 16) & 0xFF),
            static_cast<std::uint8_t>((value >> 24) & 0xFF)});
}

std::optional<SimRegistry::Value> SimRegistry::GetValue(HKey root, std::wstring_view path,
                                                        std::wstring_view name) const {
  std::lock_guard lock(mutex_);
  auto node = FindRealLocked(root, path);
  if (!node) return std::nullopt;
  auto it = node->values.find(ToUpperOrdinal(name));
  if (it == node->values.end()) return std::nullopt;
  return it->second.second;
}

bool SimRegistry::KeyExists(HKey root, std::wstring_view path) const {
  std::lock_guard lock(mutex_);
  return FindRealLocked(root, path) != nullptr;
}

std::vector<std::wstring> SimRegistry::SubKeyNames(HKey root, std::wstring_view path) const {
  std::lock_guard lock(mutex_);
  std::vector<std::wstring> names;
  if (auto node = FindRealLocked(root, path)) {
    for (const auto& [upper, child] : node->children) names.push_back(child->name);
  }
  return names;
}

void SimRegistry::RemoveKey(HKey root, std::wstring_view path) {
  std::lock_guard lock(mutex_);
  auto node = FindRealLocked(root, path);
  if (!node || node->parent == nullptr) throw std::invalid_argument("sim registry: no such key");
  EraseTreeLocked(*node);
}

void SimRegistry::RemoveValue(HKey root, std::wstring_view path, std::wstring_view name) {
  std::lock_guard lock(mutex_);
  auto node = FindRealLocked(root, path);
  if (!node || node->values.erase(ToUpperOrdinal(name)) == 0) {
    throw std::invalid_argument("sim registry: no such value");
  }
}

void SimRegistry::DenyAccess(HKey root, std::wstring_view path) {
  std::lock_guard lock(mutex_);
  RealLocked(root, path, true)->denied = true;
}

void SimRegistry::SetLastWriteTime(HKey root, std::wstring_view path, platform::FileTime time) {
  std::lock_guard lock(mutex_);
  auto node = FindRealLocked(root, path);
  if (!node) throw std::invalid_argument("sim registry: no such key");
  node->lastWrite = time;
}

std::optional<platform::FileTime> SimRegistry::GetLastWriteTime(HKey root,
                                                                std::wstring_view path) const {
  std::lock_guard lock(mutex_);
  auto node = FindRealLocked(root, path);
  if (!node) return std::nullopt;
  return node->lastWrite;
}

std::size_t SimRegistry::OpenHandleCount() const {
  std::lock_guard lock(mutex_);
  return opens_.size();
}

}  // namespace kvd::sim
