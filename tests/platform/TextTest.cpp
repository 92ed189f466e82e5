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

}  // namespace
}  // namespace kvd::platform
