// Text rules the program applies to what Windows stores.
#include <gtest/gtest.h>

#include <string>

#include "platform/api/Text.h"

namespace kvd::platform {
namespace {

TEST(Text, TrimAndStoredForms) {
  struct Case {
    const wchar_t* text;
    const wchar_t* trimmed;
    const wchar_t* display;
  };
  const Case cases[] = {
      {L" \t\r\nQuvari \r\n", L"Quvari", L" \t\r\nQuvari \r\n"},
      {L"", L"", L""},
      {L" \t ", L"", L" \t "},
      {L"@oem12.inf,%qv.mfg%;Quvari Imaging", L"@oem12.inf,%qv.mfg%;Quvari Imaging",
       L"Quvari Imaging"},
      {L"@oem12.inf,%qv.mfg%;", L"@oem12.inf,%qv.mfg%;", L""},
      {L"@oem12.inf,%a%;b;Quvari", L"@oem12.inf,%a%;b;Quvari", L"Quvari"},  // the last ';'
      {L"@oem12.inf,%qv.mfg%", L"@oem12.inf,%qv.mfg%", L"@oem12.inf,%qv.mfg%"},
      {L"Quvari; Imaging", L"Quvari; Imaging", L"Quvari; Imaging"},  // a plain value stays
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(NarrowUtf8(c.text));
    EXPECT_EQ(Trim(c.text), c.trimmed);
    EXPECT_EQ(StoredDisplayText(c.text), c.display);
  }
}

TEST(Text, FileMasks) {
  struct Case {
    const wchar_t* name;
    const wchar_t* mask;
    bool fits;
  };
  const Case cases[] = {
      {L"Lumeq LQ3100", L"*.*", true},  // no dot, still every name
      {L".", L"*.*", true},
      {L"setup.EXE", L"*.exe", true},
      {L"setup.exe.bak", L"*.exe", false},
      {L"a.b.exe", L"*.exe", true},  // the star takes back what a first try ate
      {L"qvclean01.exe", L"qvclean0?.exe", true},
      {L"qvclean1.exe", L"qvclean0?.exe", false},
      {L"InstallerConfig.xml", L"installerconfig.xml", true},
      {L"x", L"", false},
      {L"", L"*", true},
      {L"abc", L"a*b*c*", true},
      {L"abd", L"a*c", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(NarrowUtf8(std::wstring(c.name) + L" / " + c.mask));
    EXPECT_EQ(MatchesFileMask(c.name, c.mask), c.fits);
  }
}

}  // namespace
}  // namespace kvd::platform
