#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace kvd::platform {

// Text as Windows stores it: UTF-16LE bytes. std::wstring is UTF-16 on Windows and UTF-32 on
// Linux; these two conversions are the only place that difference is handled.

// Decodes `bytes` bytes of UTF-16LE (an odd trailing byte is ignored; surrogate pairs are joined
// where wchar_t is 32 bits). The text stops at the first NUL character.
std::wstring FromUtf16Bytes(const std::uint8_t* data, std::size_t bytes);

// Encodes text as UTF-16LE, with a terminating NUL when `withNul`.
std::vector<std::uint8_t> ToUtf16Bytes(std::wstring_view text, bool withNul);

// Appends the UTF-16LE encoding of text (no NUL) to out.
void AppendUtf16Bytes(std::wstring_view text, std::vector<std::uint8_t>& out);

// Number of UTF-16 code units the text takes.
std::size_t Utf16Length(std::wstring_view text);

// A text file as the profile functions and the program's line readers take it: UTF-16LE when it
// starts with that byte-order mark (which is dropped), else one character a byte (Latin-1).
std::wstring DecodeTextFile(const std::vector<std::uint8_t>& bytes);

// Conversions between UTF-8 and wide text (for narrow compiler and C run-time names).
std::wstring WidenUtf8(std::string_view text);
std::string NarrowUtf8(std::wstring_view text);

// Ordinal lower-casing and comparison: ASCII and Latin-1 letters only, never the locale.
wchar_t ToLowerOrdinal(wchar_t c);
std::wstring ToLowerOrdinal(std::wstring_view text);
bool EqualsNoCase(std::wstring_view a, std::wstring_view b);

// The text without the backslashes at its end ("C:\\Suite\\" -> "C:\\Suite").
std::wstring WithoutTrailingBackslashes(std::wstring_view text);
// The text without the backslashes at either end ("\\Suite\\Key\\" -> "Suite\\Key").
std::wstring TrimBackslashes(std::wstring_view text);

// Blanks (space, tab, CR, LF) removed from both ends.
std::wstring Trim(std::wstring_view text);

// The display text of a value that Windows 7 and later store as "@oem12.inf,%key%;Text": the
// part after the last ';'. A value not in that form (no leading '@' or no ';') stays as it is.
std::wstring StoredDisplayText(std::wstring_view stored);

// Path texts, as the shell's path functions treat them ('\\' separates; ':' marks a drive).
// PathFindFileNameW: the part after the last '\\', '/' or ':'.
std::wstring_view PathFindFileName(std::wstring_view path);
// PathFindExtensionW: from the last '.' of the file name, or empty.
std::wstring_view PathFindExtension(std::wstring_view path);
// PathIsFileSpecW: true when the path has no '\\' and no ':'.
bool PathIsFileSpec(std::wstring_view path);
// PathRemoveFileSpecW: the folder part (without the trailing separator; "C:\\" stays whole).
std::wstring PathRemoveFileSpec(std::wstring_view path);

// Whether a file name fits a file mask of FindFirstFileW: '*' is any run of characters, '?' one
// character, everything else compared without case; "*.*" fits every name, with or without a dot.
bool MatchesFileMask(std::wstring_view name, std::wstring_view mask);

// Calls `call(buffer, chars)` with growing buffers until the answer fits. `call` returns the
// characters written without the NUL on success, a value >= chars when the buffer was too
// small (the size needed or the size given, as the wrapped API answers), or 0 on failure.
// Answers false on failure.
template <class Call>
bool GrowAndRetry(std::wstring& out, Call&& call, std::uint32_t firstChars = 260) {
  std::vector<wchar_t> buffer(firstChars);
  for (int round = 0; round < 16; ++round) {
    const auto chars = static_cast<std::uint32_t>(buffer.size());
    const std::uint32_t answer = call(buffer.data(), chars);
    if (answer == 0) return false;
    if (answer < chars) {
      out.assign(buffer.data(), answer);
      return true;
    }
    buffer.assign(static_cast<std::size_t>(answer > chars ? answer + 1 : chars * 2), L'\0');
  }
  return false;
}

}  // namespace kvd::platform
