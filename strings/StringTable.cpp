#include "strings/StringTable.h"

#include <memory>
#include <vector>

#include "logging/Trace.h"
#include "platform/api/Text.h"

KVD_TRACE_SOURCE();

CStringTable GlobalLag;

namespace {

constexpr std::uint16_t kPrimaryMask = 0x3FF;
constexpr std::uint16_t kChinese = 4;

const std::wstring* FindAttribute(const kvd::platform::XmlElement& element, const wchar_t* name) {
  for (const auto& [attribute, value] : element.attributes) {
    if (attribute == name) return &value;
  }
  return nullptr;
}

// The files write a line break as the four characters \r\n.
std::wstring WithLineBreaks(std::wstring text) {
  for (std::size_t at = text.find(L"\\r\\n"); at != std::wstring::npos;
       at = text.find(L"\\r\\n", at + 2)) {
    text.replace(at, 4, L"\r\n");
  }
  return text;
}

}  // namespace

std::uint16_t GetDefaultLanguage(kvd::platform::ISystemInfo& system) {
  KVD_SCOPE(L"GetDefaultLanguage");
  const std::uint16_t systemLanguage = system.GetSystemDefaultLangID();
  const std::uint16_t primary = systemLanguage & kPrimaryMask;
  const std::uint16_t sub = systemLanguage >> 10;
  std::uint16_t result = kEnglish;
  // Every match counts, so a later entry of the same primary language overrides an earlier one.
  for (const std::uint16_t language : kSupportedLanguages) {
    if ((language & kPrimaryMask) != primary) continue;
    result = language;
    if (primary == kChinese) {
      if (sub == 1 || sub == 3) {
        result = 0x0404;
      } else if (sub == 2 || sub == 4) {
        result = 0x0804;
      }
    }
  }
  return result;
}

std::wstring CStringTable::PathFor(std::uint16_t language) const {
  if (!m_strFolder.empty()) {
    return kvd::fmt::Format(L"%s\\strings\\%4d.xml", m_strFolder, language);
  }
  std::wstring module;
  kvd::platform::GrowAndRetry(module, [&](wchar_t* buffer, std::uint32_t chars) {
    return m_platform->process.GetModuleFileName(0, buffer, chars);
  });
  const std::size_t slash = module.rfind(L'\\');
  const std::wstring folder = slash == std::wstring::npos ? module : module.substr(0, slash);
  return kvd::fmt::Format(L"%s\\strings\\%4d.xml", folder, language);
}

bool CStringTable::LoadStrings() {
  KVD_SCOPE(L"CStringTable::LoadStrings");
  m_strings.clear();
  if (m_platform == nullptr) {
    KVD_LOG(DUDiduzuz::kind::Error, L"CreateInstance failed for XML DOM");
    return false;
  }
  std::unique_ptr<kvd::platform::IXmlDocument> document;
  if (!kvd::platform::hr::Succeeded(m_platform->xml.CreateDocument(&document)) || !document) {
    KVD_LOG(DUDiduzuz::kind::Error, L"CreateInstance failed for XML DOM");
    return false;
  }

  std::wstring path = PathFor(m_LangID);
  kvd::platform::FileAttributeData attributes;
  if (!m_platform->files.GetFileAttributesEx(path.c_str(), &attributes)) {
    KVD_LOG(DUDiduzuz::kind::Error, L"Unsupported language, locale :%d , Default to English",
            m_LangID);
    m_LangID = kEnglish;
    if (m_pAppLangID != nullptr) *m_pAppLangID = kEnglish;
    path = PathFor(kEnglish);
  }

  bool loaded = false;
  document->Load(path.c_str(), &loaded);
  if (!loaded) {
    KVD_LOG(DUDiduzuz::kind::Error, L"Failed to load XML DOM");
    return false;
  }

  std::vector<kvd::platform::XmlElement> elements;
  if (!kvd::platform::hr::Succeeded(document->GetElementsByTagName(L"String", &elements))) {
    return false;
  }
  for (const auto& element : elements) {
    const std::wstring* key = FindAttribute(element, L"ID");
    const std::wstring* value = key != nullptr ? FindAttribute(element, L"Value") : nullptr;
    if (value == nullptr) continue;
    // The first of two elements with the same key wins.
    m_strings.emplace(*key, WithLineBreaks(*value));
  }
  return true;
}

std::wstring CStringTable::GetString(const std::wstring& key) const {
  const auto found = m_strings.find(key);
  return found != m_strings.end() ? found->second : std::wstring();
}
