#pragma once

#include <functional>
#include <memory>

#include "app/CheckTable.h"

namespace kvd::test {

// The program's check table with every slot built by `make` (called with the slot's index), so
// that a test decides what each check does while the table's rows stay the program's own.
inline CheckTable ScriptedChecks(std::function<std::unique_ptr<CKVDIssue>(int index)> make) {
  CheckTable table = ProgramCheckTable();
  for (std::size_t index = 0; index < table.size(); ++index) {
    table[index].factory = [make, index](platform::Platform&) {
      return make(static_cast<int>(index));
    };
  }
  return table;
}

}  // namespace kvd::test
