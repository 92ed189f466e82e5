#include "logging/Format.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <limits>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#ifdef _WIN32
#include <cstdio>
#include <cwchar>
#endif

namespace kvd::fmt {
namespace {

constexpr bool kPointer64 = sizeof(void*) == 8;

enum class Level : std::int8_t { kLow = -3 };
enum Plain : unsigned char { kPlainHigh = 200 };

// Three characters and no NUL: only the array's size ends the text.
const wchar_t kNoNul[3] = {L'x', L'y', L'z'};
const wchar_t* const kNullWide = nullptr;
const char* const kNullNarrow = nullptr;

const void* Address(std::uintptr_t value) { return reinterpret_cast<const void*>(value); }

// ---- compile-time checking ------------------------------------------------------------------
//
// Format and FormatTo do not compile when CheckFormatFor<argument types...>(literal) is not
// kNone: the FormatString constructor runs exactly this check. What fails to compile:
//   - a count that does not match: Format(L"%d") and Format(L"%d", 1, 2); a `*` takes one too;
//   - an argument of the wrong category: Format(L"%d", 1.0), Format(L"%s", 1),
//     Format(L"%f", 1), Format(L"%p", std::wstring()), Format(L"%c", true), Format(L"%*d", 1.0, 2);
//   - `%n`, an unknown conversion (Format(L"%y", 1)) and a '%' that ends the literal.
static_assert(CheckFormatFor<>(L"plain %% text") == FormatError::kNone);
static_assert(CheckFormatFor<>(L"%d") == FormatError::kTooFewArguments);
static_assert(CheckFormatFor<int, int>(L"%d") == FormatError::kTooManyArguments);
static_assert(CheckFormatFor<int>(L"%*d") == FormatError::kTooFewArguments);
static_assert(CheckFormatFor<double>(L"%d") == FormatError::kArgumentType);
static_assert(CheckFormatFor<int>(L"%s") == FormatError::kArgumentType);
static_assert(CheckFormatFor<const wchar_t*>(L"%d") == FormatError::kArgumentType);
static_assert(CheckFormatFor<int>(L"%f") == FormatError::kArgumentType);
static_assert(CheckFormatFor<std::wstring>(L"%p") == FormatError::kArgumentType);
static_assert(CheckFormatFor<bool>(L"%c") == FormatError::kArgumentType);
static_assert(CheckFormatFor<Level>(L"%c") == FormatError::kArgumentType);
static_assert(CheckFormatFor<double, int>(L"%*d") == FormatError::kStarNeedsInteger);
static_assert(CheckFormatFor<bool, int>(L"%.*d") == FormatError::kStarNeedsInteger);
static_assert(CheckFormatFor<int*>(L"%n") == FormatError::kPercentN);
static_assert(CheckFormatFor<int>(L"%y") == FormatError::kUnknownConversion);
static_assert(CheckFormatFor<int>(L"%d %") == FormatError::kTrailingPercent);
static_assert(CheckFormatFor<int>(L"%d %-5") == FormatError::kTrailingPercent);
// ...and what does compile.
static_assert(CheckFormatFor<bool, Level, char, wchar_t, std::uint8_t>(L"%d %u %d %x %d") ==
              FormatError::kNone);
static_assert(CheckFormatFor<std::string, std::wstring_view, const char*, wchar_t[4], char[2]>(
                  L"%s %S %hs %ws %ls") == FormatError::kNone);
static_assert(CheckFormatFor<int, char, wchar_t>(L"%c %C %lc") == FormatError::kNone);
static_assert(CheckFormatFor<int, long long, double>(L"%*.*f") == FormatError::kNone);
static_assert(CheckFormatFor<const char*, int*, std::nullptr_t>(L"%p %p %p") == FormatError::kNone);
static_assert(CheckFormatFor<float, double>(L"%.2f %I64X") == FormatError::kArgumentType);
static_assert(!Formattable<std::vector<int>> && !Formattable<char16_t> && !Formattable<void (*)()>);

#if 0
// Does not compile: "call to non-'constexpr' function FormatArgumentDoesNotMatchConversion()".
const std::wstring kBroken = Format(L"[Err: 0x%08X] ", L"access denied");
#endif

// ---- the table: both paths on both platforms ------------------------------------------------

template <class... Ts>
std::wstring Runtime(std::wstring_view format, const Ts&... args) {
  if constexpr (sizeof...(Ts) == 0) {
    return VFormat(format, {});
  } else {
    const Arg list[] = {Arg(args)...};
    return VFormat(format, list);
  }
}

#ifdef _WIN32
// The arguments as a C caller passes them to msvcrt.
template <class T>
auto CrtArg(const T& value) {
  if constexpr (std::is_enum_v<T> || std::is_same_v<T, bool>) {
    return static_cast<int>(value);
  } else if constexpr (std::is_same_v<T, std::wstring> || std::is_same_v<T, std::string>) {
    return value.c_str();
  } else if constexpr (std::is_same_v<T, std::wstring_view> ||
                       std::is_same_v<T, std::string_view>) {
    return value.data();  // the table's views are whole literals
  } else if constexpr (std::is_array_v<T>) {
    return static_cast<const std::remove_extent_t<T>*>(value);
  } else {
    return value;
  }
}

template <class... Ts>
std::wstring Crt(const wchar_t* format, const Ts&... args) {
  wchar_t buffer[512];
  const int written = _snwprintf(buffer, std::size(buffer), format, CrtArg(args)...);
  return written < 0 ? std::wstring(L"<truncated>") : std::wstring(buffer, written);
}
#define KVD_CRT(...) [] { return Crt(__VA_ARGS__); }
#else
#define KVD_CRT(...) nullptr
#endif

struct Case {
  const char* name;
  std::wstring_view expected;
  std::wstring (*typed)();    // Format, checked at compile time
  std::wstring (*runtime)();  // VFormat with the same arguments
  std::wstring (*crt)();      // msvcrt's text (Windows), null where it legitimately differs
  const char* wineDiffers;    // why Wine's msvcrt is not compared (real msvcrt agrees)
};

// KVD_CASE: msvcrt prints the same text; KVD_OWN: our meaning differs from msvcrt.dll's on
// purpose (UCRT floating point, UTF-8, `hh`/`z`/`t`/`j`, the argument's own width and sign,
// arrays without a NUL).
#define KVD_CASE(name, expected, format, ...)                                 \
  Case {                                                                      \
    name, expected, [] { return Format(format __VA_OPT__(, ) __VA_ARGS__); }, \
        [] { return Runtime(format __VA_OPT__(, ) __VA_ARGS__); },            \
        KVD_CRT(format __VA_OPT__(, ) __VA_ARGS__), nullptr                   \
  }
// Wine's msvcrt.dll deviates from Microsoft's (and from C) in these; ours follows Microsoft's.
#define KVD_CASE_WINE_DIFFERS(reason, name, expected, format, ...)            \
  Case {                                                                      \
    name, expected, [] { return Format(format __VA_OPT__(, ) __VA_ARGS__); }, \
        [] { return Runtime(format __VA_OPT__(, ) __VA_ARGS__); },            \
        KVD_CRT(format __VA_OPT__(, ) __VA_ARGS__), reason                    \
  }
#define KVD_OWN(name, expected, format, ...)                                        \
  Case {                                                                            \
    name, expected, [] { return Format(format __VA_OPT__(, ) __VA_ARGS__); },       \
        [] { return Runtime(format __VA_OPT__(, ) __VA_ARGS__); }, nullptr, nullptr \
  }

const Case kCases[] = {
    // The program's own texts.
    KVD_CASE("os version", L"OS Version : 6.1.7601 ", L"OS Version : %s ", L"6.1.7601"),
    KVD_CASE("record number", L"[1234] ", L"[%ld] ", 1234),
    KVD_CASE("ld of 64 bits", L"[705032704] ", L"[%ld] ", std::int64_t{5000000000}),
    KVD_CASE("ld of negative 64 bits", L"[-705032704] ", L"[%ld] ", std::int64_t{-5000000000}),
    KVD_CASE("thread id", L"{tid: 0x001A} ", L"{tid: 0x%04X} ", 0x1Au),
    KVD_CASE("thread id wide", L"{tid: 0x12345} ", L"{tid: 0x%04X} ", 0x12345u),
    KVD_CASE("line number", L"-007: ", L"%04d: ", -7),
    KVD_CASE("I64X padded", L"000000ABC ", L"%9.9I64X ", std::uint64_t{0xABC}),
    KVD_CASE("I64X long", L"123456789AB ", L"%9.9I64X ", std::uint64_t{0x123456789AB}),
    KVD_CASE("ms", L"(   250 ms) ", L"(%6ld ms) ", 250),
    KVD_CASE("error unsigned", L"[Err: 0x80070005] ", L"[Err: 0x%08X] ", 0x80070005u),
    KVD_CASE("error signed", L"[Err: 0x80070005] ", L"[Err: 0x%08X] ", std::int32_t{-2147024891}),
    KVD_CASE("instance", L"(I3) ", L"(I%d) ", 3),
    KVD_CASE("duration", L" (Dur: 1500 ms) ", L" (Dur: %ld ms) ", 1500),
    KVD_CASE("language file", L"C:\\Kavid\\strings\\1033.xml", L"%s\\strings\\%4d.xml",
             std::wstring(L"C:\\Kavid"), 1033),
    KVD_CASE("language file short", L"C:\\Kavid\\strings\\   7.xml", L"%s\\strings\\%4d.xml",
             std::wstring(L"C:\\Kavid"), 7),
    KVD_CASE("02d", L"05", L"%02d", 5),
    KVD_CASE("02d wider", L"123", L"%02d", 123),
    KVD_OWN(".2f", L"3.14", L"%.2f", 3.14159),
    KVD_CASE("-10s", L"[abc       ]", L"[%-10s]", L"abc"),

    // Integer sizes: the conversion's size cuts, the argument's own sign extends.
    KVD_CASE("hd", L"4464", L"%hd", 70000),
    KVD_CASE("hu", L"65535", L"%hu", -1),
    KVD_OWN("hhd", L"-56", L"%hhd", 200),
    KVD_OWN("hhu", L"1", L"%hhu", 257),
    KVD_CASE("lld min", L"-9223372036854775808", L"%lld", std::numeric_limits<std::int64_t>::min()),
    KVD_CASE("I64u max", L"18446744073709551615", L"%I64u",
             std::numeric_limits<std::uint64_t>::max()),
    KVD_CASE("I64d", L"-42", L"%I64d", std::int64_t{-42}),
    KVD_CASE("I32d of 64 bits", L"5", L"%I32d", std::int64_t{0x100000005}),
    KVD_CASE("d of 64 bits", L"5", L"%d", std::int64_t{0x100000005}),
    KVD_OWN("llu of int", L"18446744073709551615", L"%llu", -1),
    KVD_OWN("lld of unsigned", L"4294967295", L"%lld", 4294967295u),
    KVD_CASE("u of negative", L"4294967295", L"%u", -1),
    KVD_CASE("x of negative", L"ffffffff", L"%x", -1),
    KVD_CASE("x of int8", L"ffffffff", L"%x", std::int8_t{-1}),
    KVD_CASE("d of uint8", L"255", L"%d", std::uint8_t{255}),
    KVD_CASE("llx", L"ffffffffffffffff", L"%llx", std::int64_t{-1}),
    KVD_CASE("Iu", kPointer64 ? L"18446744073709551615" : L"4294967295", L"%Iu", SIZE_MAX),
    KVD_CASE("Ix is pointer sized", kPointer64 ? L"100000001" : L"1", L"%Ix",
             std::uint64_t{0x100000001}),
    KVD_OWN("zu is pointer sized", kPointer64 ? L"4294967296" : L"0", L"%zu",
            std::uint64_t{0x100000000}),
    KVD_OWN("td", L"-1", L"%td", std::ptrdiff_t{-1}),
    KVD_OWN("jd", L"-9000000000", L"%jd", std::int64_t{-9000000000}),
    KVD_CASE("o", L"10", L"%o", 8),
    KVD_CASE("i", L"-12", L"%i", -12),
    KVD_CASE("bool", L"1 0", L"%d %u", true, false),
    KVD_CASE("enums", L"-3 200", L"%d %u", Level::kLow, kPlainHigh),
    KVD_CASE("characters as integers", L"65 66", L"%d %u", 'A', L'B'),

    // Flags, precision, `*`.
    KVD_CASE("plus", L"+5", L"%+d", 5),
    KVD_CASE("space", L" 5", L"% d", 5),
    KVD_CASE("plus wins over space", L"+5", L"%+ d", 5),
    KVD_CASE("space of negative", L"-5", L"% d", -5),
    KVD_CASE("plus on unsigned", L"5", L"%+u", 5u),
    KVD_CASE("left", L"[42   ]", L"[%-5d]", 42),
    KVD_CASE("left beats zero", L"[42   ]", L"[%-05d]", 42),
    KVD_CASE("zero after sign", L"[-0042]", L"[%05d]", -42),
    KVD_CASE("right", L"[  -42]", L"[%5d]", -42),
    KVD_CASE("left plus", L"[+5    ]", L"[%-+6d]", 5),
    KVD_CASE("alternate x", L"0xff", L"%#x", 255),
    KVD_CASE("alternate X", L"0XFF", L"%#X", 255),
    KVD_CASE("alternate x of zero", L"0", L"%#x", 0),
    KVD_CASE("alternate x zero padded", L"0x00ff", L"%#06x", 255),
    KVD_CASE("alternate o", L"010", L"%#o", 8),
    KVD_CASE("alternate o of zero", L"0", L"%#o", 0),
    KVD_CASE_WINE_DIFFERS("Wine prints no digit", "alternate o precision 0", L"0", L"%#.0o", 0),
    KVD_CASE("precision 0 of zero", L"[]", L"[%.0d]", 0),
    KVD_CASE("precision 0 of zero wide", L"[     ]", L"[%5.0d]", 0),
    KVD_CASE("precision", L"007", L"%.3d", 7),
    KVD_CASE_WINE_DIFFERS("Wine keeps the 0 flag", "precision turns zero off", L"[     007]",
                          L"[%08.3d]", 7),
    KVD_CASE("precision and sign", L"+007", L"%+.3d", 7),
    KVD_CASE("precision x", L"0x001", L"%#.3x", 1),
    KVD_CASE("star width", L"[   42]", L"[%*d]", 5, 42),
    KVD_CASE("negative star width", L"[42   ]", L"[%*d]", -5, 42),
    KVD_CASE("star precision", L"[007]", L"[%.*d]", 3, 7),
    KVD_CASE("negative star precision", L"[7]", L"[%.*d]", -1, 7),
    KVD_CASE("star both", L"[    ab]", L"[%*.*s]", 6, 2, L"abcdef"),
    KVD_CASE("star left text", L"[ab  ]", L"[%-*s]", 4, L"ab"),
    KVD_CASE("percent", L"100%", L"100%%"),
    KVD_CASE("percent d", L"%d", L"%%d"),

    // Characters.
    KVD_CASE("c", L"A", L"%c", L'A'),
    KVD_CASE("c of narrow", L"B", L"%c", 'B'),
    KVD_CASE("C", L"C", L"%C", 'C'),
    KVD_CASE("hc", L"D", L"%hc", 'D'),
    KVD_CASE("lc", L"E", L"%lc", L'E'),
    KVD_CASE("wc", L"F", L"%wc", L'F'),
    KVD_CASE("c of int", L"\x263A", L"%c", 0x263A),
    KVD_CASE("c of int keeps 16 bits", L"\xF600", L"%c", 0x1F600),
    KVD_CASE("C of int keeps 8 bits", L"A", L"%C", 0x141),
    KVD_CASE("c non-ASCII", L"\xE9", L"%c", L'\xE9'),
    KVD_CASE("c width", L"[  x]", L"[%3c]", L'x'),
    KVD_CASE("c left", L"[x  ]", L"[%-3c]", L'x'),
    KVD_CASE("c zero", L"[00x]", L"[%03c]", L'x'),
    KVD_OWN("C of a lone high byte", L"\xFFFD", L"%C", '\xE9'),
    KVD_OWN("C of a wide char", L"\x263A", L"%C", L'\x263A'),

    // Texts.
    KVD_CASE("null wide", L"(null)", L"%s", kNullWide),
    KVD_CASE("null narrow", L"(null)", L"%S", kNullNarrow),
    KVD_CASE("null cut", L"(nu", L"%.3s", kNullWide),
    KVD_CASE("null padded", L"[  (null)]", L"[%8s]", kNullWide),
    KVD_CASE("hs", L"narrow", L"%hs", "narrow"),
    KVD_CASE("S of std::string", L"std", L"%S", std::string("std")),
    KVD_CASE("ws", L"w", L"%ws", L"w"),
    KVD_CASE("ls", L"l", L"%ls", L"l"),
    KVD_CASE("s of wstring_view", L"view", L"%s", std::wstring_view(L"view")),
    KVD_OWN("s of narrow", L"narrow in s", L"%s", std::string("narrow in s")),
    KVD_OWN("S of wide", L"wide in S", L"%S", L"wide in S"),
    KVD_CASE("precision", L"ab", L"%.2s", L"abcdef"),
    KVD_CASE("width and precision", L"[   ab]", L"[%5.2s]", L"abcdef"),
    KVD_CASE("left text", L"[ab    ]", L"[%-6s]", L"ab"),
    KVD_CASE("zero padded text", L"[000ab]", L"[%05s]", L"ab"),
    KVD_CASE("star precision of a view", L"abc", L"%.*s", 3, std::wstring_view(L"abcdef")),
    KVD_CASE("array bound with precision", L"xyz", L"%.3s", kNoNul),
    KVD_OWN("array bound alone", L"[xyz]", L"[%s]", kNoNul),
    KVD_OWN("UTF-8", L"\xE9t\xE9", L"%hs", "\xC3\xA9t\xC3\xA9"),
    KVD_OWN("UTF-8 four bytes", L"\U0001F600", L"%S", "\xF0\x9F\x98\x80"),
    KVD_OWN("UTF-8 width in UTF-16 units", L"[  \xE9]", L"[%3S]", "\xC3\xA9"),
    KVD_OWN("pair width in UTF-16 units", L"[  \U0001F600]", L"[%4s]", L"\U0001F600"),
    KVD_OWN("pair not split", L"[]", L"[%.1s]", L"\U0001F600x"),
    KVD_OWN("pair kept", L"[\U0001F600]", L"[%.2s]", L"\U0001F600x"),
    KVD_OWN("pair and one", L"[\U0001F600x]", L"[%.3s]", L"\U0001F600x"),
    KVD_OWN("UTF-8 not split", L"[ab]", L"[%.4hs]", "ab\xE2\x82\xAC"),
    KVD_OWN("UTF-8 whole", L"[ab\x20AC]", L"[%.5hs]", "ab\xE2\x82\xAC"),
    KVD_OWN("UTF-8 bytes counted", L"[]", L"[%.1S]", "\xC3\xA9"),

    // Pointers.
    KVD_CASE("p", kPointer64 ? L"000000000000BEEF" : L"0000BEEF", L"%p", Address(0xBEEF)),
    KVD_CASE("p of null", kPointer64 ? L"0000000000000000" : L"00000000", L"%p", nullptr),
    KVD_CASE("p width", kPointer64 ? L"[000000000000BEEF]" : L"[  0000BEEF]", L"[%10p]",
             Address(0xBEEF)),

    KVD_CASE("p zero flag is overridden", kPointer64 ? L"[000000000000BEEF]" : L"[  0000BEEF]",
             L"[%010p]", Address(0xBEEF)),
    KVD_CASE("p alternate", kPointer64 ? L"0X000000000000BEEF" : L"0X0000BEEF", L"%#p",
             Address(0xBEEF)),

    // Floating point, as the UCRT prints it (msvcrt.dll: 3-digit exponents, ties away from 0).
    KVD_OWN("f", L"1.500000", L"%f", 1.5),
    KVD_OWN("f of float", L"0.100000", L"%f", 0.1f),
    KVD_OWN("f exact binary", L"2.67", L"%.2f", 2.675),
    KVD_OWN("f tie to even", L"0.12", L"%.2f", 0.125),
    KVD_OWN("f 0 decimals even", L"2 4", L"%.0f %.0f", 2.5, 3.5),
    KVD_OWN("f alternate", L"3.", L"%#.0f", 3.0),
    KVD_OWN("f plus", L"+1.000000", L"%+f", 1.0),
    KVD_OWN("f space", L" 1.000000", L"% f", 1.0),
    KVD_OWN("f zero padded", L"[-00003.142]", L"[%010.3f]", -3.14159),
    KVD_OWN("f left", L"[2.2     ]", L"[%-8.1f]", 2.25),
    KVD_OWN("f exact digits", L"0.10000000000000000555", L"%.20f", 0.1),
    KVD_OWN("f large", L"100000000000000000000.000000", L"%f", 1e20),
    KVD_OWN("f negative star precision", L"1.500000", L"%.*f", -2, 1.5),
    KVD_OWN("e", L"1.234568e+04", L"%e", 12345.678),
    KVD_OWN("E", L"1.234568E+04", L"%E", 12345.678),
    KVD_OWN("e three-digit exponent", L"1.000000e-300", L"%e", 1e-300),
    KVD_OWN("e of zero", L"0.000000e+00", L"%e", 0.0),
    KVD_OWN("e 0 decimals", L"1e+04", L"%.0e", 12345.0),
    KVD_OWN("e alternate", L"5.e+00", L"%#.0e", 5.0),
    KVD_OWN("g small", L"0.0001", L"%g", 0.0001),
    KVD_OWN("g smaller", L"1e-05", L"%g", 0.00001),
    KVD_OWN("g large", L"1.23457e+08", L"%g", 123456789.0),
    KVD_OWN("g integral", L"100000", L"%g", 100000.0),
    KVD_OWN("g million", L"1e+06", L"%g", 1e6),
    KVD_OWN("g rounds up a decade", L"10", L"%g", 9.9999995),
    KVD_OWN("g alternate", L"1.00000", L"%#g", 1.0),
    KVD_OWN("g alternate zero", L"0.00000", L"%#g", 0.0),
    KVD_OWN("g alternate precision", L"1.00", L"%#.3g", 1.0),
    KVD_OWN("g alternate rounding into e", L"1.00e+03", L"%#.3g", 999.5727),
    KVD_OWN("G", L"1E-10", L"%G", 1e-10),
    KVD_OWN("g negative zero", L"-0", L"%g", -0.0),
    KVD_OWN("g 0 precision", L"0.5", L"%.0g", 0.5),
    KVD_OWN("g shortest", L"0.1", L"%.15g", 0.1),
    KVD_OWN("g all digits", L"0.10000000000000001", L"%.17g", 0.1),
    KVD_OWN("a", L"0x1.0000000000000p+0", L"%a", 1.0),
    KVD_OWN("a precision", L"0x1.000p+0", L"%.3a", 1.0),
    KVD_OWN("a rounds", L"0x1.99ap-4", L"%.3a", 0.1),
    KVD_OWN("A", L"0X1.FF00000000000P+7", L"%A", 255.5),
    KVD_OWN("a no digits", L"0x1p+0", L"%.0a", 1.0),
    KVD_OWN("a alternate", L"0x1.p+0", L"%#.0a", 1.0),
    KVD_OWN("a of zero", L"0x0.0000000000000p+0", L"%a", 0.0),
    KVD_OWN("a subnormal", L"0x0.0000000000001p-1022", L"%a", 4.9406564584124654e-324),
    KVD_OWN("a beyond 13 digits", L"-0x1.000000000000000p+1", L"%.15a", -2.0),
    KVD_OWN("a zero padded", L"0x000001.0000000000000p+0", L"%025a", 1.0),
    KVD_OWN("inf", L"inf", L"%f", std::numeric_limits<double>::infinity()),
    KVD_OWN("INF", L"INF", L"%F", std::numeric_limits<double>::infinity()),
    KVD_OWN("negative inf", L"-inf", L"%e", -std::numeric_limits<double>::infinity()),
    KVD_OWN("plus inf", L"+inf", L"%+g", std::numeric_limits<double>::infinity()),
    KVD_OWN("inf not zero padded", L"[  inf]", L"[%05f]", std::numeric_limits<double>::infinity()),
    KVD_OWN("inf left", L"[inf  ]", L"[%-5a]", std::numeric_limits<double>::infinity()),
    KVD_OWN("nan", L"[  nan]", L"[%5f]", std::numeric_limits<double>::quiet_NaN()),
    KVD_OWN("NAN", L"NAN", L"%E", std::numeric_limits<double>::quiet_NaN()),
};

TEST(FormatTest, TableOnTypedAndRuntimePaths) {
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(c.typed(), c.expected);
    EXPECT_EQ(c.runtime(), c.expected);
  }
}

#ifdef _WIN32
// msvcrt's own printing of the same formats and arguments, where its meaning is ours.
TEST(FormatTest, TableMatchesMsvcrt) {
  int compared = 0;
  for (const Case& c : kCases) {
    if (c.crt == nullptr) continue;
    if (c.wineDiffers != nullptr) {
      std::printf("[ SKIPPED  ] msvcrt comparison of \"%s\": %s\n", c.name, c.wineDiffers);
      continue;
    }
    SCOPED_TRACE(c.name);
    EXPECT_EQ(c.typed(), c.crt());
    ++compared;
  }
  EXPECT_GE(compared, 80);
}
#endif

TEST(FormatTest, FormatToAppendsInPlace) {
  std::wstring out = L"[1] ";
  FormatTo(out, L"{tid: 0x%04X} ", 0x1Au);
  FormatTo(out, L"%s", L"started");
  const Arg args[] = {Arg(250)};
  VFormatTo(out, L" (%ld ms)", args);
  EXPECT_EQ(out, L"[1] {tid: 0x001A} started (250 ms)");
}

TEST(FormatTest, PointerConversionOfTextPrintsItsAddress) {
  const wchar_t* wide = L"text";
  const char* narrow = "text";
  EXPECT_EQ(Format(L"%p", wide), Format(L"%p", static_cast<const void*>(wide)));
  EXPECT_EQ(Format(L"%p", narrow), Format(L"%p", static_cast<const void*>(narrow)));
  EXPECT_NE(Format(L"%p", wide), Format(L"%p", nullptr));
}

// ---- runtime formats: texts that were never checked -----------------------------------------

struct RuntimeCase {
  const char* name;
  const wchar_t* format;
  std::vector<Arg> args;
  const wchar_t* expected;
};

const RuntimeCase kRuntimeCases[] = {
    {"missing argument", L"%d and %s", {1}, L"1 and "},
    {"missing argument prints no padding", L"[%5d]", {}, L"[]"},
    {"integer given text", L"[%d]", {L"text"}, L"[]"},
    {"text given integer", L"[%s]", {42}, L"[]"},
    {"floating given integer", L"[%f]", {1}, L"[]"},
    {"character given bool", L"[%c]", {true}, L"[]"},
    {"pointer given view", L"[%p]", {std::wstring_view(L"v")}, L"[]"},
    {"mismatch consumes its argument", L"%s|%d", {5, L"x"}, L"|"},
    {"extra arguments", L"%d", {1, 2, L"x"}, L"1"},
    {"lone percent at the end", L"50%", {}, L"50"},
    {"unfinished conversion at the end", L"50%-0", {1}, L"50"},
    {"unfinished length at the end", L"%I", {1}, L""},
    {"n prints nothing", L"a%nb", {}, L"ab"},
    {"n consumes nothing", L"%n%d", {7}, L"7"},
    {"n with star consumes nothing", L"%*n%d", {7}, L"7"},
    {"unknown prints its letter", L"%y", {}, L"y"},
    {"unknown consumes nothing", L"%-5y|%d", {3}, L"y|3"},
    {"percent with width", L"%5%", {}, L"%"},
    {"star given text", L"[%*d]", {L"w", 5}, L"[5]"},
    {"star missing", L"[%*d]", {}, L"[]"},
    {"negative star precision on text", L"%.*s", {-1, L"abc"}, L"abc"},
    {"empty format", L"", {1}, L""},
    {"no conversions", L"plain", {}, L"plain"},
};

TEST(FormatTest, RuntimeFormatsNeverMisbehave) {
  for (const RuntimeCase& c : kRuntimeCases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(VFormat(c.format, c.args), c.expected);
  }
}

// A broken translated text must not turn one log record into megabytes.
TEST(FormatTest, PaddingAndZerosAreLimited) {
  const Arg one[] = {Arg(1)};
  EXPECT_EQ(VFormat(L"%999999999d", one).size(), static_cast<std::size_t>(kMaxFill));
  EXPECT_EQ(VFormat(L"%.999999999d", one).size(), static_cast<std::size_t>(kMaxFill));
  const Arg widest[] = {Arg(INT_MIN), Arg(1)};
  const std::wstring left = VFormat(L"%*d", widest);
  EXPECT_EQ(left.size(), static_cast<std::size_t>(kMaxFill));
  EXPECT_EQ(left.substr(0, 2), L"1 ");
  const Arg real[] = {Arg(1.0)};
  EXPECT_EQ(VFormat(L"%.999999999f", real).size(), static_cast<std::size_t>(2 + kMaxFill));
}

// Digits beyond what the conversion computes exactly are zeros; the cut-over must not show.
TEST(FormatTest, LongPrecisionKeepsExactDigits) {
  const double smallest = 4.9406564584124654e-324;  // 2^-1074: 1074 decimals, the last a 5
  const std::wstring fixed = Format(L"%.1100f", smallest);
  ASSERT_EQ(fixed.size(), 2u + 1100u);
  EXPECT_EQ(fixed.substr(0, 2), L"0.");
  EXPECT_EQ(fixed.substr(2 + 323, 5), L"49406");
  EXPECT_EQ(fixed[2 + 1073], L'5');
  EXPECT_EQ(fixed.substr(2 + 1074), std::wstring(26, L'0'));

  const std::wstring scientific = Format(L"%.800e", 1.0 / 3);
  ASSERT_EQ(scientific.size(), 2u + 800u + 4u);
  EXPECT_EQ(scientific.substr(0, 7), L"3.33333");
  EXPECT_EQ(scientific.substr(scientific.size() - 4), L"e-01");
  EXPECT_EQ(scientific.substr(2 + 790, 10), std::wstring(10, L'0'));
}

}  // namespace
}  // namespace kvd::fmt
