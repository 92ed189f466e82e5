#include "platform/api/Text.h"

namespace kvd::platform {

namespace {
// Outside the 16-bit range: only possible where wchar_t is 32 bits (a template, so that the
// comparison is not even compiled where it could never be true).
template <class Char>
constexpr bool IsAstral(Char c) {
  if constexpr (sizeof(Char) == 4) {
    return static_cast<std::uint32_t>(c) > 0xFFFF;
  } else {
    return false;
  }
}
}  // namespace

std::wstring FromUtf16Bytes(const std::uint8_t* data, std::size_t bytes) {
  std::wstring out;
  if (data == nullptr) return out;
  const std::size_t units = bytes / 2;
  out.reserve(units);
  for (std::size_t i = 0; i < units; ++i) {
    const auto unit = static_cast<char16_t>(data[2 * i] | (data[2 * i + 1] << 8));
    if (unit == 0) break;
    if constexpr (sizeof(wchar_t) == 4) {
      if (unit >= 0xD800 && unit < 0xDC00 && i + 1 < units) {
        const auto low = static_cast<char16_t>(data[2 * i + 2] | (data[2 * i + 3] << 8));
        if (low >= 0xDC00 && low < 0xE000) {
          out.push_back(static_cast<wchar_t>(0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00)));
          ++i;
          continue;
        }
      }
    }
    out.push_back(static_cast<wchar_t>(unit));
  }
  return out;
}

std::size_t Utf16Length(std::wstring_view text) {
  std::size_t n = 0;
  for (wchar_t c : text) n += IsAstral(c) ? 2 : 1;
  return n;
}

void AppendUtf16Bytes(std::wstring_view text, std::vector<std::uint8_t>& out) {
  // Sized once, then filled in place: this runs for every line the trace log writes.
  std::size_t at = out.size();
  out.resize(at + Utf16Length(text) * 2);
  auto put = [&out, &at](std::uint32_t unit) {
    out[at++] = static_cast<std::uint8_t>(unit & 0xFF);
    out[at++] = static_cast<std::uint8_t>((unit >> 8) & 0xFF);
  };
  for (wchar_t c : text) {
    const auto code = static_cast<std::uint32_t>(c);
    if (IsAstral(c)) {
      const std::uint32_t v = code - 0x10000;
      put(0xD800 + (v >> 10));
      put(0xDC00 + (v & 0x3FF));
    } else {
      put(code);
    }
  }
}

std::vector<std::uint8_t> ToUtf16Bytes(std::wstring_view text, bool withNul) {
  std::vector<std::uint8_t> out;
  out.reserve((text.size() + 1) * 2);
  AppendUtf16Bytes(text, out);
  if (withNul) {
    out.push_back(0);
    out.push_back(0);
  }
  return out;
}

std::wstring WidenUtf8(std::string_view text) {
  std::wstring out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size();) {
    const auto b = static_cast<unsigned char>(text[i]);
    std::uint32_t code = b;
    std::size_t extra = 0;
    if (b >= 0xF0) {
      code = b & 0x07;
      extra = 3;
    } else if (b >= 0xE0) {
      code = b & 0x0F;
      extra = 2;
    } else if (b >= 0xC0) {
      code = b & 0x1F;
      extra = 1;
    } else if (b >= 0x80) {
      code = 0xFFFD;
    }
    ++i;
    for (std::size_t k = 0; k < extra; ++k, ++i) {
      if (i >= text.size() || (static_cast<unsigned char>(text[i]) & 0xC0) != 0x80) {
        code = 0xFFFD;
        break;
      }
      code = (code << 6) | (static_cast<unsigned char>(text[i]) & 0x3F);
    }
    if constexpr (sizeof(wchar_t) == 2) {
      if (code > 0xFFFF) {
        const std::uint32_t v = code - 0x10000;
        out.push_back(static_cast<wchar_t>(0xD800 + (v >> 10)));
        out.push_back(static_cast<wchar_t>(0xDC00 + (v & 0x3FF)));
        continue;
      }
    }
    out.push_back(static_cast<wchar_t>(code));
  }
  return out;
}

std::string NarrowUtf8(std::wstring_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    auto code = static_cast<std::uint32_t>(text[i]);
    if (sizeof(wchar_t) == 2 && code >= 0xD800 && code < 0xDC00 && i + 1 < text.size()) {
      const auto low = static_cast<std::uint32_t>(text[i + 1]);
      if (low >= 0xDC00 && low < 0xE000) {
        code = 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
        ++i;
      }
    }
    if (code < 0x80) {
      out.push_back(static_cast<char>(code));
    } else if (code < 0x800) {
      out.push_back(static_cast<char>(0xC0 | (code >> 6)));
      out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
    } else if (code < 0x10000) {
      out.push_back(static_cast<char>(0xE0 | (code >> 12)));
      out.push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
    } else {
      out.push_back(static_cast<char>(0xF0 | (code >> 18)));
      out.push_back(static_cast<char>(0x80 | ((code >> 12) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
    }
  }
  return out;
}

wchar_t ToLowerOrdinal(wchar_t c) {
  if (c >= L'A' && c <= L'Z') return static_cast<wchar_t>(c + 32);
  // Latin-1 capitals, except the multiplication sign.
  if (c >= 0xC0 && c <= 0xDE && c != 0xD7) return static_cast<wchar_t>(c + 32);
  return c;
}

std::wstring ToLowerOrdinal(std::wstring_view text) {
  std::wstring out(text);
  for (auto& c : out) c = ToLowerOrdinal(c);
  return out;
}

bool EqualsNoCase(std::wstring_view a, std::wstring_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (ToLowerOrdinal(a[i]) != ToLowerOrdinal(b[i])) return false;
  }
  return true;
}

namespace {
bool IsSeparator(wchar_t c) { return c == L'\\' || c == L'/'; }
}  // namespace

std::wstring_view PathFindFileName(std::wstring_view path) {
  std::size_t start = 0;
  for (std::size_t i = 0; i < path.size(); ++i) {
    // A trailing separator does not start an (empty) file name, as in the shell's function.
    if ((IsSeparator(path[i]) || path[i] == L':') && i + 1 < path.size() &&
        !IsSeparator(path[i + 1])) {
      start = i + 1;
    }
  }
  return path.substr(start);
}

std::wstring_view PathFindExtension(std::wstring_view path) {
  const std::wstring_view name = PathFindFileName(path);
  const std::size_t dot = name.rfind(L'.');
  if (dot == std::wstring_view::npos || name.find(L' ', dot) != std::wstring_view::npos) {
    return path.substr(path.size());
  }
  return name.substr(dot);
}

bool PathIsFileSpec(std::wstring_view path) {
  return path.find_first_of(L"\\:") == std::wstring_view::npos;
}

std::wstring PathRemoveFileSpec(std::wstring_view path) {
  const std::size_t last = path.find_last_of(L"\\/");
  if (last == std::wstring_view::npos) {
    // "C:name" keeps "C:"; a bare name has no folder.
    const std::size_t colon = path.find(L':');
    return colon == std::wstring_view::npos ? std::wstring()
                                            : std::wstring(path.substr(0, colon + 1));
  }
  // Keep the root separator of "C:\\name" and "\\name".
  if (last == 0 || (last == 2 && path[1] == L':')) return std::wstring(path.substr(0, last + 1));
  return std::wstring(path.substr(0, last));
}

std::wstring DecodeTextFile(const std::vector<std::uint8_t>& bytes) {
  if (bytes.size() >= 2 && bytes[0] == 0xFF && bytes[1] == 0xFE) {
    std::wstring text;
    text.reserve(bytes.size() / 2);
    for (std::size_t i = 2; i + 1 < bytes.size(); i += 2) {
      text.push_back(static_cast<wchar_t>(bytes[i] | (bytes[i + 1] << 8)));
    }
    return text;
  }
  return std::wstring(bytes.begin(), bytes.end());
}

bool MatchesFileMask(std::wstring_view name, std::wstring_view mask) {
  if (mask == L"*.*" || mask == L"*") return true;
  // Greedy match with one back-track point: the last '*' seen takes one more character each
  // time the rest fails.
  std::size_t n = 0;
  std::size_t m = 0;
  std::size_t starMask = std::wstring_view::npos;
  std::size_t starName = 0;
  while (n < name.size()) {
    if (m < mask.size() &&
        (mask[m] == L'?' || ToLowerOrdinal(mask[m]) == ToLowerOrdinal(name[n]))) {
      ++n;
      ++m;
    } else if (m < mask.size() && mask[m] == L'*') {
      starMask = m++;
      starName = n;
    } else if (starMask != std::wstring_view::npos) {
      m = starMask + 1;
      n = ++starName;
    } else {
      return false;
    }
  }
  while (m < mask.size() && mask[m] == L'*') ++m;
  return m == mask.size();
}

std::wstring WithoutTrailingBackslashes(std::wstring_view text) {
  while (!text.empty() && text.back() == L'\\') text.remove_suffix(1);
  return std::wstring(text);
}

std::wstring TrimBackslashes(std::wstring_view text) {
  while (!text.empty() && text.front() == L'\\') text.remove_prefix(1);
  return WithoutTrailingBackslashes(text);
}

std::wstring Trim(std::wstring_view text) {
  const auto blank = [](wchar_t c) { return c == L' ' || c == L'\t' || c == L'\r' || c == L'\n'; };
  std::size_t begin = 0;
  std::size_t end = text.size();
  while (begin < end && blank(text[begin])) ++begin;
  while (end > begin && blank(text[end - 1])) --end;
  return std::wstring(text.substr(begin, end - begin));
}

std::wstring StoredDisplayText(std::wstring_view stored) {
  const std::size_t semicolon = stored.rfind(L';');
  if (stored.empty() || stored.front() != L'@' || semicolon == std::wstring_view::npos) {
    return std::wstring(stored);
  }
  return std::wstring(stored.substr(semicolon + 1));
}

}  // namespace kvd::platform
