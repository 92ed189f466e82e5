// discovery/: the maker's devices as Plug and Play and the registry describe them.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "platform/api/IRegistry.h"
#include "system/Registry.h"

// What the maker's drivers and imaging suite (Brevane) record about a device, read from HKLM in
// the 32-bit view. Each text tells an absent value from an unreadable one; what follows from
// either is the caller's.
class CDeviceRegistry {
 public:
  explicit CDeviceRegistry(kvd::platform::IRegistry& registry) : m_registry(registry) {}

  static constexpr const wchar_t* kClassRoot = L"SYSTEM\\CurrentControlSet\\Control\\Class\\";
  static constexpr const wchar_t* kSuiteKey = L"SOFTWARE\\Quvari\\Brevane";

  // The device class key of a driver key ("{GUID}\\0001"), its "Devicedata" sub-key (any case:
  // registry names compare without case) and its "Events\\scan" sub-key.
  static std::wstring ClassKey(const std::wstring& driverKey);
  static std::wstring DeviceDataKey(const std::wstring& driverKey);
  static std::wstring ScanEventKey(const std::wstring& driverKey);
  // The suite's key of a model: named by the lower-case model.
  static std::wstring ModelKey(const std::wstring& model);

  // "ProviderName", "FriendlyName", "MatchingDeviceId", "InfPath", "CreateFileName".
  kvd::reg::RegText ClassText(const std::wstring& driverKey, const wchar_t* name);
  // "ModelString", "ProductFolder", "PortID", "KLEDeviceID", "CrocanCLSID", "TwainDS",
  // "InstallRegPath", "InstallCLSID".
  kvd::reg::RegText DeviceDataText(const std::wstring& driverKey, const wchar_t* name);
  // The first byte of a number value ("HasScanButton", "TMASupported", "ADFSupported",
  // "LoadSettingsOnce"), whatever its type; nullopt when absent, unreadable or empty.
  std::optional<std::uint8_t> DeviceDataFirstByte(const std::wstring& driverKey,
                                                  const wchar_t* name);
  // "CmdLine", "DefaultHandler" of the scan event.
  kvd::reg::RegText ScanEventText(const std::wstring& driverKey, const wchar_t* name);
  // "InstallFolder", "ProgramDir", "ProfileWritePath".
  kvd::reg::RegText SuiteText(const wchar_t* name);

  // The model's one device instance:
  // "<suite>\\<model>\\DeviceInstances\\<instance>\\Functions\\Scan", or nullopt when the model or
  // its instance is not registered.
  std::optional<std::wstring> ScanFunctionKey(const std::wstring& model);
  // "ImagingClassIndex" of that key (absent when the key is not registered).
  kvd::reg::RegText ImagingClassIndex(const std::wstring& model);

 private:
  kvd::platform::IRegistry& m_registry;
};
