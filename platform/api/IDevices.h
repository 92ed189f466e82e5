#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "platform/api/Types.h"

namespace kvd::platform {

// GUID as plain fields.
struct Guid {
  std::uint32_t data1 = 0;
  std::uint16_t data2 = 0;
  std::uint16_t data3 = 0;
  std::array<std::uint8_t, 8> data4{};
  bool operator==(const Guid&) const = default;
};

// "{6bdd1fc6-810f-11d0-bec7-08002be2092f}": the form of class key names, lower-case.
std::wstring GuidToText(const Guid& guid);
// Accepts that form in any case, with or without the braces; nullopt for anything else.
std::optional<Guid> GuidFromText(std::wstring_view text);

// The setup classes the program names.
namespace devclass {
inline constexpr Guid Image = {
    0x6bdd1fc6, 0x810f, 0x11d0, {0xbe, 0xc7, 0x08, 0x00, 0x2b, 0xe2, 0x09, 0x2f}};
inline constexpr Guid Usb = {
    0x36fc9e60, 0xc465, 0x11cf, {0x80, 0x56, 0x44, 0x45, 0x53, 0x54, 0x00, 0x00}};
inline constexpr Guid Printer = {
    0x4d36e979, 0xe325, 0x11ce, {0xbf, 0xc1, 0x08, 0x00, 0x2b, 0xe1, 0x03, 0x18}};
}  // namespace devclass

using DevInfoSet = std::uintptr_t;  // HDEVINFO
inline constexpr DevInfoSet kInvalidDevInfoSet = ~static_cast<DevInfoSet>(0);
using DevInst = std::uint32_t;      // DEVINST
using DevMachine = std::uintptr_t;  // HMACHINE; 0 is the local machine

// SP_DEVINFO_DATA without its size field. `reserved` is SetupAPI's own reference to the element
// (Wine finds the element by it alone): handed back unchanged.
struct DevInfoData {
  Guid classGuid;
  DevInst devInst = 0;
  std::uintptr_t reserved = 0;
};

namespace digcf {
inline constexpr std::uint32_t Default = 0x01;
inline constexpr std::uint32_t Present = 0x02;
inline constexpr std::uint32_t AllClasses = 0x04;
}  // namespace digcf

// Device state changes (SP_PROPCHANGE_PARAMS) and install flags.
namespace dics {
inline constexpr std::uint32_t Enable = 0x01;
inline constexpr std::uint32_t Disable = 0x02;
inline constexpr std::uint32_t FlagGlobal = 0x01;
inline constexpr std::uint32_t FlagConfigSpecific = 0x02;
inline constexpr std::uint32_t DifPropertyChange = 0x12;  // DIF_PROPERTYCHANGE
inline constexpr std::uint32_t DiNeedRestart = 0x00000080;
inline constexpr std::uint32_t DiNeedReboot = 0x00000100;
}  // namespace dics

// CM_PROB_* numbers the program names.
namespace cmprob {
inline constexpr std::uint32_t Disabled = 22;
}  // namespace cmprob

// SPDRP_* property codes.
namespace spdrp {
inline constexpr std::uint32_t DeviceDesc = 0x00;
inline constexpr std::uint32_t HardwareId = 0x01;
inline constexpr std::uint32_t CompatibleIds = 0x02;
inline constexpr std::uint32_t Service = 0x04;
inline constexpr std::uint32_t Class = 0x07;
inline constexpr std::uint32_t ClassGuid = 0x08;
inline constexpr std::uint32_t Driver = 0x09;
inline constexpr std::uint32_t Mfg = 0x0B;
inline constexpr std::uint32_t FriendlyName = 0x0C;
}  // namespace spdrp

// CONFIGRET codes and node status bits.
namespace cr {
inline constexpr std::uint32_t Success = 0x00;
inline constexpr std::uint32_t InvalidPointer = 0x03;
inline constexpr std::uint32_t InvalidDevNode = 0x05;
inline constexpr std::uint32_t NoSuchDevNode = 0x0D;
inline constexpr std::uint32_t BufferSmall = 0x1A;
inline constexpr std::uint32_t CallNotImplemented = 0x34;
inline constexpr std::uint32_t Failure = 0x13;
inline constexpr std::uint32_t ReenumerateRetryInstallation = 0x00000002;  // CM_REENUMERATE_...
inline constexpr std::uint32_t DnHasProblem = 0x00000400;                  // DN_HAS_PROBLEM
inline constexpr std::uint32_t DnStarted = 0x00000008;                     // DN_STARTED
inline constexpr std::uint32_t DnDriverLoaded = 0x00000002;
}  // namespace cr

// The Plug and Play device tree (SetupAPI and the Configuration Manager). Calls answering bool
// set the last error on failure: ERROR_NO_MORE_ITEMS (259) past the last element,
// ERROR_INSUFFICIENT_BUFFER (122) with the size needed, ERROR_INVALID_DATA (13) for a property
// the node does not have, ERROR_INVALID_HANDLE (6) for a set that is not open.
class IDevices {
 public:
  virtual ~IDevices() = default;

  // SetupDiGetClassDevsExW(classGuid (null: none), enumerator (null: none), nullptr, flags,
  // nullptr, nullptr (local machine), nullptr). kInvalidDevInfoSet on failure.
  virtual DevInfoSet GetClassDevs(const Guid* classGuid, const wchar_t* enumerator,
                                  std::uint32_t flags) = 0;
  // SetupDiEnumDeviceInfo(set, index, out).
  virtual bool EnumDeviceInfo(DevInfoSet set, std::uint32_t index, DevInfoData* out) = 0;
  // SetupDiGetDeviceRegistryPropertyW(set, element, property, type, buffer, bytes, required):
  // buffer may be null with bytes 0 to ask for the size.
  virtual bool GetDeviceRegistryProperty(DevInfoSet set, const DevInfoData& element,
                                         std::uint32_t property, std::uint32_t* type,
                                         std::uint8_t* buffer, std::uint32_t bytes,
                                         std::uint32_t* required) = 0;
  // SetupDiGetDeviceInstanceIdW(set, element, buffer, chars, required): required counts the NUL.
  virtual bool GetDeviceInstanceId(DevInfoSet set, const DevInfoData& element, wchar_t* buffer,
                                   std::uint32_t chars, std::uint32_t* required) = 0;
  // SetupDiGetDeviceInfoListDetailW(set, detail): the machine handle of the set.
  virtual bool GetDeviceInfoListDetail(DevInfoSet set, DevMachine* machine) = 0;
  // SetupDiClassGuidsFromNameExW(name, guids, size, required, nullptr (local), nullptr).
  virtual bool ClassGuidsFromName(const wchar_t* className, Guid* guids, std::uint32_t size,
                                  std::uint32_t* required) = 0;
  // SetupDiDestroyDeviceInfoList(set).
  virtual bool DestroyDeviceInfoList(DevInfoSet set) = 0;

  // CM_Get_Device_IDW(devInst, buffer, chars, 0): CONFIGRET; CR_BUFFER_SMALL when the id does
  // not fit (as much as fits is copied; the NUL only when there is room). Wine truncates and
  // answers CR_SUCCESS.
  virtual std::uint32_t GetDeviceId(DevInst devInst, wchar_t* buffer, std::uint32_t chars) = 0;
  // CM_Get_DevNode_Status_Ex(status, problem, devInst, 0, machine): CONFIGRET. Wine answers
  // CR_SUCCESS and writes neither output: start both at 0.
  virtual std::uint32_t GetDevNodeStatus(std::uint32_t* status, std::uint32_t* problem,
                                         DevInst devInst, DevMachine machine) = 0;
  // SetupDiSetClassInstallParamsW(set, element, SP_PROPCHANGE_PARAMS {header {size 8,
  // DIF_PROPERTYCHANGE}, stateChange, scope, hwProfile}, its size).
  virtual bool SetPropertyChangeParams(DevInfoSet set, const DevInfoData& element,
                                       std::uint32_t stateChange, std::uint32_t scope,
                                       std::uint32_t hwProfile) = 0;
  // SetupDiCallClassInstaller(installFunction, set, element).
  virtual bool CallClassInstaller(std::uint32_t installFunction, DevInfoSet set,
                                  const DevInfoData& element) = 0;
  // SetupDiGetDeviceInstallParamsW(set, element, params): its Flags.
  virtual bool GetDeviceInstallFlags(DevInfoSet set, const DevInfoData& element,
                                     std::uint32_t* flags) = 0;
  // CM_Locate_DevNode_ExW(devInst, nullptr (the root), CM_LOCATE_DEVNODE_NORMAL, nullptr (local
  // machine)): CONFIGRET.
  virtual std::uint32_t LocateRootDevNode(DevInst* devInst) = 0;
  // CM_Reenumerate_DevNode_Ex(devInst, flags, nullptr (local machine)): CONFIGRET.
  virtual std::uint32_t ReenumerateDevNode(DevInst devInst, std::uint32_t flags) = 0;
};

}  // namespace kvd::platform
