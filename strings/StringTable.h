// strings/: the localised texts (CStringTable, GlobalLag) and the choice of language.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <utility>

#include "platform/api/Platform.h"

// The 21 languages the program ships texts for, in the order the language dialog lists them.
inline constexpr std::uint16_t kSupportedLanguages[] = {
    0x0404, 0x0405, 0x0406, 0x0407, 0x0408, 0x0409, 0x040A, 0x040B, 0x040C, 0x040E, 0x0410,
    0x0411, 0x0412, 0x0413, 0x0414, 0x0415, 0x0416, 0x0419, 0x041D, 0x041F, 0x0804};
inline constexpr std::uint16_t kEnglish = 0x0409;

// The texts of one language, by key, read from "<program folder>\strings\<language>.xml".
class CStringTable {
 public:
  CStringTable() = default;
  explicit CStringTable(kvd::platform::Platform& platform) : m_platform(&platform) {}

  // The machine whose files are read; the program binds its global table once at start-up.
  void Bind(kvd::platform::Platform& platform) { m_platform = &platform; }
  // The application's copy of the language id, kept equal to m_LangID when loading falls back
  // to English.
  void SetApplicationLanguage(std::uint16_t* applicationLanguage) {
    m_pAppLangID = applicationLanguage;
  }

  // The folder that holds "strings\", when it is not the program's own (the device-manager
  // helper reads the files beside kavid.exe, one folder up).
  void SetFolder(std::wstring folder) { m_strFolder = std::move(folder); }

  // Reads the file of m_LangID, replacing all earlier texts. True when the file was parsed and
  // its "String" elements were read (also when there were none).
  bool LoadStrings();

  // The text of a key (exact, case-sensitive), or the empty text.
  std::wstring GetString(const std::wstring& key) const;

  std::size_t Size() const { return m_strings.size(); }

  std::uint16_t m_LangID = kEnglish;

 private:
  std::wstring PathFor(std::uint16_t language) const;

  kvd::platform::Platform* m_platform = nullptr;
  std::wstring m_strFolder;
  std::uint16_t* m_pAppLangID = nullptr;
  std::map<std::wstring, std::wstring> m_strings;
};

// The program's one table, bound and loaded at start-up.
extern CStringTable GlobalLag;

// The supported language that fits the system's default language (English when none does).
std::uint16_t GetDefaultLanguage(kvd::platform::ISystemInfo& system);
