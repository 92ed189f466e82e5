#include "platform/sim/SimGdi.h"

#include "platform/api/Text.h"

namespace kvd::sim {

SimGdi::SimGdi(SimCalls& calls) : calls_(calls) {
  for (const wchar_t* family : {L"Arial", L"Calibri", L"Microsoft Sans Serif", L"Segoe UI",
                                L"Tahoma", L"Times New Roman"}) {
    families_.insert(platform::ToLowerOrdinal(family));
  }
}

int SimGdi::EnumFontFamiliesEx(const wchar_t* faceName, std::uint8_t) {
  calls_.Enter("EnumFontFamiliesEx");
  if (faceName == nullptr) return 0;
  std::lock_guard lock(mutex_);
  return families_.count(platform::ToLowerOrdinal(faceName)) != 0 ? 4 : 0;
}

platform::FontHandle SimGdi::CreateFont(const platform::FontSpec& spec) {
  if (calls_.Enter("CreateFont")) return 0;
  std::lock_guard lock(mutex_);
  const platform::FontHandle handle = calls_.NextHandle();
  fonts_[handle] = spec;
  return handle;
}

bool SimGdi::DeleteObject(platform::FontHandle font) {
  if (calls_.Enter("DeleteObject")) return false;
  std::lock_guard lock(mutex_);
  return fonts_.erase(font) != 0;
}

void SimGdi::SetFamilyInstalled(const std::wstring& family, bool installed) {
  std::lock_guard lock(mutex_);
  if (installed) {
    families_.insert(platform::ToLowerOrdinal(family));
  } else {
    families_.erase(platform::ToLowerOrdinal(family));
  }
}

std::vector<platform::FontSpec> SimGdi::LiveFonts() const {
  std::lock_guard lock(mutex_);
  std::vector<platform::FontSpec> fonts;
  // Handles grow with every object made: their order is the order of creation.
  for (const auto& [handle, spec] : fonts_) fonts.push_back(spec);
  return fonts;
}

}  // namespace kvd::sim
