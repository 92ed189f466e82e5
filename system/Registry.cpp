#include "system/Registry.h"

#include <algorithm>
#include <array>

#include "logging/Trace.h"
#include "platform/api/Handles.h"
#include "platform/api/Text.h"

KVD_TRACE_SOURCE();

namespace kvd::reg {

namespace {

using namespace kvd::platform;

constexpr LStatus kOk = 0;
constexpr auto kNotFound = static_cast<LStatus>(err::FileNotFound);
constexpr auto kMoreData = static_cast<LStatus>(err::MoreData);

// A value that grows between the size query and the read is asked for again, a few times.
constexpr int kReadRounds = 4;

std::wstring PathOf(std::wstring_view path, std::wstring_view name) {
  std::wstring out(path);
  out += L"\\";
  out += name;
  return out;
}

}  // namespace

std::optional<std::uint8_t> RegValue::FirstByte() const {
  if (!IsRead() || bytes.empty()) return std::nullopt;
  return bytes.front();
}

RegValue ReadValue(IRegistry& registry, HKey root, std::wstring_view path, std::wstring_view name,
                   std::uint32_t view) {
  KVD_SCOPE(L"Registry::ReadValue");
  RegValue value;
  if (path.empty() || (name.empty() && name.data() != kDefaultValue.data())) return value;
  const std::wstring keyPath(path);
  const std::wstring valueName(name);
  auto key = MakeUniqueHkey(registry);
  const LStatus opened = registry.OpenKeyEx(root, keyPath.c_str(), sam::Read | view, key.put());
  if (opened != kOk) {
    if (opened == kNotFound) return value;
    KVD_LOG_FAILED_CALL(L"RegOpenKeyExW", opened, keyPath);
    value.status = RegStatus::Unreadable;
    value.failedCall = L"RegOpenKeyExW";
    value.error = opened;
    return value;
  }
  std::uint32_t size = 0;
  LStatus queried =
      registry.QueryValueEx(key.get(), valueName.c_str(), &value.type, nullptr, &size);
  bool done = queried == kOk && size == 0;
  for (int round = 0; queried == kOk && !done && round < kReadRounds; ++round) {
    value.bytes.assign(size, 0);
    std::uint32_t got = size;
    queried =
        registry.QueryValueEx(key.get(), valueName.c_str(), &value.type, value.bytes.data(), &got);
    if (queried == kMoreData) {
      // It grew since its size was asked: `got` is what it needs now.
      size = got;
      queried = kOk;
    } else if (queried == kOk) {
      value.bytes.resize(std::min<std::size_t>(got, size));
      done = true;
    }
  }
  if (done) {
    value.status = RegStatus::Read;
    return value;
  }
  if (queried == kOk) queried = kMoreData;  // kept growing
  value.bytes.clear();
  if (queried == kNotFound) return value;
  KVD_LOG_FAILED_CALL(L"RegQueryValueExW", queried, PathOf(keyPath, valueName));
  value.status = RegStatus::Unreadable;
  value.failedCall = L"RegQueryValueExW";
  value.error = queried;
  return value;
}

RegText ReadText(IRegistry& registry, HKey root, std::wstring_view path, std::wstring_view name,
                 std::uint32_t view) {
  KVD_SCOPE(L"Registry::ReadText");
  const RegValue value = ReadValue(registry, root, path, name, view);
  RegText text;
  text.status = value.status;
  if (!value.IsRead()) return text;
  if (value.type != regtype::Sz && value.type != regtype::ExpandSz) {
    KVD_LOG(DUDiduzuz::kind::Debug, L"The value is of type %u, not a text. Path: %s", value.type,
            PathOf(path, name));
    text.status = RegStatus::Unreadable;
    return text;
  }
  text.text = FromUtf16Bytes(value.bytes.data(), value.bytes.size());
  return text;
}

std::vector<std::wstring> SubKeyNames(IRegistry& registry, HKey key) {
  std::vector<std::wstring> names;
  for (std::uint32_t index = 0;; ++index) {
    // Key names are at most 255 characters.
    std::array<wchar_t, 256> name{};
    auto chars = static_cast<std::uint32_t>(name.size());
    if (registry.EnumKeyEx(key, index, name.data(), &chars, nullptr) != kOk) break;
    names.emplace_back(name.data(), std::min<std::size_t>(chars, name.size()));
  }
  return names;
}

bool WriteText(IRegistry& registry, HKey key, const wchar_t* name, std::wstring_view text) {
  const std::vector<std::uint8_t> bytes = ToUtf16Bytes(text, true);
  return registry.SetValueEx(key, name, regtype::Sz, bytes.data(),
                             static_cast<std::uint32_t>(bytes.size())) == kOk;
}

}  // namespace kvd::reg
