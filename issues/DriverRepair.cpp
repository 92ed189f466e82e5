#include "issues/DriverRepair.h"

#include "repair/DriverRefresh.h"

bool DriverRepair::Refresh(kvd::platform::Platform& platform, const _DeviceDetails& device,
                           int& errorCode) const {
  errorCode = 0;
  const bool refreshed =
      refreshDrivers
          ? refreshDrivers(device, errorCode)
          : kvd::repair::RefreshDrivers(platform, device, kvd::repair::RefreshHost{}, errorCode);
  if (refreshed && runAgain) runAgain();
  return refreshed;
}
