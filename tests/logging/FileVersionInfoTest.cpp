// Version strings of a file, read from version blocks of the simulated machine.
#include <gtest/gtest.h>

#include "logging/VERidez.h"
#include "platform/sim/SimMachine.h"

namespace {

using Translation = kvd::sim::VersionResource::Translation;

TEST(FileVersionInfo, StringsOfTheListedTranslationsTheLastOneWins) {
  struct Case {
    const char* name;
    std::vector<Translation> translations;
    std::wstring fileVersion;
    std::wstring company;
  };
  const Case cases[] = {
      {"one translation",
       {{0x0409, 1200, {{L"FileVersion", L"1.0.0.1"}, {L"CompanyName", L"Quvari"}}}},
       L"1.0.0.1",
       L"Quvari"},
      {"the last listed translation that has the string",
       {{0x0409, 1200, {{L"FileVersion", L"1.0"}, {L"CompanyName", L"Quvari"}}},
        {0x0407, 1252, {{L"FileVersion", L"2.0"}}}},
       L"2.0",
       L"Quvari"},
      {"no strings at all", {{0x0409, 1200, {}}}, L"", L""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    kvd::sim::SimMachine sim;
    kvd::sim::VersionResource resource;
    resource.translations = c.translations;
    sim.Process().PutVersionInfo(L"C:\\Quvari\\qvtool.exe", resource);
    const VERidez::CFileVersionInfo info(sim.Ports().process, L"C:\\Quvari\\qvtool.exe");
    EXPECT_TRUE(info.HasVersionInfo());
    EXPECT_EQ(info.FileVersion(), c.fileVersion);
    EXPECT_EQ(info.CompanyName(), c.company);
    EXPECT_EQ(info.ProductName(), L"");
  }
}

TEST(FileVersionInfo, AFileWithoutVersionResource) {
  kvd::sim::SimMachine sim;
  const VERidez::CFileVersionInfo info(sim.Ports().process, L"C:\\Windows\\notepad.exe");
  EXPECT_FALSE(info.HasVersionInfo());
  EXPECT_EQ(info.FileVersion(), L"");
}

}  // namespace
