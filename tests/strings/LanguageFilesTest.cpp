// The shipped language files, read by the string table on each tier: through pugixml over the
// simulated machine natively, through MSXML beside the Wine test executable.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <set>
#include <string>

#include "platform/api/Handles.h"
#include "platform/api/Text.h"
#include "strings/StringKeys.h"
#include "strings/StringTable.h"
#include "tests/support/TestMachine.h"

namespace {

std::wstring ProgramFolder(kvd::platform::Platform& ports) {
  std::wstring module;
  kvd::platform::GrowAndRetry(module, [&](wchar_t* buffer, std::uint32_t chars) {
    return ports.process.GetModuleFileName(0, buffer, chars);
  });
  return module.substr(0, module.rfind(L'\\'));
}

class LanguageFiles : public ::testing::TestWithParam<kvd::test::TargetFactory> {
 protected:
  void SetUp() override {
    machine_ = GetParam().make();
    if (machine_->IsSimulated()) CopyShippedFilesIn();
  }

  // The simulated machine gets the files of the source tree beside its program, as the builds
  // install them beside the real one.
  void CopyShippedFilesIn() {
    auto& ports = machine_->Ports();
    const std::wstring folder = ProgramFolder(ports) + L"\\strings";
    ports.files.CreateDirectory(folder.c_str());
    for (const std::uint16_t language : kSupportedLanguages) {
      std::ifstream in(
          std::string(KVD_STRINGS_SOURCE_DIR) + "/" + std::to_string(language) + ".xml",
          std::ios::binary);
      ASSERT_TRUE(in) << "no file for language " << language;
      const std::vector<char> bytes((std::istreambuf_iterator<char>(in)),
                                    std::istreambuf_iterator<char>());
      const std::wstring path = folder + L"\\" + std::to_wstring(language) + L".xml";
      auto handle = kvd::platform::MakeUniqueFile(
          ports.files, ports.files.CreateFile(path.c_str(), kvd::platform::file::GenericWrite, 0,
                                              kvd::platform::file::CreateAlways,
                                              kvd::platform::file::AttributeNormal));
      ASSERT_TRUE(handle.valid());
      std::uint32_t written = 0;
      ASSERT_TRUE(ports.files.WriteFile(handle.get(), bytes.data(),
                                        static_cast<std::uint32_t>(bytes.size()), &written));
    }
  }

  std::unique_ptr<kvd::test::TestMachine> machine_;
};

TEST_P(LanguageFiles, EveryLanguageHoldsExactlyTheKeysOfTheProgram) {
  const std::set<std::wstring> keys(std::begin(kStringKeys), std::end(kStringKeys));
  ASSERT_EQ(keys.size(), 160u);
  for (const std::uint16_t language : kSupportedLanguages) {
    SCOPED_TRACE("language " + std::to_string(language));
    CStringTable table(machine_->Ports());
    table.m_LangID = language;
    ASSERT_TRUE(table.LoadStrings());
    EXPECT_EQ(table.m_LangID, language) << "the file is missing";
    EXPECT_EQ(table.Size(), keys.size());
    for (const auto& key : keys) {
      EXPECT_FALSE(table.GetString(key).empty()) << kvd::platform::NarrowUtf8(key);
    }
  }
}

TEST_P(LanguageFiles, LinksAndAddressesKeepTheirForm) {
  for (const std::uint16_t language : kSupportedLanguages) {
    SCOPED_TRACE("language " + std::to_string(language));
    CStringTable table(machine_->Ports());
    table.m_LangID = language;
    ASSERT_TRUE(table.LoadStrings());
    // Addresses the pages open with the shell: the same reserved domain in every language.
    for (const wchar_t* key :
         {L"QV_LINK", L"QV_LINK_CUSTOMER", L"PATCH_LINK", L"NDU_LINK", L"QV_SCAN_DEST_PATCH_LINK",
          L"QV_SUPPORT_LINK", L"QV_SUPPORT_FORUM_LINK", L"FEEDBACK_LINK", L"FEEDBACK_LINK_2"}) {
      const std::wstring text = table.GetString(key);
      EXPECT_EQ(text.rfind(L"https://", 0), 0u) << kvd::platform::NarrowUtf8(key);
      EXPECT_NE(text.find(L"example.com/"), std::wstring::npos) << kvd::platform::NarrowUtf8(key);
    }
    // Link controls: their mark-up survives translation.
    EXPECT_NE(table.GetString(L"INFO_MSG").find(L"<a>"), std::wstring::npos);
    const std::wstring links = table.GetString(L"QV_HELP_LINKS");
    std::size_t count = 0;
    for (std::size_t at = links.find(L"<a"); at != std::wstring::npos;
         at = links.find(L"<a", at + 1)) {
      ++count;
    }
    EXPECT_EQ(count, 3u);
  }
}

INSTANTIATE_TEST_SUITE_P(All, LanguageFiles, ::testing::ValuesIn(kvd::test::AllTargets()),
                         kvd::test::TargetName());

}  // namespace
