// GUIDs across the edge: the port's plain Guid and the Win32 GUID, field by field.
#pragma once

#include "platform/win32/Windows.h"

#include <cstring>

#include "platform/api/IDevices.h"

namespace kvd::platform::win32 {

inline GUID ToGuid(const Guid& guid) {
  GUID out{};
  out.Data1 = guid.data1;
  out.Data2 = guid.data2;
  out.Data3 = guid.data3;
  std::memcpy(out.Data4, guid.data4.data(), sizeof out.Data4);
  return out;
}

inline Guid FromGuid(const GUID& guid) {
  Guid out;
  out.data1 = guid.Data1;
  out.data2 = guid.Data2;
  out.data3 = guid.Data3;
  std::memcpy(out.data4.data(), guid.Data4, sizeof guid.Data4);
  return out;
}

}  // namespace kvd::platform::win32
