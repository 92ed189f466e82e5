#pragma once

#include <string>
#include <vector>

#include "engine/KVDIssue.h"
#include "platform/api/Platform.h"

// The maker's scanning devices as Plug and Play and the registry describe them. This version
// derives the properties that enumeration cannot read from the device node: the model, the
// Ostrel platform, and the network address of Lumeq and Ostrel devices.
class CScanners {
 public:
  explicit CScanners(kvd::platform::Platform& platform) : m_platform(platform) {}

  static constexpr const wchar_t* kPrintersKey =
      L"SYSTEM\\CurrentControlSet\\Control\\Print\\Printers";

  // "ModelString" of the device's "Devicedata", or empty.
  std::wstring GetModel(const std::wstring& driverKey);
  // The product's config.ini names a model that the device's description contains.
  bool IsOstrelDevice(const std::wstring& driverKey, const std::wstring& description);
  // The address of a networked printer whose print processor names the model digits and whose
  // address no device of `devices` has yet.
  bool GetIPAddress(const std::vector<_DeviceDetails>& devices, const std::wstring& digits,
                    std::wstring& address);
  // The address an Ostrel device's NetworkDevices file records for it, or empty.
  std::wstring GetIPForQ7Devices(const std::wstring& instanceId, const std::wstring& driverKey);

  // A spooler port as an address: leading 'I', 'P' and '_' removed, then the part before the
  // last '_', trimmed ("IP_192.168.1.20_1" gives "192.168.1.20").
  static std::wstring NormalisePort(std::wstring_view port);

 private:
  std::wstring ReadIni(const std::wstring& file, const wchar_t* section, const wchar_t* key);

  kvd::platform::Platform& m_platform;
};
