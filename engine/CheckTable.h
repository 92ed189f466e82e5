// The checks of a diagnosis: one row per slot of the manager's table, the one place that says
// which check runs for which device family, in which row of the diagnosis page, watched or not,
// and what builds it. Adding a check is a row here (filled in by app/) and a class in issues/.
#pragma once

#include <array>
#include <cstddef>
#include <functional>
#include <memory>

#include "discovery/DeviceDetails.h"
#include "engine/KVDIssue.h"
#include "platform/api/Platform.h"

// The device families, in the order of the table's page-row columns. A record with no family
// flag is an all-in-one device.
enum class Family : std::size_t { AllInOne, Tarvel, Ostrel, Lumeq };
inline constexpr std::size_t kFamilyCount = 4;

// Which families a check runs for, as bits of CheckRow::families.
namespace shows {
inline constexpr unsigned AllInOne = 1u << 0;
inline constexpr unsigned Tarvel = 1u << 1;
inline constexpr unsigned Ostrel = 1u << 2;
inline constexpr unsigned Lumeq = 1u << 3;
// All-in-one devices only when their driver records a front-panel scan button.
inline constexpr unsigned AllInOneWithScanButton = 1u << 4;
}  // namespace shows

// Builds a slot's check; every slot of a table has one.
using CheckFactory = std::function<std::unique_ptr<CKVDIssue>(kvd::platform::Platform&)>;

struct CheckRow {
  int id = 0;                    // 1 to 13, the slot's index + 1
  const wchar_t* nameKey = L"";  // the string-table key of the check's name
  bool watched = false;          // its worker is handed to the watchdog
  unsigned families = 0;         // shows::*
  // The row the check takes on the diagnosis page for each family (Family order); -1 where it
  // does not run. Rows are the checks' ranks among those that run for the family.
  std::array<int, kFamilyCount> pageRows{};
  CheckFactory factory;
};

inline constexpr int kCheckCount = 13;
using CheckTable = std::array<CheckRow, kCheckCount>;

// Slots that other parts of the program ask about by index.
inline constexpr int kDriverCheck = 2;
inline constexpr int kWindowsScanCheck = 3;
inline constexpr int kTwainCheck = 5;

// The family of a record. Enumeration sets at most one flag; should a record carry several, the
// first of Tarvel, Ostrel, Lumeq decides its page rows (Applies asks every flag it carries).
Family FamilyOf(const DeviceDetails& device);

// Whether check `index` runs for `device`: for every family flag the record carries, that family
// runs it; with none, the all-in-one column decides, and a check shown only with a scan button
// asks `hasScanButton` (called only then).
bool Applies(const CheckTable& table, int index, const DeviceDetails& device,
             const std::function<bool()>& hasScanButton);

// The diagnosis page's row of check `index` for `family`, -1 when it has none; with
// `frontPanel` false an all-in-one device shows no scan-button-only row.
int IssueRow(const CheckTable& table, Family family, int index, bool frontPanel = true);

// Whether the worker of check `index` is handed to the watchdog.
bool IsWatched(const CheckTable& table, int index);
