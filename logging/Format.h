#pragma once
// logging/: the trace log, its support classes and the wide formatter they write with.

#include <climits>
#include <concepts>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <type_traits>

// printf-style wide formats with the meaning the Windows C run-time (msvcrt) gives them, printed
// identically by the native build (wchar_t is 32 bits) and the Windows build (16 bits).
//
// The program's texts were written for the Windows CRT, so its reading is kept:
//   - `%s %ls %ws` name a wide string and `%S %hs` a narrow one. The argument here knows its own
//     width, so either spelling accepts either kind of string and prints it correctly; narrow text
//     is UTF-8 and is widened. A null string pointer prints "(null)" (cut by a precision).
//   - `%c %lc` a wide character, `%C %hc` a narrow one; an integer given to them is taken as
//     that character's code (its low 16 or 8 bits).
//   - Integer sizes: `hh` 8 bits, `h` 16, none / `l` / `I32` 32 (Windows `long` is 32 bits, on
//     Linux too: `%ld` of a 64-bit value prints its low 32 bits), `ll` / `I64` / `j` 64, and
//     `I` / `z` / `t` the size of a pointer: 32 bits on Windows (i686), 64 natively. That size and
//     `%p` (2 * sizeof(void*) upper-case digits, no prefix) are the only texts that differ
//     between the platforms, as they do between the real programs.
//   - An argument narrower than its conversion is extended by its own signedness; a wider one is
//     cut to the conversion's size, then read with the conversion's signedness.
//   - Floating point is printed as the Universal CRT does: the exact decimal value, correctly
//     rounded (ties to even; msvcrt.dll rounds them away from zero: "%.2f" of 0.125 is 0.13
//     there), a two-digit minimum exponent ("1.5e+00"; msvcrt.dll prints three),
//     `%a` with 13 hexadecimal digits unless a precision is given, and "inf"/"nan" ("INF"/"NAN"
//     for upper-case conversions; msvcrt's "1.#INF" forms are not used).
//   - Width and precision count UTF-16 code units on both platforms, so that padded columns in the
//     UTF-16 log are the same; a precision never splits a surrogate pair or a UTF-8 sequence. The
//     precision of a narrow string counts its bytes, as the CRT does.
//   - `%n` is never supported.
//
// Compile-time formats (Format, FormatTo) are checked against their arguments: a wrong count, an
// argument of the wrong category, `%n` and unknown conversions do not compile. Runtime formats
// (VFormat, texts from language files) never misbehave: a missing argument or one of the wrong
// category prints nothing, extra arguments are ignored, `%n` prints and consumes nothing, an
// unknown conversion prints its letter as msvcrt does, a lone '%' at the end prints nothing.
// Width and numeric precision are limited to kMaxFill so that a broken text cannot make the
// formatter produce megabytes of padding.
//
// No locale, no heap allocation beyond the output string (except for widening a narrow string
// that is not plain ASCII).

namespace kvd::fmt {

// Padding and zero digits that one conversion may add at most.
inline constexpr int kMaxFill = 4096;

// What an argument is, as the conversions see it.
enum class ArgKind : std::uint8_t {
  kNone,           // not formattable; also a missing argument
  kInteger,        // integer types other than bool and the character types
  kBoolOrEnum,     // bool, enumerations (as their underlying integer)
  kWideChar,       // wchar_t
  kNarrowChar,     // char
  kFloat,          // float, double
  kPointer,        // object pointers, nullptr
  kWideCString,    // const wchar_t*, wchar_t arrays: up to the NUL (arrays: within their size)
  kNarrowCString,  // const char*, char arrays
  kWideView,       // std::wstring, std::wstring_view
  kNarrowView,     // std::string, std::string_view
};

template <class T>
constexpr ArgKind KindOf() {
  using U = std::remove_cv_t<T>;
  if constexpr (std::is_same_v<U, bool> || std::is_enum_v<U>) {
    return ArgKind::kBoolOrEnum;
  } else if constexpr (std::is_same_v<U, wchar_t>) {
    return ArgKind::kWideChar;
  } else if constexpr (std::is_same_v<U, char>) {
    return ArgKind::kNarrowChar;
  } else if constexpr (std::is_same_v<U, char8_t> || std::is_same_v<U, char16_t> ||
                       std::is_same_v<U, char32_t>) {
    return ArgKind::kNone;
  } else if constexpr (std::is_integral_v<U>) {
    return ArgKind::kInteger;
  } else if constexpr (std::is_same_v<U, float> || std::is_same_v<U, double>) {
    return ArgKind::kFloat;
  } else if constexpr (std::is_array_v<U> && std::rank_v<U> == 1) {
    using E = std::remove_const_t<std::remove_extent_t<U>>;
    if constexpr (std::is_same_v<E, wchar_t>) return ArgKind::kWideCString;
    if constexpr (std::is_same_v<E, char>) return ArgKind::kNarrowCString;
    return ArgKind::kNone;
  } else if constexpr (std::is_pointer_v<U>) {
    using P = std::remove_pointer_t<U>;
    if constexpr (std::is_same_v<std::remove_const_t<P>, wchar_t>) return ArgKind::kWideCString;
    if constexpr (std::is_same_v<std::remove_const_t<P>, char>) return ArgKind::kNarrowCString;
    if constexpr (std::is_object_v<P> || std::is_void_v<P>) return ArgKind::kPointer;
    return ArgKind::kNone;
  } else if constexpr (std::is_null_pointer_v<U>) {
    return ArgKind::kPointer;
  } else if constexpr (std::is_same_v<U, std::wstring> || std::is_same_v<U, std::wstring_view>) {
    return ArgKind::kWideView;
  } else if constexpr (std::is_same_v<U, std::string> || std::is_same_v<U, std::string_view>) {
    return ArgKind::kNarrowView;
  } else {
    return ArgKind::kNone;
  }
}

template <class T>
concept Formattable = KindOf<T>()
!= ArgKind::kNone;

// One type-erased argument. It refers to the text it was made from, like a string_view: use it
// within the expression (or the scope) of that text.
class Arg {
 public:
  constexpr Arg() noexcept : bits_(0) {}

  template <class T>
  requires Formattable<T> Arg(const T& value)
  noexcept : kind_(KindOf<T>()) {  // NOLINT: implicit by design
    using U = std::remove_cv_t<T>;
    if constexpr (std::is_enum_v<U>) {
      bits_ = Extend(static_cast<std::underlying_type_t<U>>(value));
    } else if constexpr (std::is_integral_v<U>) {
      bits_ = Extend(value);
    } else if constexpr (std::is_floating_point_v<U>) {
      real_ = static_cast<double>(value);
    } else if constexpr (std::is_array_v<U>) {
      text_ = {value, std::extent_v<U>};
    } else if constexpr (std::is_null_pointer_v<U>) {
      bits_ = 0;
    } else if constexpr (std::is_pointer_v<U>) {
      if constexpr (KindOf<T>() == ArgKind::kPointer) {
        bits_ = reinterpret_cast<std::uintptr_t>(value);
      } else {
        text_ = {value, SIZE_MAX};
      }
    } else {
      text_ = {value.data(), value.size()};
    }
  }

  ArgKind kind() const noexcept { return kind_; }
  // Integers, characters, pointers: the value, sign-extended to 64 bits when its type is signed.
  std::uint64_t bits() const noexcept { return bits_; }
  double real() const noexcept { return real_; }
  // Texts: the characters (wchar_t or char) and their count; for C strings the count is a bound
  // and the text also ends at the first NUL.
  const void* data() const noexcept { return text_.data; }
  std::size_t size() const noexcept { return text_.size; }

 private:
  struct Text {
    const void* data;
    std::size_t size;
  };

  template <class I>
  static constexpr std::uint64_t Extend(I value) {
    if constexpr (std::is_signed_v<I>) {
      return static_cast<std::uint64_t>(static_cast<std::int64_t>(value));
    } else {
      return static_cast<std::uint64_t>(value);
    }
  }

  union {
    std::uint64_t bits_;
    double real_;
    Text text_;
  };
  ArgKind kind_ = ArgKind::kNone;
};

// Why a format does not fit its arguments.
enum class FormatError : std::uint8_t {
  kNone,
  kTooFewArguments,
  kTooManyArguments,
  kArgumentType,      // the argument's kind is not one the conversion prints
  kStarNeedsInteger,  // a `*` width or precision takes an integer argument
  kUnknownConversion,
  kPercentN,
  kTrailingPercent,  // the format ends inside a conversion
};

namespace detail {

enum class Conversion : std::uint8_t {
  kEnd,  // the format ended before the conversion letter
  kPercent,
  kUnknown,
  kCount,  // %n
  kInteger,
  kChar,
  kText,
  kFloat,
  kPointer,
  kStar,  // not a letter: what a `*` width or precision accepts
};

enum Flag : std::uint8_t {
  kLeft = 1,
  kPlus = 2,
  kSpace = 4,
  kAlternate = 8,
  kZero = 16,
};

inline constexpr int kNoPrecision = -1;
inline constexpr std::uint8_t kPointerBits = sizeof(void*) * CHAR_BIT;

// One parsed conversion: %[flags][width][.precision][length]letter.
struct Directive {
  std::size_t end = 0;  // index after the letter (or the format's size)
  Conversion conversion = Conversion::kEnd;
  wchar_t letter = 0;
  std::uint8_t flags = 0;
  bool widthStar = false;
  bool precisionStar = false;
  int width = 0;
  int precision = kNoPrecision;
  std::uint8_t intBits = 32;  // integer conversions
  bool narrowChar = false;    // %C, %hc
};

constexpr std::uint8_t FlagOf(wchar_t c) {
  switch (c) {
    case L'-':
      return kLeft;
    case L'+':
      return kPlus;
    case L' ':
      return kSpace;
    case L'#':
      return kAlternate;
    case L'0':
      return kZero;
    default:
      return 0;
  }
}

// Reads decimal digits, saturating (the formatter limits the value further where it matters).
constexpr int ParseNumber(std::wstring_view f, std::size_t& i) {
  int value = 0;
  for (; i < f.size() && f[i] >= L'0' && f[i] <= L'9'; ++i) {
    const int digit = static_cast<int>(f[i] - L'0');
    value = value > (INT_MAX - digit) / 10 ? INT_MAX : value * 10 + digit;
  }
  return value;
}

constexpr Conversion ConversionOf(wchar_t letter) {
  switch (letter) {
    case L'd':
    case L'i':
    case L'u':
    case L'o':
    case L'x':
    case L'X':
      return Conversion::kInteger;
    case L'c':
    case L'C':
      return Conversion::kChar;
    case L's':
    case L'S':
      return Conversion::kText;
    case L'e':
    case L'E':
    case L'f':
    case L'F':
    case L'g':
    case L'G':
    case L'a':
    case L'A':
      return Conversion::kFloat;
    case L'p':
      return Conversion::kPointer;
    case L'n':
      return Conversion::kCount;
    case L'%':
      return Conversion::kPercent;
    default:
      return Conversion::kUnknown;
  }
}

// `i` is the index after the '%'.
constexpr Directive ParseDirective(std::wstring_view f, std::size_t i) {
  Directive s;
  const std::size_t n = f.size();
  while (i < n && FlagOf(f[i]) != 0) s.flags |= FlagOf(f[i++]);
  if (i < n && f[i] == L'*') {
    s.widthStar = true;
    ++i;
  } else {
    s.width = ParseNumber(f, i);
  }
  if (i < n && f[i] == L'.') {
    ++i;
    if (i < n && f[i] == L'*') {
      s.precisionStar = true;
      ++i;
    } else {
      s.precision = ParseNumber(f, i);
    }
  }
  bool narrow = false;
  bool wide = false;
  if (i < n) {
    switch (f[i]) {
      case L'h':
        narrow = true;
        ++i;
        if (i < n && f[i] == L'h') {
          s.intBits = 8;
          ++i;
        } else {
          s.intBits = 16;
        }
        break;
      case L'l':
        wide = true;
        ++i;
        if (i < n && f[i] == L'l') {
          s.intBits = 64;
          ++i;
        }
        break;
      case L'w':
        wide = true;
        ++i;
        break;
      case L'L':
        ++i;
        break;
      case L'j':
        s.intBits = 64;
        ++i;
        break;
      case L'z':
      case L't':
        s.intBits = kPointerBits;
        ++i;
        break;
      case L'I':
        ++i;
        if (i + 1 < n && f[i] == L'6' && f[i + 1] == L'4') {
          s.intBits = 64;
          i += 2;
        } else if (i + 1 < n && f[i] == L'3' && f[i + 1] == L'2') {
          i += 2;
        } else {
          s.intBits = kPointerBits;
        }
        break;
      default:
        break;
    }
  }
  if (i >= n) {
    s.end = n;
    return s;
  }
  s.letter = f[i];
  s.end = i + 1;
  s.conversion = ConversionOf(s.letter);
  s.narrowChar = s.letter == L'C' ? !wide : narrow;
  if (s.conversion == Conversion::kPointer) s.intBits = kPointerBits;
  return s;
}

constexpr bool Accepts(Conversion conversion, ArgKind kind) {
  switch (conversion) {
    case Conversion::kInteger:
      return kind == ArgKind::kInteger || kind == ArgKind::kBoolOrEnum ||
             kind == ArgKind::kWideChar || kind == ArgKind::kNarrowChar;
    case Conversion::kChar:
      return kind == ArgKind::kInteger || kind == ArgKind::kWideChar ||
             kind == ArgKind::kNarrowChar;
    case Conversion::kText:
      return kind == ArgKind::kWideCString || kind == ArgKind::kNarrowCString ||
             kind == ArgKind::kWideView || kind == ArgKind::kNarrowView;
    case Conversion::kFloat:
      return kind == ArgKind::kFloat;
    case Conversion::kPointer:
      return kind == ArgKind::kPointer || kind == ArgKind::kWideCString ||
             kind == ArgKind::kNarrowCString;
    case Conversion::kStar:
      return kind == ArgKind::kInteger;
    default:
      return false;
  }
}

}  // namespace detail

// The check a compile-time format goes through, usable at run time too (for instance to vet a
// translated text against the arguments its caller passes).
constexpr FormatError CheckFormat(std::wstring_view format, std::span<const ArgKind> kinds) {
  std::size_t next = 0;
  const auto take = [&](detail::Conversion conversion) {
    if (next >= kinds.size()) return FormatError::kTooFewArguments;
    if (!detail::Accepts(conversion, kinds[next++])) {
      return conversion == detail::Conversion::kStar ? FormatError::kStarNeedsInteger
                                                     : FormatError::kArgumentType;
    }
    return FormatError::kNone;
  };
  for (std::size_t i = 0; i < format.size();) {
    if (format[i] != L'%') {
      ++i;
      continue;
    }
    const detail::Directive directive = detail::ParseDirective(format, i + 1);
    i = directive.end;
    switch (directive.conversion) {
      case detail::Conversion::kEnd:
        return FormatError::kTrailingPercent;
      case detail::Conversion::kUnknown:
        return FormatError::kUnknownConversion;
      case detail::Conversion::kCount:
        return FormatError::kPercentN;
      case detail::Conversion::kPercent:
        continue;
      default:
        break;
    }
    if (directive.widthStar) {
      if (const FormatError e = take(detail::Conversion::kStar); e != FormatError::kNone) return e;
    }
    if (directive.precisionStar) {
      if (const FormatError e = take(detail::Conversion::kStar); e != FormatError::kNone) return e;
    }
    if (const FormatError e = take(directive.conversion); e != FormatError::kNone) return e;
  }
  return next == kinds.size() ? FormatError::kNone : FormatError::kTooManyArguments;
}

template <class... Args>
constexpr FormatError CheckFormatFor(std::wstring_view format) {
  constexpr ArgKind kinds[] = {KindOf<Args>()..., ArgKind::kNone};
  return CheckFormat(format, std::span<const ArgKind>(kinds, sizeof...(Args)));
}

namespace detail {

// Not constexpr on purpose: reaching one of these while a format literal is checked stops the
// compilation, and the compiler's message names the function, which names the fault.
inline void FormatTooFewArguments() {}
inline void FormatTooManyArguments() {}
inline void FormatArgumentDoesNotMatchConversion() {}
inline void FormatStarWidthOrPrecisionNeedsInteger() {}
inline void FormatUnknownConversion() {}
inline void FormatPercentNIsNotSupported() {}
inline void FormatEndsInsideConversion() {}

constexpr void ReportFormatError(FormatError error) {
  switch (error) {
    case FormatError::kNone:
      return;
    case FormatError::kTooFewArguments:
      FormatTooFewArguments();
      return;
    case FormatError::kTooManyArguments:
      FormatTooManyArguments();
      return;
    case FormatError::kArgumentType:
      FormatArgumentDoesNotMatchConversion();
      return;
    case FormatError::kStarNeedsInteger:
      FormatStarWidthOrPrecisionNeedsInteger();
      return;
    case FormatError::kUnknownConversion:
      FormatUnknownConversion();
      return;
    case FormatError::kPercentN:
      FormatPercentNIsNotSupported();
      return;
    case FormatError::kTrailingPercent:
      FormatEndsInsideConversion();
      return;
  }
}

}  // namespace detail

// A wide format literal checked against the argument types at compile time.
template <class... Args>
class FormatString {
 public:
  template <class S>
  requires std::convertible_to<const S&, std::wstring_view>
  consteval FormatString(const S& text) : text_(text) {  // NOLINT: implicit by design
    detail::ReportFormatError(CheckFormatFor<Args...>(text_));
  }

  constexpr std::wstring_view get() const noexcept { return text_; }

 private:
  std::wstring_view text_;
};

// Appends to `out`; runtime formats (texts from language files) never read out of bounds.
void VFormatTo(std::wstring& out, std::wstring_view format, std::span<const Arg> args);
std::wstring VFormat(std::wstring_view format, std::span<const Arg> args);

template <class... Args>
requires(Formattable<Args>&&...) void FormatTo(std::wstring& out,
                                               FormatString<std::type_identity_t<Args>...> format,
                                               const Args&... args) {
  if constexpr (sizeof...(Args) == 0) {
    VFormatTo(out, format.get(), {});
  } else {
    const Arg list[] = {Arg(args)...};
    VFormatTo(out, format.get(), list);
  }
}

template <class... Args>
requires(Formattable<Args>&&...) std::wstring
    Format(FormatString<std::type_identity_t<Args>...> format, const Args&... args) {
  std::wstring out;
  FormatTo(out, format, args...);
  return out;
}

}  // namespace kvd::fmt
