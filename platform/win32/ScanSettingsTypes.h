// The shape of the maker's device scan-settings library (qvdevset.dll) as the program calls it
// and as the tests' own library answers it: two plain exports taking one argument each, and an
// object whose table holds three operations in this order (no destructor in it: the destroy
// export ends the object).
#pragma once

#include "platform/win32/Windows.h"
// BSTR, SysAllocString and CoTaskMemFree, left out by WIN32_LEAN_AND_MEAN.
#include <objbase.h>
#include <oleauto.h>

namespace kvd::platform::win32 {

class AiODeviceScanSettings {
 public:
  virtual bool OpenSession() = 0;
  virtual void CloseSession() = 0;
  // The list is the library's memory, given back with CoTaskMemFree; the count is its length.
  virtual bool GetDeviceShortcutList(void** list, unsigned long* count) = 0;

 protected:
  AiODeviceScanSettings() = default;
  ~AiODeviceScanSettings() = default;
  AiODeviceScanSettings(const AiODeviceScanSettings&) = default;
  AiODeviceScanSettings& operator=(const AiODeviceScanSettings&) = default;
};

using CreateAiODeviceScanSettingsFn = AiODeviceScanSettings*(__cdecl*)(BSTR deviceId);
using DestroyAiODeviceScanSettingsFn = void(__cdecl*)(AiODeviceScanSettings* object);

inline constexpr const char* kCreateScanSettings = "CreateAiODeviceScanSettings";
inline constexpr const char* kDestroyScanSettings = "DestroyAiODeviceScanSettings";

}  // namespace kvd::platform::win32
