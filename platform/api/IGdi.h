#pragma once

#include <cstdint>
#include <string>

#include "platform/api/Types.h"

namespace kvd::platform {

using FontHandle = std::uintptr_t;  // HFONT; 0 is none

// LOGFONTW fields CreateFontW takes, in its order.
struct FontSpec {
  int height = 0;
  int width = 0;
  int escapement = 0;
  int orientation = 0;
  int weight = 0;
  bool italic = false;
  bool underline = false;
  bool strikeOut = false;
  std::uint8_t charSet = 0;
  std::uint8_t outPrecision = 0;
  std::uint8_t clipPrecision = 0;
  std::uint8_t quality = 0;
  std::uint8_t pitchAndFamily = 0;
  std::wstring faceName;
  bool operator==(const FontSpec&) const = default;
};

namespace font {
inline constexpr std::uint8_t AnsiCharset = 0;     // ANSI_CHARSET
inline constexpr std::uint8_t DefaultCharset = 1;  // DEFAULT_CHARSET
inline constexpr std::uint8_t OutDefaultPrecis = 0;
inline constexpr std::uint8_t ClipDefaultPrecis = 0;
inline constexpr std::uint8_t DefaultQuality = 0;
inline constexpr std::uint8_t FfSwiss = 0x20;  // FF_SWISS
inline constexpr int FwNormal = 400;
inline constexpr int FwMedium = 500;
inline constexpr int FwBold = 700;
}  // namespace font

// Fonts (gdi32).
class IGdi {
 public:
  virtual ~IGdi() = default;
  // EnumFontFamiliesExW on the screen's device context with a LOGFONTW naming `faceName` in
  // `charSet`: how many faces the callback is called for (0 when the family is not installed).
  virtual int EnumFontFamiliesEx(const wchar_t* faceName, std::uint8_t charSet) = 0;
  // CreateFontW with the fields of `spec`: 0 on failure.
  virtual FontHandle CreateFont(const FontSpec& spec) = 0;
  // DeleteObject of a font: false when it is no font (any more).
  virtual bool DeleteObject(FontHandle font) = 0;
};

}  // namespace kvd::platform
