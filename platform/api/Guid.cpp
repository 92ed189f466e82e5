#include <cwchar>

#include "platform/api/IDevices.h"

namespace kvd::platform {

namespace {

int HexDigit(wchar_t c) {
  if (c >= L'0' && c <= L'9') return c - L'0';
  if (c >= L'a' && c <= L'f') return c - L'a' + 10;
  if (c >= L'A' && c <= L'F') return c - L'A' + 10;
  return -1;
}

// Reads `digits` hex digits at text[at].
bool ReadHex(std::wstring_view text, std::size_t at, int digits, std::uint32_t* out) {
  std::uint32_t value = 0;
  for (int i = 0; i < digits; ++i) {
    const int digit = HexDigit(text[at + static_cast<std::size_t>(i)]);
    if (digit < 0) return false;
    value = value * 16 + static_cast<std::uint32_t>(digit);
  }
  *out = value;
  return true;
}

}  // namespace

std::wstring GuidToText(const Guid& guid) {
  wchar_t text[39];
  std::swprintf(text, std::size(text), L"{%08x-%04x-%04x-%02x%02x-%02x%02x%02x%02x%02x%02x}",
                static_cast<unsigned>(guid.data1), static_cast<unsigned>(guid.data2),
                static_cast<unsigned>(guid.data3), guid.data4[0], guid.data4[1], guid.data4[2],
                guid.data4[3], guid.data4[4], guid.data4[5], guid.data4[6], guid.data4[7]);
  return text;
}

std::optional<Guid> GuidFromText(std::wstring_view text) {
  if (text.size() == 38 && text.front() == L'{' && text.back() == L'}') {
    text = text.substr(1, 36);
  }
  if (text.size() != 36 || text[8] != L'-' || text[13] != L'-' || text[18] != L'-' ||
      text[23] != L'-') {
    return std::nullopt;
  }
  Guid guid;
  std::uint32_t part = 0;
  if (!ReadHex(text, 0, 8, &guid.data1)) return std::nullopt;
  if (!ReadHex(text, 9, 4, &part)) return std::nullopt;
  guid.data2 = static_cast<std::uint16_t>(part);
  if (!ReadHex(text, 14, 4, &part)) return std::nullopt;
  guid.data3 = static_cast<std::uint16_t>(part);
  constexpr std::size_t kBytesAt[8] = {19, 21, 24, 26, 28, 30, 32, 34};
  for (std::size_t i = 0; i < 8; ++i) {
    if (!ReadHex(text, kBytesAt[i], 2, &part)) return std::nullopt;
    guid.data4[i] = static_cast<std::uint8_t>(part);
  }
  return guid;
}

}  // namespace kvd::platform
