// The driver refresh as a check's repair: the manager's (the instruction dialog over the page,
// the helper owned by the page) and, once it worked, the check it is at run once more.
#pragma once

#include <functional>

#include "discovery/DeviceDetails.h"
#include "platform/api/Platform.h"

struct DriverRepair {
  std::function<bool(const _DeviceDetails& device, int& errorCode)> refreshDrivers;
  std::function<void()> runAgain;

  // Left empty: the refresh without instructions or owner, and no re-run. True when the
  // refresh worked (the re-run asked for); otherwise errorCode holds the refresh's code.
  bool Refresh(kvd::platform::Platform& platform, const _DeviceDetails& device,
               int& errorCode) const;
};
