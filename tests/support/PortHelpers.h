#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/api/Handles.h"
#include "platform/api/Text.h"

namespace kvd::test {

// Test set-up and read-back through the ports, so that the same code works on the simulated
// machine and on the real registry and files under Wine.

inline bool PutValue(platform::IRegistry& registry, platform::HKey root, const std::wstring& path,
                     const wchar_t* name, std::uint32_t type,
                     const std::vector<std::uint8_t>& bytes) {
  auto key = platform::MakeUniqueHkey(registry);
  if (registry.CreateKeyEx(root, path.c_str(), platform::sam::AllAccess, key.put(), nullptr) != 0) {
    return false;
  }
  // Windows counts a NUL that happens to follow unterminated text in the caller's memory: keep a
  // character there so the value holds exactly the bytes given.
  std::vector<std::uint8_t> padded(bytes);
  padded.push_back('X');
  padded.push_back(0);
  return registry.SetValueEx(key.get(), name, type, padded.data(),
                             static_cast<std::uint32_t>(bytes.size())) == 0;
}

inline bool PutDword(platform::IRegistry& registry, platform::HKey root, const std::wstring& path,
                     const wchar_t* name, std::uint32_t value) {
  return PutValue(registry, root, path, name, platform::regtype::Dword,
                  {static_cast<std::uint8_t>(value), static_cast<std::uint8_t>(value >> 8),
                   static_cast<std::uint8_t>(value >> 16), static_cast<std::uint8_t>(value >> 24)});
}

inline bool PutString(platform::IRegistry& registry, platform::HKey root, const std::wstring& path,
                      const wchar_t* name, const std::wstring& text, bool withNul = true) {
  return PutValue(registry, root, path, name, platform::regtype::Sz,
                  platform::ToUtf16Bytes(text, withNul));
}

inline bool DeleteValue(platform::IRegistry& registry, platform::HKey root,
                        const std::wstring& path, const wchar_t* name) {
  auto key = platform::MakeUniqueHkey(registry);
  if (registry.OpenKeyEx(root, path.c_str(), platform::sam::AllAccess, key.put()) != 0)
    return false;
  return registry.DeleteValue(key.get(), name) == 0;
}

// Deletes a key with all its sub-keys.
inline void DeleteTree(platform::IRegistry& registry, platform::HKey root,
                       const std::wstring& path) {
  {
    auto key = platform::MakeUniqueHkey(registry);
    if (registry.OpenKeyEx(root, path.c_str(), platform::sam::AllAccess, key.put()) != 0) return;
    std::vector<std::wstring> children;
    for (std::uint32_t index = 0;; ++index) {
      wchar_t name[256] = {};
      std::uint32_t chars = 256;
      if (registry.EnumKeyEx(key.get(), index, name, &chars, nullptr) != 0) break;
      children.emplace_back(name, chars);
    }
    for (const auto& child : children) DeleteTree(registry, root, path + L"\\" + child);
  }
  registry.DeleteKeyEx(root, path.c_str(), 0);
}

using platform::ReadWholeFile;

// A UTF-16LE text file as text (every character, NULs included, no decoding stop).
inline std::wstring DecodeUtf16(const std::vector<std::uint8_t>& bytes) {
  std::wstring text;
  for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
    text.push_back(static_cast<wchar_t>(bytes[i] | (bytes[i + 1] << 8)));
  }
  return text;
}

// Splits on "\r\n"; a last piece without a line break is kept.
inline std::vector<std::wstring> SplitLines(const std::wstring& text) {
  std::vector<std::wstring> lines;
  std::size_t start = 0;
  for (;;) {
    const std::size_t end = text.find(L"\r\n", start);
    if (end == std::wstring::npos) {
      if (start < text.size()) lines.push_back(text.substr(start));
      return lines;
    }
    lines.push_back(text.substr(start, end - start));
    start = end + 2;
  }
}

}  // namespace kvd::test
