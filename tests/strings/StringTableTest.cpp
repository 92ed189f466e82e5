// The string table and the choice of language, against the simulated machine.
#include <gtest/gtest.h>

#include <string>

#include "logging/DUDiduzuz.h"
#include "platform/sim/SimMachine.h"
#include "strings/StringTable.h"
#include "tests/support/PortHelpers.h"

namespace {

const std::wstring kFolder = L"C:\\Program Files (x86)\\Quvari\\Kavid\\strings\\";

std::vector<std::uint8_t> Utf8(const std::string& text) { return {text.begin(), text.end()}; }

std::string Document(const std::string& strings) {
  return "<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n<Strings>\r\n" + strings + "</Strings>\r\n";
}

class StringTable : public ::testing::Test {
 protected:
  void SetUp() override {
    // The table's failures are error records: capture them.
    sim_.Registry().PutDword(kvd::platform::kHkeyCurrentUser,
                             L"Software\\QV\\NG\\Logging\\kavid.exe", L"LogCategories", 0x80);
    sim_.Registry().PutDword(kvd::platform::kHkeyCurrentUser,
                             L"Software\\QV\\NG\\Logging\\kavid.exe", L"LogOptions", 0x80000);
    DUDiduzuz::CLogModule::SetCurrent(&logger_);
    table_.SetApplicationLanguage(&appLanguage_);
  }
  void TearDown() override { DUDiduzuz::CLogModule::SetCurrent(nullptr); }

  void PutLanguage(std::uint16_t language, const std::string& strings) {
    sim_.Files().PutFile(kFolder + std::to_wstring(language) + L".xml", Utf8(Document(strings)));
  }

  // The error records written since the last call.
  std::vector<std::wstring> Errors() {
    std::vector<std::wstring> texts;
    for (const auto& piece : sim_.Debug().Take()) {
      if (piece.rfind(L"(##) ", 0) == 0) continue;
      if (piece != L"\r\n" && !piece.empty()) texts.push_back(piece);
    }
    return texts;
  }

  kvd::sim::SimMachine sim_;
  DUDiduzuz::SettingsStore store_{sim_.Ports().sync};
  DUDiduzuz::CLogModule logger_{sim_.Ports(), store_};
  CStringTable table_{sim_.Ports()};
  std::uint16_t appLanguage_ = 0;
};

TEST_F(StringTable, LoadsTheChosenLanguage) {
  PutLanguage(1031,
              "<String ID=\"TITLE\" Value=\"Scannerdiagnose\"/>"
              "<String ID=\"TITLE\" Value=\"second\"/>"
              "<String ID=\"TWO_LINES\" Value=\"eins\\r\\nzwei\"/>"
              "<String ID=\"EMPTY\" Value=\"\"/>"
              "<String Value=\"no id\"/><String ID=\"NO_VALUE\"/><String/>");
  table_.m_LangID = 1031;
  ASSERT_TRUE(table_.LoadStrings());
  EXPECT_EQ(table_.GetString(L"TITLE"), L"Scannerdiagnose");  // the first of two wins
  EXPECT_EQ(table_.GetString(L"TWO_LINES"), L"eins\r\nzwei");
  EXPECT_EQ(table_.GetString(L"EMPTY"), L"");
  EXPECT_EQ(table_.GetString(L"title"), L"");  // keys are case-sensitive
  EXPECT_EQ(table_.GetString(L"NO_VALUE"), L"");
  EXPECT_EQ(table_.Size(), 3u);
  EXPECT_EQ(table_.m_LangID, 1031);
  EXPECT_TRUE(Errors().empty());
}

TEST_F(StringTable, AMissingLanguageFallsBackToEnglish) {
  PutLanguage(1033, "<String ID=\"TITLE\" Value=\"Scanner diagnostics\"/>");
  table_.m_LangID = 1031;
  appLanguage_ = 1031;
  ASSERT_TRUE(table_.LoadStrings());
  EXPECT_EQ(table_.GetString(L"TITLE"), L"Scanner diagnostics");
  EXPECT_EQ(table_.m_LangID, 1033);
  EXPECT_EQ(appLanguage_, 1033);
  EXPECT_EQ(Errors(),
            std::vector<std::wstring>{L"Unsupported language, locale :1031 , Default to English"});
}

TEST_F(StringTable, FailuresLeaveAnEmptyTable) {
  struct Case {
    const char* name;
    std::function<void()> arrange;
    std::wstring error;
  };
  const Case cases[] = {
      {"no English file either", [] {}, L"Failed to load XML DOM"},
      {"not well-formed",
       [&] { sim_.Files().PutFile(kFolder + L"1033.xml", Utf8("<Strings><String ID=")); },
       L"Failed to load XML DOM"},
      {"a document type declaration",
       [&] {
         sim_.Files().PutFile(kFolder + L"1033.xml",
                              Utf8("<?xml version=\"1.0\"?><!DOCTYPE S [<!ENTITY e \"x\">]>"
                                   "<S><String ID=\"TITLE\" Value=\"&e;\"/></S>"));
       },
       L"Failed to load XML DOM"},
      {"no XML document object",
       [&] {
         PutLanguage(1033, "<String ID=\"TITLE\" Value=\"t\"/>");
         sim_.InjectFault("CreateDocument", 1, 0x80040154);
       },
       L"CreateInstance failed for XML DOM"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    if (sim_.Files().Exists(kFolder)) sim_.Files().Remove(kFolder);
    PutLanguage(1031, "<String ID=\"OLD\" Value=\"from an earlier load\"/>");
    table_.m_LangID = 1031;
    ASSERT_TRUE(table_.LoadStrings());
    sim_.Files().Remove(kFolder + L"1031.xml");
    Errors();
    c.arrange();
    table_.m_LangID = 1033;
    EXPECT_FALSE(table_.LoadStrings());
    EXPECT_EQ(table_.Size(), 0u);  // the earlier texts are gone too
    EXPECT_EQ(table_.GetString(L"OLD"), L"");
    const auto errors = Errors();
    ASSERT_FALSE(errors.empty());
    EXPECT_EQ(errors.back(), c.error);
  }
}

TEST_F(StringTable, LowerCaseElementNamesGiveAnEmptyTableThatLoaded) {
  PutLanguage(1033, "<string ID=\"TITLE\" Value=\"t\"/><STRING ID=\"A\" Value=\"a\"/>");
  EXPECT_TRUE(table_.LoadStrings());
  EXPECT_EQ(table_.Size(), 0u);
}

TEST_F(StringTable, AnUnboundTableLoadsNothing) {
  CStringTable unbound;
  EXPECT_FALSE(unbound.LoadStrings());
  EXPECT_EQ(unbound.GetString(L"TITLE"), L"");
}

TEST(DefaultLanguage, FromTheSystemLanguage) {
  struct Case {
    const char* name;
    std::uint16_t system;
    std::uint16_t expected;
  };
  const Case cases[] = {
      {"English (United States)", 0x0409, 0x0409},
      {"English (United Kingdom)", 0x0809, 0x0409},
      {"German (Switzerland)", 0x0807, 0x0407},
      {"German (Austria)", 0x0C07, 0x0407},
      {"Portuguese (Portugal)", 0x0816, 0x0416},
      {"Chinese (Taiwan)", 0x0404, 0x0404},
      {"Chinese (PRC)", 0x0804, 0x0804},
      {"Chinese (Hong Kong)", 0x0C04, 0x0404},
      {"Chinese (Singapore)", 0x1004, 0x0804},
      {"Chinese (Macau)", 0x1404, 0x0804},
      {"Norwegian (Nynorsk)", 0x0814, 0x0414},
      {"Arabic", 0x0401, 0x0409},
      {"Japanese", 0x0411, 0x0411},
      {"Turkish", 0x041F, 0x041F},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    kvd::sim::SimMachine sim;
    sim.System().SetSystemDefaultLangID(c.system);
    EXPECT_EQ(GetDefaultLanguage(sim.Ports().system), c.expected);
  }
}

}  // namespace
