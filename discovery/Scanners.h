#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "discovery/DeviceDetails.h"
#include "platform/api/Platform.h"

// The maker's scanning devices as Plug and Play and the registry describe them: the USB devices
// by the vendor id fragment "vid_2f8d", the network devices by the manufacturer of their root
// node, each with its family (Tarvel, Lumeq, Ostrel or the all-in-one default), model and
// address. Runs on the manager's enumeration thread; a device reached by two paths is listed
// twice.
namespace kvd::discovery {
// A text property of a device node (SPDRP_*), read in two steps: the first string when it is a
// list; nullopt when the node has none (the size query reports nothing).
std::optional<std::wstring> PropertyText(platform::IDevices& devices, platform::DevInfoSet set,
                                         const platform::DevInfoData& element,
                                         std::uint32_t property);
}  // namespace kvd::discovery

class CScanners {
 public:
  explicit CScanners(kvd::platform::Platform& platform) : m_platform(platform) {}

  static constexpr const wchar_t* kEnumRoot = L"SYSTEM\\CurrentControlSet\\Enum\\";
  static constexpr const wchar_t* kPrintersKey =
      L"SYSTEM\\CurrentControlSet\\Control\\Print\\Printers";

  // The whole enumeration, appending to `devices` in discovery order. Always true.
  bool EnumerateScanners(std::vector<_DeviceDetails>& devices);
  // The nodes of one enumerator, plugged in or not, whose first hardware id contains `filter`
  // (trimmed and lower-cased; an empty filter takes every node), appended to `list`.
  void ListDevices(const wchar_t* enumerator, const std::wstring& filter,
                   std::vector<_DeviceDetails>& list);
  // One USB candidate: a Tarvel device itself, or the Image interfaces of a composite device.
  void GetUSBScanners(const _DeviceDetails& parent, std::vector<_DeviceDetails>& devices,
                      const std::vector<_DeviceDetails>& candidates);
  // One root node: a network scanner of the maker's.
  void GetNetWorkScanners(const _DeviceDetails& candidate, std::vector<_DeviceDetails>& devices);
  void FillTarvelDetails(const _DeviceDetails& record, std::vector<_DeviceDetails>& devices);
  void FillLumeqDetails(const _DeviceDetails& record, std::vector<_DeviceDetails>& devices);
  void FillNetworkLumeqDetails(const _DeviceDetails& record, std::vector<_DeviceDetails>& devices);

  // The first run of decimal digits of a "MatchingDeviceId" (empty when there is none).
  static std::wstring ModelDigits(std::wstring_view matchingDeviceId);

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
  // "ProviderName" and "FriendlyName" of a USB record's class key; false when a provider is
  // required and missing.
  bool FillNames(_DeviceDetails& record, bool providerRequired);
  std::wstring ReadIni(const std::wstring& file, const wchar_t* section, const wchar_t* key);

  kvd::platform::Platform& m_platform;
};
