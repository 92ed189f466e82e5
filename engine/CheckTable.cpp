#include "engine/CheckTable.h"

namespace {

unsigned FamilyBit(Family family) {
  switch (family) {
    case Family::Tarvel:
      return shows::Tarvel;
    case Family::Ostrel:
      return shows::Ostrel;
    case Family::Lumeq:
      return shows::Lumeq;
    case Family::AllInOne:
      break;
  }
  return shows::AllInOne;
}

bool InTable(int index) { return index >= 0 && index < kCheckCount; }

}  // namespace

Family FamilyOf(const DeviceDetails& device) {
  if (device.bTarvel) return Family::Tarvel;
  if (device.bOstrel) return Family::Ostrel;
  if (device.bLumeq) return Family::Lumeq;
  return Family::AllInOne;
}

bool Applies(const CheckTable& table, int index, const DeviceDetails& device,
             const std::function<bool()>& hasScanButton) {
  if (!InTable(index)) return false;
  const unsigned families = table[static_cast<std::size_t>(index)].families;
  if (!device.bTarvel && !device.bOstrel && !device.bLumeq) {
    if ((families & shows::AllInOne) != 0) return true;
    return (families & shows::AllInOneWithScanButton) != 0 && hasScanButton && hasScanButton();
  }
  if (device.bTarvel && (families & shows::Tarvel) == 0) return false;
  if (device.bOstrel && (families & shows::Ostrel) == 0) return false;
  if (device.bLumeq && (families & shows::Lumeq) == 0) return false;
  return true;
}

int IssueRow(const CheckTable& table, Family family, int index, bool frontPanel) {
  if (!InTable(index)) return -1;
  const CheckRow& row = table[static_cast<std::size_t>(index)];
  const bool runs = (row.families & FamilyBit(family)) != 0 ||
                    (family == Family::AllInOne && frontPanel &&
                     (row.families & shows::AllInOneWithScanButton) != 0);
  return runs ? row.pageRows[static_cast<std::size_t>(family)] : -1;
}

bool IsWatched(const CheckTable& table, int index) {
  return InTable(index) && table[static_cast<std::size_t>(index)].watched;
}
