#pragma once

#include "engine/CheckTable.h"

// The checks of this version, in the manager's table order (index 0 to 12, id 1 to 13).
CheckTable ProgramCheckTable();
