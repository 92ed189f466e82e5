#pragma once

#include <cstddef>
#include <functional>

#include "engine/CheckTable.h"
#include "issues/WiaWrap.h"

// What the checks need from the running program beyond the ports: how many devices the list
// holds, and the progress window of a WIA transfer. Left empty (tests of the engine): one
// device, no progress window.
struct CheckServices {
  std::function<std::size_t()> deviceCount;
  WiaWrap::ProgressFactory scanProgress;
};

// The checks of this version, in the manager's table order (index 0 to 12, id 1 to 13).
CheckTable ProgramCheckTable(const CheckServices& services = {});
