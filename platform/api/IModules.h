#pragma once

#include <cstdint>
#include <string>

#include "platform/api/Types.h"

namespace kvd::platform {

// An exported entry of a loaded library as a plain number; 0 when the library has no such export.
// Only the port that handed it out calls through it.
using ProcAddress = std::uintptr_t;

// A scan-settings object of the maker's device scan-settings library, as a plain number; 0 is
// none. Each one made is handed back to the library's destroy export.
using ScanSettings = std::uintptr_t;

// Libraries loaded at run time (kernel32). Failing calls set the last error.
class IModules {
 public:
  virtual ~IModules() = default;
  // GetSystemDirectoryW(buffer, chars): the length without the NUL, or the size needed with the
  // NUL when the buffer is too small, 0 on failure.
  virtual std::uint32_t GetSystemDirectory(wchar_t* buffer, std::uint32_t chars) = 0;
  // GetWindowsDirectoryW(buffer, chars), answering as GetSystemDirectory.
  virtual std::uint32_t GetWindowsDirectory(wchar_t* buffer, std::uint32_t chars) = 0;
  // LoadLibraryW(path): 0 on failure (ERROR_MOD_NOT_FOUND 126 for a missing file).
  virtual ModuleHandle LoadLibrary(const wchar_t* path) = 0;
  // GetProcAddress(module, name): 0 when the library does not export it (ERROR_PROC_NOT_FOUND).
  virtual ProcAddress GetProcAddress(ModuleHandle module, const char* name) = 0;
  // FreeLibrary(module).
  virtual bool FreeLibrary(ModuleHandle module) = 0;
  // Calls devmgr.dll's DeviceProperties_RunDLLW(nullptr, the program's instance, commandLine,
  // show) through the address GetProcAddress gave: it shows a device's property sheet and
  // returns when the user closes it.
  virtual void CallDevicePropertiesRunDll(ProcAddress entry, const wchar_t* commandLine,
                                          int show) = 0;
  // Calls difxapi.dll's DriverPackageUninstallW(infPath, flags, nullptr (no install-log entry),
  // needReboot) through the address GetProcAddress gave: ERROR_SUCCESS or a Win32 error code.
  virtual std::uint32_t CallDriverPackageUninstall(ProcAddress entry, const wchar_t* infPath,
                                                   std::uint32_t flags, bool* needReboot) = 0;

  // The maker's device scan-settings library (qvdevset.dll), through the addresses GetProcAddress
  // gave for its two exports, and the plain object it makes (a table of three operations, not a
  // COM interface). CreateAiODeviceScanSettings(BSTR of deviceId), the BSTR freed after the
  // call: the object or 0. Throws std::bad_alloc when the BSTR cannot be made.
  virtual ScanSettings CallCreateScanSettings(ProcAddress entry, const std::wstring& deviceId) = 0;
  // DestroyAiODeviceScanSettings(object).
  virtual void CallDestroyScanSettings(ProcAddress entry, ScanSettings object) = 0;
  // The object's operations in slot order: OpenSession, CloseSession, GetDeviceShortcutList. The
  // list the last one hands out is freed here (CoTaskMemFree) whatever it answers; only its
  // count is passed on.
  virtual bool ScanSettingsOpenSession(ScanSettings object) = 0;
  virtual void ScanSettingsCloseSession(ScanSettings object) = 0;
  virtual bool ScanSettingsShortcuts(ScanSettings object, std::uint32_t* count) = 0;
};

}  // namespace kvd::platform
