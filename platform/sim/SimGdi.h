#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "platform/api/IGdi.h"
#include "platform/sim/SimCommon.h"

namespace kvd::sim {

// The installed font families (those of a Windows 7 machine by default, Calibri among them) and
// the fonts the program created and has not deleted.
class SimGdi final : public platform::IGdi {
 public:
  explicit SimGdi(SimCalls& calls);
  // The family's faces in every character set: four (regular, bold, italic, bold italic).
  int EnumFontFamiliesEx(const wchar_t* faceName, std::uint8_t charSet) override;
  // Any face name makes a font, as on Windows (an unknown one is mapped to another face).
  platform::FontHandle CreateFont(const platform::FontSpec& spec) override;
  bool DeleteObject(platform::FontHandle font) override;

  // Set-up and inspection (not counted).
  void SetFamilyInstalled(const std::wstring& family, bool installed);
  // The fonts that exist, in the order they were made.
  std::vector<platform::FontSpec> LiveFonts() const;

 private:
  SimCalls& calls_;
  mutable std::mutex mutex_;
  std::set<std::wstring> families_;  // lower-case names
  std::map<platform::FontHandle, platform::FontSpec> fonts_;
};

}  // namespace kvd::sim
