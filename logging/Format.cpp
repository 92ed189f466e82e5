#include "logging/Format.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <cwchar>

#include "platform/api/Text.h"

namespace kvd::fmt {
namespace {

using detail::Conversion;
using detail::Directive;

constexpr bool kWide32 = sizeof(wchar_t) == 4;

// Width and precision once the `*` arguments are applied.
struct Layout {
  std::uint8_t flags;
  int width;
  int precision;
};

bool Has(const Layout& layout, std::uint8_t flag) { return (layout.flags & flag) != 0; }

std::size_t Limited(int value) { return static_cast<std::size_t>(std::min(value, kMaxFill)); }

// The CRT pads with '0' for every conversion when the 0 flag is given without '-' (strings and
// characters too); integers with a precision and floating infinities opt out before calling this.
void PadLeft(std::wstring& out, const Layout& layout, std::size_t length) {
  const std::size_t width = Limited(layout.width);
  if (Has(layout, detail::kLeft) || width <= length) return;
  out.append(width - length, Has(layout, detail::kZero) ? L'0' : L' ');
}

void PadRight(std::wstring& out, const Layout& layout, std::size_t length) {
  const std::size_t width = Limited(layout.width);
  if (!Has(layout, detail::kLeft) || width <= length) return;
  out.append(width - length, L' ');
}

void AppendAscii(std::wstring& out, const char* text, std::size_t length) {
  const std::size_t at = out.size();
  out.resize(at + length);
  for (std::size_t k = 0; k < length; ++k) {
    out[at + k] = static_cast<wchar_t>(static_cast<unsigned char>(text[k]));
  }
}

// UTF-16 code units a wide character takes in the log.
std::size_t Units(std::uint32_t c) { return kWide32 && c > 0xFFFF ? 2 : 1; }

bool IsHighSurrogate(std::uint32_t c) { return c >= 0xD800 && c <= 0xDBFF; }

// ---- integers -------------------------------------------------------------------------------

void PutInteger(std::wstring& out, wchar_t letter, std::uint8_t bits, Layout layout,
                std::uint64_t value) {
  const bool isSigned = letter == L'd' || letter == L'i';
  const unsigned base = letter == L'o'                                         ? 8
                        : (letter == L'x' || letter == L'X' || letter == L'p') ? 16
                                                                               : 10;
  const char* digitSet = letter == L'x' ? "0123456789abcdef" : "0123456789ABCDEF";

  const unsigned shift = 64u - bits;
  std::uint64_t magnitude = (value << shift) >> shift;
  bool negative = false;
  if (isSigned) {
    const auto extended = static_cast<std::int64_t>(value << shift) >> shift;
    negative = extended < 0;
    if (negative) magnitude = 0 - static_cast<std::uint64_t>(extended);
  }

  char digits[24];
  std::size_t count = 0;
  // "%.0d" of 0 prints no digit at all.
  if (!(magnitude == 0 && layout.precision == 0)) {
    char reversed[24];
    std::uint64_t rest = magnitude;
    do {
      reversed[count++] = digitSet[rest % base];
      rest /= base;
    } while (rest != 0);
    for (std::size_t k = 0; k < count; ++k) digits[k] = reversed[count - 1 - k];
  }

  char prefix[2];
  std::size_t prefixLength = 0;
  if (isSigned) {
    if (negative) {
      prefix[prefixLength++] = '-';
    } else if (Has(layout, detail::kPlus)) {
      prefix[prefixLength++] = '+';
    } else if (Has(layout, detail::kSpace)) {
      prefix[prefixLength++] = ' ';
    }
  }
  // As in the CRT, 0x goes only before a value that is not zero.
  if (base == 16 && Has(layout, detail::kAlternate) && magnitude != 0) {
    prefix[prefixLength++] = '0';
    prefix[prefixLength++] = letter == L'x' ? 'x' : 'X';
  }

  std::size_t zeros = 0;
  if (layout.precision != detail::kNoPrecision) {
    const std::size_t precision = Limited(layout.precision);
    if (precision > count) zeros = precision - count;
    layout.flags &= static_cast<std::uint8_t>(~detail::kZero);
  }
  if (base == 8 && Has(layout, detail::kAlternate) && zeros == 0 &&
      (count == 0 || digits[0] != '0')) {
    zeros = 1;
  }

  std::size_t length = prefixLength + zeros + count;
  if (Has(layout, detail::kZero) && !Has(layout, detail::kLeft)) {
    const std::size_t width = Limited(layout.width);
    if (width > length) {
      zeros += width - length;
      length = width;
    }
  }
  PadLeft(out, layout, length);
  AppendAscii(out, prefix, prefixLength);
  out.append(zeros, L'0');
  AppendAscii(out, digits, count);
  PadRight(out, layout, length);
}

// ---- characters and texts -------------------------------------------------------------------

void PutNarrowChar(std::wstring& out, const Layout& layout, unsigned char c) {
  if (c < 0x80) {
    PadLeft(out, layout, 1);
    out.push_back(static_cast<wchar_t>(c));
    PadRight(out, layout, 1);
    return;
  }
  // A lone byte above 0x7F is not UTF-8 text; widened the common way it is U+FFFD. The short
  // result lives in the string's own buffer.
  const char byte = static_cast<char>(c);
  const std::wstring wide = platform::WidenUtf8(std::string_view(&byte, 1));
  PadLeft(out, layout, wide.size());
  out.append(wide);
  PadRight(out, layout, wide.size());
}

void PutChar(std::wstring& out, const Directive& directive, const Layout& layout, const Arg& arg) {
  std::uint32_t code = 0;
  switch (arg.kind()) {
    case ArgKind::kNarrowChar:
      PutNarrowChar(out, layout, static_cast<unsigned char>(arg.bits()));
      return;
    case ArgKind::kWideChar:
      code = static_cast<std::uint32_t>(arg.bits());
      break;
    default:
      // An integer is a character code of the width the conversion names, as a CRT reads it.
      if (directive.narrowChar) {
        PutNarrowChar(out, layout, static_cast<unsigned char>(arg.bits() & 0xFF));
        return;
      }
      code = static_cast<std::uint32_t>(arg.bits() & 0xFFFF);
      break;
  }
  const std::size_t units = Units(code);
  PadLeft(out, layout, units);
  out.push_back(static_cast<wchar_t>(code));
  PadRight(out, layout, units);
}

// Wide text: `bound` characters at most, up to a NUL when `terminated`.
void PutWide(std::wstring& out, const Layout& layout, const wchar_t* text, std::size_t bound,
             bool terminated) {
  const bool limited = layout.precision != detail::kNoPrecision;
  const std::size_t precision = limited ? static_cast<std::size_t>(layout.precision) : SIZE_MAX;
  std::size_t count = 0;
  std::size_t units = 0;
  if (!limited && (!kWide32 || layout.width == 0)) {
    count = terminated && bound == SIZE_MAX ? std::wcslen(text) : bound;
    if (terminated && bound != SIZE_MAX) {
      const wchar_t* nul = std::wmemchr(text, L'\0', bound);
      if (nul != nullptr) count = static_cast<std::size_t>(nul - text);
    }
    units = count;  // natively only right for BMP text, but without a width it is not used
  } else {
    // Walk the text in UTF-16 units, reading no character past the precision.
    for (; count < bound && units < precision; ++count) {
      const auto c = static_cast<std::uint32_t>(text[count]);
      if (terminated && c == 0) break;
      const std::size_t width = Units(c);
      if (units + width > precision) break;
      // A high surrogate that the precision would leave without its partner is dropped (the
      // partner is not read: the text may end there).
      if (units + 1 == precision && IsHighSurrogate(c)) break;
      units += width;
    }
  }
  PadLeft(out, layout, units);
  out.append(text, count);
  PadRight(out, layout, units);
}

void PutNarrow(std::wstring& out, const Layout& layout, const char* text, std::size_t bound,
               bool terminated) {
  std::size_t length = bound;
  const bool limited = layout.precision != detail::kNoPrecision;
  if (limited) length = std::min(length, static_cast<std::size_t>(layout.precision));
  if (terminated) {
    if (length == SIZE_MAX) {
      length = std::strlen(text);
    } else if (const void* nul = std::memchr(text, 0, length); nul != nullptr) {
      length = static_cast<std::size_t>(static_cast<const char*>(nul) - text);
    }
  }
  if (limited && length == static_cast<std::size_t>(layout.precision)) {
    // Never cut inside a UTF-8 sequence: step back to the start of the last one if it is
    // incomplete, looking only at bytes before the cut.
    std::size_t lead = length;
    while (lead > 0 && length - lead < 4 &&
           (static_cast<unsigned char>(text[lead - 1]) & 0xC0) == 0x80) {
      --lead;
    }
    if (lead > 0) {
      const auto b = static_cast<unsigned char>(text[lead - 1]);
      const std::size_t need = b >= 0xF0 ? 4 : b >= 0xE0 ? 3 : b >= 0xC0 ? 2 : 1;
      if (length - (lead - 1) < need) length = lead - 1;
    }
  }
  bool ascii = true;
  for (std::size_t k = 0; k < length && ascii; ++k) {
    ascii = static_cast<unsigned char>(text[k]) < 0x80;
  }
  if (ascii) {
    PadLeft(out, layout, length);
    AppendAscii(out, text, length);
    PadRight(out, layout, length);
    return;
  }
  const std::wstring wide = platform::WidenUtf8(std::string_view(text, length));
  std::size_t units = wide.size();
  if constexpr (kWide32) {
    for (const wchar_t c : wide) units += Units(static_cast<std::uint32_t>(c)) - 1;
  }
  PadLeft(out, layout, units);
  out.append(wide);
  PadRight(out, layout, units);
}

void PutText(std::wstring& out, const Layout& layout, const Arg& arg) {
  const bool terminated =
      arg.kind() == ArgKind::kWideCString || arg.kind() == ArgKind::kNarrowCString;
  if (terminated && arg.data() == nullptr) {
    static constexpr wchar_t kNull[] = L"(null)";
    PutWide(out, layout, kNull, std::size(kNull) - 1, false);
    return;
  }
  if (arg.kind() == ArgKind::kWideCString || arg.kind() == ArgKind::kWideView) {
    PutWide(out, layout, static_cast<const wchar_t*>(arg.data()), arg.size(), terminated);
  } else {
    PutNarrow(out, layout, static_cast<const char*>(arg.data()), arg.size(), terminated);
  }
}

// ---- floating point -------------------------------------------------------------------------

// Digits beyond these are exact zeros for every double (its exact decimal value has at most 1074
// digits after the point and 767 significant ones, and 13 hexadecimal digits after the point).
constexpr int kFixedDigits = 1080;
constexpr int kScientificDigits = 780;
constexpr int kHexDigits = 13;

// The digits of a magnitude: text[0, zerosAt) + `zeros` zeros + text[zerosAt, length).
struct Body {
  char text[1400];
  std::size_t length = 0;
  std::size_t zerosAt = 0;
  std::size_t zeros = 0;
};

void Convert(Body& body, double magnitude, std::chars_format format, int precision) {
  const std::to_chars_result r =
      std::to_chars(body.text, body.text + sizeof body.text, magnitude, format, precision);
  body.length = static_cast<std::size_t>(r.ptr - body.text);
}

std::size_t Find(const Body& body, char c) {
  const void* at = std::memchr(body.text, c, body.length);
  return at == nullptr ? body.length
                       : static_cast<std::size_t>(static_cast<const char*>(at) - body.text);
}

void InsertPoint(Body& body, std::size_t at) {
  std::memmove(body.text + at + 1, body.text + at, body.length - at);
  body.text[at] = '.';
  ++body.length;
}

// Removes the zeros that end the fraction in text[0, end), and the point if nothing is left.
void StripZeros(Body& body, std::size_t end) {
  const std::size_t point = Find(body, '.');
  if (point >= end) return;
  std::size_t last = end;
  while (last > point + 1 && body.text[last - 1] == '0') --last;
  if (last == point + 1) last = point;
  std::memmove(body.text + last, body.text + end, body.length - end);
  body.length -= end - last;
  body.zerosAt = std::min(body.zerosAt, last);
}

// Converts with `precision` digits after the point, limited to `cap` (the rest are zeros) and
// with the point kept for "#" when there are none. `mark` ends the mantissa ('e', 'p' or none).
void Digits(Body& body, double magnitude, std::chars_format format, int precision, int cap,
            char mark, bool alternate) {
  const int converted = std::min(precision, cap);
  Convert(body, magnitude, format, converted);
  const std::size_t end = mark == 0 ? body.length : Find(body, mark);
  body.zerosAt = end;
  body.zeros = static_cast<std::size_t>(precision - converted);
  if (alternate && precision == 0) {
    // With no digits after it the mantissa is one digit (or the whole fixed number).
    InsertPoint(body, end);
    body.zerosAt = end + 1;
  }
}

void General(Body& body, double magnitude, int precision, bool alternate) {
  const int p = precision == detail::kNoPrecision ? 6 : std::max(precision, 1);
  int exponent = 0;
  if (magnitude != 0) {
    Convert(body, magnitude, std::chars_format::scientific, std::min(p - 1, kScientificDigits));
    const std::size_t e = Find(body, 'e');
    std::size_t k = e + 2;
    for (; k < body.length; ++k) exponent = exponent * 10 + (body.text[k] - '0');
    if (body.text[e + 1] == '-') exponent = -exponent;
  }
  if (exponent < p && exponent >= -4) {
    Digits(body, magnitude, std::chars_format::fixed, p - 1 - exponent, kFixedDigits, 0, alternate);
    if (!alternate) {
      body.zeros = 0;
      StripZeros(body, body.length);
    }
  } else {
    Digits(body, magnitude, std::chars_format::scientific, p - 1, kScientificDigits, 'e',
           alternate);
    if (!alternate) {
      body.zeros = 0;
      StripZeros(body, Find(body, 'e'));
    }
  }
}

void PutFloat(std::wstring& out, wchar_t letter, Layout layout, double value) {
  const bool upper = letter == L'E' || letter == L'F' || letter == L'G' || letter == L'A';
  const wchar_t kind = upper ? static_cast<wchar_t>(letter - L'A' + L'a') : letter;
  const bool alternate = Has(layout, detail::kAlternate);

  char prefix[3];
  std::size_t prefixLength = 0;
  if (std::signbit(value)) {
    prefix[prefixLength++] = '-';
  } else if (Has(layout, detail::kPlus)) {
    prefix[prefixLength++] = '+';
  } else if (Has(layout, detail::kSpace)) {
    prefix[prefixLength++] = ' ';
  }

  // Digits past kMaxFill are zeros for any double; limiting first keeps the arithmetic in range.
  layout.precision = std::min(layout.precision, kMaxFill);
  Body body;
  if (!std::isfinite(value)) {
    std::memcpy(body.text, std::isnan(value) ? "nan" : "inf", 3);
    body.length = body.zerosAt = 3;
    // Zero padding would make "00inf"; infinities and NaN are padded with spaces.
    layout.flags &= static_cast<std::uint8_t>(~detail::kZero);
  } else {
    const double magnitude = std::fabs(value);
    switch (kind) {
      case L'f':
        Digits(body, magnitude, std::chars_format::fixed,
               layout.precision == detail::kNoPrecision ? 6 : layout.precision, kFixedDigits, 0,
               alternate);
        break;
      case L'e':
        Digits(body, magnitude, std::chars_format::scientific,
               layout.precision == detail::kNoPrecision ? 6 : layout.precision, kScientificDigits,
               'e', alternate);
        break;
      case L'g':
        General(body, magnitude, layout.precision, alternate);
        break;
      default:
        prefix[prefixLength++] = '0';
        prefix[prefixLength++] = 'x';
        Digits(body, magnitude, std::chars_format::hex,
               layout.precision == detail::kNoPrecision ? kHexDigits : layout.precision, kHexDigits,
               'p', alternate);
        break;
    }
  }
  body.zeros = std::min(body.zeros, static_cast<std::size_t>(kMaxFill));
  if (upper) {
    for (std::size_t k = 0; k < body.length; ++k) {
      const char c = body.text[k];
      if (c >= 'a' && c <= 'z') body.text[k] = static_cast<char>(c - 'a' + 'A');
    }
    if (prefixLength > 0 && prefix[prefixLength - 1] == 'x') prefix[prefixLength - 1] = 'X';
  }

  std::size_t length = prefixLength + body.length + body.zeros;
  std::size_t fill = 0;
  if (Has(layout, detail::kZero) && !Has(layout, detail::kLeft)) {
    const std::size_t width = Limited(layout.width);
    if (width > length) {
      fill = width - length;
      length = width;
    }
  }
  PadLeft(out, layout, length);
  AppendAscii(out, prefix, prefixLength);
  out.append(fill, L'0');
  AppendAscii(out, body.text, body.zerosAt);
  out.append(body.zeros, L'0');
  AppendAscii(out, body.text + body.zerosAt, body.length - body.zerosAt);
  PadRight(out, layout, length);
}

// A `*` argument is read as the CRT reads it: a 32-bit int.
bool StarValue(const Arg* arg, int& value) {
  if (arg == nullptr || !detail::Accepts(Conversion::kStar, arg->kind())) return false;
  value = static_cast<std::int32_t>(static_cast<std::uint32_t>(arg->bits()));
  return true;
}

}  // namespace

void VFormatTo(std::wstring& out, std::wstring_view format, std::span<const Arg> args) {
  std::size_t next = 0;
  const auto take = [&]() -> const Arg* { return next < args.size() ? &args[next++] : nullptr; };
  std::size_t i = 0;
  while (i < format.size()) {
    const std::size_t percent = format.find(L'%', i);
    if (percent == std::wstring_view::npos) {
      out.append(format.data() + i, format.size() - i);
      return;
    }
    out.append(format.data() + i, percent - i);
    const Directive directive = detail::ParseDirective(format, percent + 1);
    i = directive.end;
    switch (directive.conversion) {
      case Conversion::kEnd:
      case Conversion::kCount:
        continue;
      case Conversion::kPercent:
      case Conversion::kUnknown:
        // msvcrt drops the '%' and what follows it up to the letter, and prints the letter.
        out.push_back(directive.letter);
        continue;
      default:
        break;
    }
    Layout layout{directive.flags, directive.width, directive.precision};
    if (directive.widthStar) {
      int width = 0;
      if (StarValue(take(), width) && width < 0) {
        layout.flags |= detail::kLeft;
        width = width == INT_MIN ? INT_MAX : -width;
      }
      layout.width = width;
    }
    if (directive.precisionStar) {
      int precision = detail::kNoPrecision;
      if (StarValue(take(), precision) && precision < 0) precision = detail::kNoPrecision;
      layout.precision = precision;
    }
    const Arg* arg = take();
    if (arg == nullptr || !detail::Accepts(directive.conversion, arg->kind())) continue;
    switch (directive.conversion) {
      case Conversion::kInteger:
        PutInteger(out, directive.letter, directive.intBits, layout, arg->bits());
        break;
      case Conversion::kChar:
        PutChar(out, directive, layout, *arg);
        break;
      case Conversion::kText:
        PutText(out, layout, *arg);
        break;
      case Conversion::kFloat:
        PutFloat(out, directive.letter, layout, arg->real());
        break;
      case Conversion::kPointer: {
        // msvcrt prints a pointer as %X with all its digits; a given precision is overridden.
        layout.precision = 2 * static_cast<int>(sizeof(void*));
        const std::uint64_t value = arg->kind() == ArgKind::kPointer
                                        ? arg->bits()
                                        : reinterpret_cast<std::uintptr_t>(arg->data());
        PutInteger(out, L'p', directive.intBits, layout, value);
        break;
      }
      default:
        break;
    }
  }
}

std::wstring VFormat(std::wstring_view format, std::span<const Arg> args) {
  std::wstring out;
  VFormatTo(out, format, args);
  return out;
}

}  // namespace kvd::fmt
