// What the service checks ask of the service control manager about one service, and their one
// repair: the answers only, so that each check keeps its own log texts and error codes.
#pragma once

#include <cstdint>

#include "platform/api/Platform.h"

namespace kvd::service {

inline constexpr std::uint32_t kGenericRead = 0x80000000;

enum class Answer {
  ManagerNotOpened,  // the service control manager cannot be opened
  ServiceNotOpened,  // the service is not there, or cannot be opened with full access
  NotQueried,        // its configuration or status cannot be had
  NotUsable,         // it is stopped, or disabled
  Usable,
};

// Opens the manager with `managerAccess` and the service with full access, reads its
// configuration in the two steps Windows wants and its status; every handle closed again.
Answer Ask(kvd::platform::Platform& platform, const wchar_t* name, std::uint32_t managerAccess);

enum class Repair {
  ManagerNotOpened,
  ServiceNotOpened,
  NotReconfigured,  // its start type cannot be changed
  NotStarted,
  Started,  // set to start automatically, and running
};

// Sets the service to start automatically and starts it. One that already runs counts as
// started: it is usable, which is what the repair is for.
Repair StartAutomatically(kvd::platform::Platform& platform, const wchar_t* name);

}  // namespace kvd::service
