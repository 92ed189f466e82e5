// The device record: one installed scanning device as enumeration found it.
#pragma once

#include <string>

// Copied by value into every worker and page that needs it. A record belongs to at most one
// family (bTarvel, bOstrel, bLumeq); none set is the all-in-one default.
struct DeviceDetails {
  std::wstring strHardwareId;
  std::wstring strDeviceDesc;
  std::wstring strFriendlyName;
  std::wstring strInstanceId;
  std::wstring strService;
  std::wstring strClass;
  std::wstring strDriverKey;
  std::wstring strProvider;
  std::wstring strPort;
  std::wstring strModel;
  std::wstring strIpAddress;
  std::wstring strParentId;
  bool bNetwork = false;
  bool bTarvel = false;
  bool bOstrel = false;
  bool bLumeq = false;
  std::wstring strPnpName;
};

// The name the rest of the program and its documentation know the record by. A leading
// underscore and a capital are reserved for the implementation in C++, so the type itself is
// DeviceDetails and this is only an alias of it.
using _DeviceDetails = DeviceDetails;  // NOLINT(bugprone-reserved-identifier)
