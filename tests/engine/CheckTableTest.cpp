// The program's check table against the rules the diagnosis knows it by: which family runs
// which check, the rows of the diagnosis page, and the watched slots.
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "app/CheckTable.h"
#include "platform/api/Text.h"

namespace {

// The family rule as the diagnosis states it, condition by condition: one hit skips the check.
bool SkippedByTheRule(const DeviceDetails& d, int i, bool scanButton) {
  const auto in = [i](std::initializer_list<int> set) { return std::set<int>(set).count(i) > 0; };
  bool skip = false;
  if (d.bTarvel && in({4, 8, 9, 10, 11})) skip = true;
  if (d.bLumeq && in({2, 4, 6, 7, 8, 9, 12})) skip = true;
  if (d.bOstrel && in({2, 4, 7, 8, 10, 11, 12})) skip = true;
  if (!d.bOstrel && i == 9) skip = true;
  if (!d.bLumeq && (i == 10 || i == 11)) skip = true;
  if (!d.bTarvel && !d.bOstrel && !d.bLumeq && i == 12 && !scanButton) skip = true;
  return skip;
}

TEST(CheckTable, EveryCombinationOfFlagsRunsWhatTheFamilyRuleSays) {
  const CheckTable table = ProgramCheckTable();
  for (int flags = 0; flags < 8; ++flags) {
    for (const bool scanButton : {false, true}) {
      DeviceDetails device;
      device.bTarvel = (flags & 1) != 0;
      device.bOstrel = (flags & 2) != 0;
      device.bLumeq = (flags & 4) != 0;
      for (int index = 0; index < kCheckCount; ++index) {
        SCOPED_TRACE("flags " + std::to_string(flags) + ", button " + std::to_string(scanButton) +
                     ", check " + std::to_string(index));
        int asked = 0;
        const bool runs = Applies(table, index, device, [&] {
          ++asked;
          return scanButton;
        });
        EXPECT_EQ(runs, !SkippedByTheRule(device, index, scanButton));
        // Only the front-panel check of an all-in-one device needs the driver's registry.
        EXPECT_EQ(asked, flags == 0 && index == 12 ? 1 : 0);
      }
    }
  }
}

// Each family's rows are its checks in table order, numbered from 0 with no gap.
TEST(CheckTable, PageRowsAreEachFamilysChecksInTableOrder) {
  const CheckTable table = ProgramCheckTable();
  struct Case {
    const char* name;
    Family family;
    bool frontPanel;
    std::vector<int> checks;  // by row
  };
  const Case cases[] = {
      {"all-in-one", Family::AllInOne, true, {0, 1, 2, 3, 4, 5, 6, 7, 8, 12}},
      {"all-in-one without a scan button", Family::AllInOne, false, {0, 1, 2, 3, 4, 5, 6, 7, 8}},
      {"Tarvel", Family::Tarvel, true, {0, 1, 2, 3, 5, 6, 7, 12}},
      {"Ostrel", Family::Ostrel, true, {0, 1, 3, 5, 6, 9}},
      {"Lumeq", Family::Lumeq, true, {0, 1, 3, 5, 10, 11}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<int> byRow(c.checks.size(), -1);
    for (int index = 0; index < kCheckCount; ++index) {
      const int row = IssueRow(table, c.family, index, c.frontPanel);
      if (row < 0) continue;
      ASSERT_LT(static_cast<std::size_t>(row), byRow.size()) << "check " << index;
      byRow[static_cast<std::size_t>(row)] = index;
    }
    EXPECT_EQ(byRow, c.checks);
  }
  EXPECT_EQ(IssueRow(table, Family::Lumeq, 13), -1);
  EXPECT_EQ(IssueRow(table, Family::Lumeq, -1), -1);
}

TEST(CheckTable, IdsNamesAndTheWatchedScannerChecks) {
  const CheckTable table = ProgramCheckTable();
  const wchar_t* const names[] = {L"CONNECTIVITY", L"DEVICEMANAGER", L"DRIVER",   L"WIA",
                                  L"DASHRA",       L"TWAIN",         L"REGISTRY", L"QVSCANFLOW",
                                  L"BVM",          L"QVSCAN",        L"QVSCAN",   L"LUMEQ_SERVICE",
                                  L"FRONT_PANEL"};
  std::vector<int> watched;
  for (int index = 0; index < kCheckCount; ++index) {
    const CheckRow& row = table[static_cast<std::size_t>(index)];
    EXPECT_EQ(row.id, index + 1);
    EXPECT_EQ(std::wstring(row.nameKey), names[index]);
    if (IsWatched(table, index)) watched.push_back(index);
  }
  EXPECT_EQ(watched, (std::vector<int>{2, 3, 5}));
  EXPECT_FALSE(IsWatched(table, 13));
}

TEST(CheckTable, TheFamilyOfARecordForItsPageRows) {
  DeviceDetails device;
  EXPECT_EQ(FamilyOf(device), Family::AllInOne);
  device.bLumeq = true;
  EXPECT_EQ(FamilyOf(device), Family::Lumeq);
  device.bOstrel = true;
  EXPECT_EQ(FamilyOf(device), Family::Ostrel);
  device.bTarvel = true;
  EXPECT_EQ(FamilyOf(device), Family::Tarvel);
}

}  // namespace
