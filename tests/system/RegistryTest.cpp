// Registry reads: a value is read, absent or unreadable, and a failure says which call failed,
// with which code, on which path.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/sim/SimMachine.h"
#include "system/Registry.h"
#include "tests/support/SimLog.h"

namespace {

using kvd::platform::kHkeyLocalMachine;
using kvd::reg::RegStatus;
namespace regtype = kvd::platform::regtype;
namespace err = kvd::platform::err;

// The 32-bit view's HKLM\SOFTWARE on the 64-bit machine.
const std::wstring kKey = L"SOFTWARE\\Quvari\\Test";
const std::wstring kStored = L"SOFTWARE\\Wow6432Node\\Quvari\\Test";

TEST(RegistryRead, ReadAbsentAndUnreadable) {
  struct Case {
    const char* name;
    std::function<void(kvd::sim::SimMachine&)> arrange;
    std::wstring valueName;
    RegStatus value;        // as a value
    RegStatus text;         // as a text
    std::wstring readText;  // when read as a text
    std::optional<std::uint8_t> firstByte;
    std::wstring logged;  // the debug record of a failed call, if any
  };
  const std::vector<std::uint8_t> abc = {'a', 0, 'b', 0, 'c', 0, 0, 0};
  const Case cases[] = {
      {"text",
       [&](auto& sim) {
         sim.Registry().PutValue(kHkeyLocalMachine, kStored, L"V", regtype::Sz, abc);
       },
       L"V", RegStatus::Read, RegStatus::Read, L"abc", 'a', L""},
      {"expandable text stays unexpanded",
       [](auto& sim) {
         sim.Registry().PutValue(kHkeyLocalMachine, kStored, L"V", regtype::ExpandSz,
                                 {'%', 0, 't', 0, '%', 0});
       },
       L"V", RegStatus::Read, RegStatus::Read, L"%t%", '%', L""},
      {"no key", [](auto&) {}, L"V", RegStatus::Absent, RegStatus::Absent, L"", std::nullopt, L""},
      {"no value", [](auto& sim) { sim.Registry().PutKey(kHkeyLocalMachine, kStored); }, L"V",
       RegStatus::Absent, RegStatus::Absent, L"", std::nullopt, L""},
      {"a number is no text",
       [](auto& sim) { sim.Registry().PutDword(kHkeyLocalMachine, kStored, L"V", 2); }, L"V",
       RegStatus::Read, RegStatus::Unreadable, L"", 2, L""},
      {"0 bytes: the empty text, no first byte",
       [](auto& sim) {
         sim.Registry().PutValue(kHkeyLocalMachine, kStored, L"V", regtype::Sz, {});
       },
       L"V", RegStatus::Read, RegStatus::Read, L"", std::nullopt, L""},
      {"key that may not be opened",
       [](auto& sim) { sim.Registry().DenyAccess(kHkeyLocalMachine, kStored); }, L"V",
       RegStatus::Unreadable, RegStatus::Unreadable, L"", std::nullopt,
       L"RegOpenKeyExW failed - 5. Path: " + kKey},
      {"size query fails",
       [](auto& sim) {
         sim.Registry().PutDword(kHkeyLocalMachine, kStored, L"V", 2);
         sim.InjectFault("QueryValueEx", 1, err::InvalidData, true);
       },
       L"V", RegStatus::Unreadable, RegStatus::Unreadable, L"", std::nullopt,
       L"RegQueryValueExW failed - 13. Path: " + kKey + L"\\V"},
      {"value grew once between size and read: asked again",
       [&](auto& sim) {
         sim.Registry().PutValue(kHkeyLocalMachine, kStored, L"V", regtype::Sz, abc);
         sim.InjectFault("QueryValueEx", 2, err::MoreData, false);
       },
       L"V", RegStatus::Read, RegStatus::Read, L"abc", 'a', L""},
      {"value that never fits",
       [&](auto& sim) {
         sim.Registry().PutValue(kHkeyLocalMachine, kStored, L"V", regtype::Sz, abc);
         for (int call = 2; call < 10; ++call) sim.InjectFault("QueryValueEx", call, err::MoreData);
       },
       L"V", RegStatus::Unreadable, RegStatus::Unreadable, L"", std::nullopt,
       L"RegQueryValueExW failed - 234. Path: " + kKey + L"\\V"},
      {"no name asks nothing", [](auto&) {}, L"", RegStatus::Absent, RegStatus::Absent, L"",
       std::nullopt, L""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    {
      kvd::sim::SimMachine sim;
      kvd::test::SimLog log(sim);
      // The logger reads its settings from the registry at its first record: before the faults.
      kvd::reg::MachineValue(sim.Ports().registry, L"", L"");
      log.Take();
      c.arrange(sim);
      const kvd::reg::RegValue value =
          kvd::reg::MachineValue(sim.Ports().registry, kKey, c.valueName);
      EXPECT_EQ(value.status, c.value);
      EXPECT_EQ(value.FirstByte(), c.firstByte);
      const std::vector<std::wstring> records = log.Texts(L"DB");
      if (c.logged.empty()) {
        EXPECT_TRUE(records.empty()) << records.front();
      } else {
        EXPECT_EQ(records, std::vector<std::wstring>{c.logged});
      }
      EXPECT_EQ(sim.Registry().OpenHandleCount(), 0u);
    }
    kvd::sim::SimMachine sim;
    c.arrange(sim);
    const kvd::reg::RegText text = kvd::reg::MachineText(sim.Ports().registry, kKey, c.valueName);
    EXPECT_EQ(text.status, c.text);
    EXPECT_EQ(text.text, c.readText);
  }
}

TEST(RegistryRead, SubKeysInEnumerationOrder) {
  kvd::sim::SimMachine sim;
  for (const wchar_t* name : {L"b", L"A", L"c"}) {
    sim.Registry().PutKey(kHkeyLocalMachine, kStored + L"\\" + name);
  }
  sim.Registry().PutKey(kHkeyLocalMachine, kStored + L"\\" + std::wstring(255, L'x'));
  auto& registry = sim.Ports().registry;
  kvd::platform::HKey key = 0;
  ASSERT_EQ(registry.OpenKeyEx(kHkeyLocalMachine, kKey.c_str(), 0x20019 | kvd::reg::kView32, &key),
            0);
  EXPECT_EQ(kvd::reg::SubKeyNames(registry, key),
            (std::vector<std::wstring>{L"A", L"b", L"c", std::wstring(255, L'x')}));
  sim.InjectFault("EnumKeyEx", 2, err::AccessDenied);
  EXPECT_EQ(kvd::reg::SubKeyNames(registry, key), std::vector<std::wstring>{L"A"});
  registry.CloseKey(key);
}

}  // namespace
