// The scenario reader: what a file becomes, in the simulated machine and as a .reg file for
// Wine, and how a malformed file is refused.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <stdexcept>
#include <string>

#include "platform/api/IRegistry.h"
#include "platform/api/Text.h"
#include "tests/support/Scenario.h"

namespace {

using kvd::platform::kHkeyLocalMachine;

std::string WriteTemp(const std::string& name, const std::string& text) {
  const std::string path = testing::TempDir() + name;
  std::ofstream(path, std::ios::binary) << text;
  return path;
}

TEST(ScenarioReader, ValuesFilesAndRegText) {
  const auto scenario =
      kvd::test::LoadScenario(WriteTemp("kvd-scenario.xml", R"(<?xml version="1.0"?>
<scenario title="t">
  <value key="SOFTWARE\Quvari\Brevane" name="InstallFolder" data="C:\QV"/>
  <value key="SOFTWARE\Quvari" view="64" name="Native" type="dword" data="0x10"/>
  <device enumerator="ROOT" id="IMAGE\0000" class="Image" hardware-ids="a|b"/>
  <ini path="C:\x.ini" section="S" key="k1" value="1"/>
  <ini path="C:\X.INI" section="s" key="k2" value="2"/>
</scenario>)"));
  ASSERT_GE(scenario.registry.size(), 4u);
  // HKLM\SOFTWARE as the 32-bit program sees it, unless the 64-bit view is asked for.
  EXPECT_EQ(scenario.registry[0].path, L"SOFTWARE\\Wow6432Node\\Quvari\\Brevane");
  EXPECT_EQ(scenario.registry[0].bytes, kvd::platform::ToUtf16Bytes(L"C:\\QV", true));
  EXPECT_EQ(scenario.registry[1].path, L"SOFTWARE\\Quvari");
  EXPECT_EQ(scenario.registry[1].bytes, (std::vector<std::uint8_t>{0x10, 0, 0, 0}));
  // A hardware-id list is double-terminated.
  const auto ids = *std::find_if(scenario.registry.begin(), scenario.registry.end(),
                                 [](const auto& write) { return write.name == L"HardwareID"; });
  EXPECT_EQ(ids.bytes, (std::vector<std::uint8_t>{'a', 0, 0, 0, 'b', 0, 0, 0, 0, 0}));
  ASSERT_EQ(scenario.nodes.size(), 1u);
  EXPECT_EQ(scenario.nodes[0].instanceId, L"ROOT\\IMAGE\\0000");
  // One INI file per path (any case), one section per name.
  ASSERT_EQ(scenario.files.size(), 1u);
  const std::string ini(scenario.files[0].bytes.begin(), scenario.files[0].bytes.end());
  EXPECT_EQ(ini, "[S]\r\nk1=1\r\nk2=2\r\n");

  const auto reg = kvd::test::ToRegFile(scenario);
  ASSERT_GT(reg.size(), 2u);
  EXPECT_EQ(reg[0], 0xFF);
  EXPECT_EQ(reg[1], 0xFE);
  const std::wstring text = kvd::platform::FromUtf16Bytes(reg.data() + 2, reg.size() - 2);
  EXPECT_EQ(text.rfind(L"Windows Registry Editor Version 5.00\r\n", 0), 0u);
  EXPECT_NE(
      text.find(L"[HKEY_LOCAL_MACHINE\\SOFTWARE\\Quvari]\r\n\"Native\"=hex(4):10,00,00,00\r\n"),
      std::wstring::npos);
}

TEST(ScenarioReader, MalformedFilesAreRefusedByName) {
  const struct {
    const char* name;
    const char* text;
    const char* says;
  } cases[] = {
      {"not xml", "<scenario", "kvd-bad-0.xml"},
      {"wrong root", "<machine/>", "root element"},
      {"unknown element", "<scenario><printr name='x'/></scenario>", "<printr>"},
      {"missing attribute", "<scenario><device id='x'/></scenario>", "enumerator"},
      {"unknown class", "<scenario><device enumerator='ROOT' id='x' class='Modem'/></scenario>",
       "class-guid"},
      {"bad address", "<scenario><host address='10.0.0'/></scenario>", "dotted"},
  };
  int i = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = WriteTemp("kvd-bad-" + std::to_string(i++) + ".xml", c.text);
    try {
      kvd::test::LoadScenario(path);
      ADD_FAILURE() << "accepted";
    } catch (const std::runtime_error& error) {
      EXPECT_NE(std::string(error.what()).find(c.says), std::string::npos) << error.what();
    }
  }
}

// Every scenario of the library reads.
TEST(ScenarioReader, TheLibraryReads) {
  for (const char* name : {"usb-aio-composite.xml", "usb-aio-unplugged.xml", "usb-lumeq.xml",
                           "usb-tarvel.xml", "network-lumeq.xml", "network-ostrel.xml",
                           "network-aio.xml", "broken-usb.xml", "broken-network.xml"}) {
    SCOPED_TRACE(name);
    EXPECT_FALSE(kvd::test::LoadNamedScenario(name).title.empty());
  }
}

}  // namespace
