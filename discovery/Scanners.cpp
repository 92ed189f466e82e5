#include "discovery/Scanners.h"

#include <algorithm>
#include <array>
#include <optional>

#include "discovery/DeviceRegistry.h"
#include "logging/Trace.h"
#include "platform/api/Handles.h"
#include "platform/api/Text.h"
#include "strings/StringTable.h"
#include "system/Helper.h"
#include "system/Registry.h"

KVD_TRACE_SOURCE();

namespace {

using namespace kvd::platform;
using kvd::discovery::PropertyText;
using kvd::reg::MachineText;
using kvd::reg::RegStatus;
using kvd::reg::RegText;
namespace kind = DUDiduzuz::kind;

std::wstring TrimmedLower(std::wstring_view text) { return ToLowerOrdinal(Trim(text)); }

std::wstring AfterLastBackslash(const std::wstring& text) {
  const std::size_t last = text.rfind(L'\\');
  return last == std::wstring::npos ? text : text.substr(last + 1);
}

bool IsLumeqDescription(const std::wstring& description) {
  return TrimmedLower(description).find(L"lumeq") != std::wstring::npos ||
         Trim(description).find(L"LQ") != std::wstring::npos;
}

}  // namespace

std::optional<std::wstring> kvd::discovery::PropertyText(IDevices& devices, DevInfoSet set,
                                                         const DevInfoData& element,
                                                         std::uint32_t property) {
  std::uint32_t type = 0;
  std::uint32_t required = 0;
  devices.GetDeviceRegistryProperty(set, element, property, &type, nullptr, 0, &required);
  if (required == 0) return std::nullopt;
  std::vector<std::uint8_t> bytes(required);
  if (!devices.GetDeviceRegistryProperty(set, element, property, &type, bytes.data(), required,
                                         &required)) {
    return std::nullopt;
  }
  // Up to the first NUL: the first string of a list, whether or not the list is terminated.
  return FromUtf16Bytes(bytes.data(), std::min<std::size_t>(required, bytes.size()));
}

bool CScanners::EnumerateScanners(std::vector<_DeviceDetails>& devices) {
  KVD_SCOPE(L"CScanners::EnumerateScanners");
  KVD_LOG(kind::Info, L"Enumerates scanners.");
  std::vector<_DeviceDetails> usb;
  for (const wchar_t* enumerator : {L"USB", L"DOT4", L"DOT4USB", L"DOT4PRT"}) {
    ListDevices(enumerator, L"vid_2f8d", usb);
  }
  KVD_LOG(kind::Info, L"Searching installed USB scanners...");
  for (const auto& candidate : usb) GetUSBScanners(candidate, devices, usb);
  std::vector<_DeviceDetails> network;
  ListDevices(L"root", L"", network);
  KVD_LOG(kind::Info, L"Searching installed network scanners...");
  for (const auto& candidate : network) GetNetWorkScanners(candidate, devices);
  return true;
}

void CScanners::ListDevices(const wchar_t* enumerator, const std::wstring& filter,
                            std::vector<_DeviceDetails>& list) {
  KVD_SCOPE(L"CScanners::ListDevices");
  IDevices& nodes = m_platform.devices;
  // Every installed node, plugged in or not: presence is the connection check's question.
  auto set =
      MakeUniqueDevInfoList(nodes, nodes.GetClassDevs(nullptr, enumerator, digcf::AllClasses));
  if (!set.valid()) return;
  DevInfoData element;
  for (std::uint32_t index = 0; nodes.EnumDeviceInfo(set.get(), index, &element); ++index) {
    const auto hardwareId = PropertyText(nodes, set.get(), element, spdrp::HardwareId);
    if (!hardwareId) continue;
    const std::wstring first = TrimmedLower(*hardwareId);
    if (first.find(filter) == std::wstring::npos) continue;
    _DeviceDetails record;
    record.strHardwareId = first;
    record.strDeviceDesc = PropertyText(nodes, set.get(), element, spdrp::DeviceDesc).value_or(L"");
    record.strPnpName =
        PropertyText(nodes, set.get(), element, spdrp::FriendlyName).value_or(record.strDeviceDesc);
    record.strService = PropertyText(nodes, set.get(), element, spdrp::Service).value_or(L"");
    record.strClass = PropertyText(nodes, set.get(), element, spdrp::Class).value_or(L"");
    record.strDriverKey = PropertyText(nodes, set.get(), element, spdrp::Driver).value_or(L"");
    std::array<wchar_t, 260> id{};
    if (nodes.GetDeviceId(element.devInst, id.data(), static_cast<std::uint32_t>(id.size())) ==
        cr::Success) {
      // Bounded by the buffer: an id that fills it exactly comes without its NUL.
      record.strInstanceId.assign(id.begin(), std::find(id.begin(), id.end(), L'\0'));
    }
    list.push_back(std::move(record));
  }
}

void CScanners::GetUSBScanners(const _DeviceDetails& parent, std::vector<_DeviceDetails>& devices,
                               const std::vector<_DeviceDetails>& candidates) {
  KVD_SCOPE(L"CScanners::GetUSBScanners");
  if (TrimmedLower(parent.strDeviceDesc).find(L"qv tarvel") != std::wstring::npos) {
    FillTarvelDetails(parent, devices);
    return;
  }
  if (parent.strService.find(L"usbccgp") == std::wstring::npos &&
      parent.strService.find(L"usbhub") == std::wstring::npos) {
    return;
  }
  const std::wstring enumKey = kEnumRoot + parent.strInstanceId;
  const RegText prefix = MachineText(m_platform.registry, enumKey, L"ParentIdPrefix");
  // An empty prefix is contained in every instance id: it would make every interface of every
  // device a child of this one.
  if (!prefix.IsRead() || prefix.text.empty()) {
    KVD_LOG(
        kind::Debug,
        L"Failed to get Parentidprefix from registry for Enumerating the USB Scanners.Path : %s",
        enumKey);
    return;
  }
  const std::wstring lowerPrefix = ToLowerOrdinal(prefix.text);
  for (const auto& candidate : candidates) {
    if (ToLowerOrdinal(candidate.strInstanceId).find(lowerPrefix) == std::wstring::npos) continue;
    _DeviceDetails child = candidate;
    child.strParentId = AfterLastBackslash(parent.strInstanceId);
    if (!EqualsNoCase(child.strClass, L"Image")) continue;
    KVD_LOG(kind::Debug, L"Found device.Device Desc: %s", TrimmedLower(child.strDeviceDesc));
    if (IsLumeqDescription(child.strDeviceDesc)) {
      FillLumeqDetails(child, devices);
      return;
    }
    FillNames(child, false);
    child.strPort = GlobalLag.GetString(L"USB");
    child.strModel = GetModel(child.strDriverKey);
    child.bNetwork = false;
    child.bTarvel = false;
    child.bLumeq = false;
    child.bOstrel = IsOstrelDevice(child.strDriverKey, child.strDeviceDesc);
    if (child.bOstrel) child.strModel = child.strDeviceDesc;
    KVD_LOG(kind::Info, L"Scanner found : %s Connected at : USB", child.strFriendlyName);
    devices.push_back(std::move(child));
  }
}

bool CScanners::FillNames(_DeviceDetails& record, bool providerRequired) {
  KVD_SCOPE(L"CScanners::FillNames");
  CDeviceRegistry registry(m_platform.registry);
  const RegText provider = registry.ClassText(record.strDriverKey, L"ProviderName");
  if (!provider.IsRead() && (providerRequired || provider.status == RegStatus::Unreadable)) {
    KVD_LOG(kind::Debug,
            L"Failed to get ProviderName from registry for Enumerating the USB Scanners.");
    if (providerRequired) return false;
  }
  record.strProvider = provider.text;
  const RegText name = registry.ClassText(record.strDriverKey, L"FriendlyName");
  if (name.status == RegStatus::Unreadable) {
    KVD_LOG(kind::Debug,
            L"Failed to get FriendlyName from registry for Enumerating the USB Scanners.");
    record.strFriendlyName = record.strDeviceDesc;
  } else {
    record.strFriendlyName = name.text;
  }
  return true;
}

void CScanners::FillTarvelDetails(const _DeviceDetails& record,
                                  std::vector<_DeviceDetails>& devices) {
  KVD_SCOPE(L"CScanners::FillTarvelDetails");
  KVD_LOG(kind::Info, L"Gets the installed Tarvels");
  _DeviceDetails device = record;
  if (!FillNames(device, true)) return;
  // A Tarvel on the network still reaches the PC through its USB node.
  device.strPort = GlobalLag.GetString(
      device.strInstanceId.find(L"_N") != std::wstring::npos ? L"NETWORK" : L"USB");
  device.bNetwork = false;
  device.strModel = GetModel(device.strDriverKey);
  device.strParentId = device.strInstanceId;
  device.bTarvel = true;
  device.bOstrel = false;
  device.bLumeq = false;
  KVD_LOG(kind::Info, L"Scanner found : %s Connected at : USB", device.strFriendlyName);
  devices.push_back(std::move(device));
}

void CScanners::FillLumeqDetails(const _DeviceDetails& record,
                                 std::vector<_DeviceDetails>& devices) {
  KVD_SCOPE(L"CScanners::FillLumeqDetails");
  KVD_LOG(kind::Info, L"Gets the installed Lumeqs");
  _DeviceDetails device = record;
  if (!FillNames(device, true)) return;
  device.bNetwork = false;
  device.bTarvel = false;
  device.bOstrel = false;
  device.bLumeq = true;
  device.strPort = GlobalLag.GetString(L"USB");
  device.strModel = device.strDeviceDesc;
  device.strParentId = device.strInstanceId;
  KVD_LOG(kind::Info, L"Scanner found : %s Connected at : USB", device.strFriendlyName);
  devices.push_back(std::move(device));
}

void CScanners::GetNetWorkScanners(const _DeviceDetails& candidate,
                                   std::vector<_DeviceDetails>& devices) {
  KVD_SCOPE(L"CScanners::GetNetWorkScanners");
  if (!EqualsNoCase(Trim(candidate.strClass), L"Image") &&
      !EqualsNoCase(Trim(candidate.strService), L"StillCam")) {
    return;
  }
  const std::wstring enumKey = kEnumRoot + candidate.strInstanceId;
  const RegText maker = MachineText(m_platform.registry, enumKey, L"Mfg");
  if (!maker.IsRead()) {
    KVD_LOG(kind::Debug,
            L"Failed to get ProviderName from registry for Enumerating the Network Scanners.");
    return;
  }
  // Read from the node's key itself, not through the device-installation interface: Windows 7
  // and later store it as "@oem12.inf,%mfg%;Quvari", of which only the text after ';' is shown.
  const std::wstring mfg = TrimmedLower(StoredDisplayText(maker.text));
  if (mfg.find(L"qv") == std::wstring::npos && mfg.find(L"quvari") == std::wstring::npos) return;
  _DeviceDetails device = candidate;
  device.strProvider = mfg;
  const std::wstring parameters = enumKey + L"\\Device Parameters";
  // The class key's value first, the node's own parameters when that cannot be read.
  auto fromClassOrNode = [&](const std::wstring& classKey, const wchar_t* name,
                             const std::wstring& fallback) {
    const RegText value = MachineText(m_platform.registry, classKey, name);
    if (value.IsRead()) return value.text;
    if (value.status == RegStatus::Absent) return std::wstring();
    return MachineText(m_platform.registry, parameters, name).Or(fallback);
  };
  device.strFriendlyName = fromClassOrNode(CDeviceRegistry::ClassKey(device.strDriverKey),
                                           L"FriendlyName", device.strDeviceDesc);
  KVD_LOG(kind::Debug, L"Found device.Device Desc: %s", TrimmedLower(device.strDeviceDesc));
  if (IsLumeqDescription(device.strDeviceDesc)) {
    FillNetworkLumeqDetails(device, devices);
    return;
  }
  device.strIpAddress =
      fromClassOrNode(CDeviceRegistry::DeviceDataKey(device.strDriverKey), L"PortID", L"");
  device.strPort = device.strIpAddress;
  device.strModel = GetModel(device.strDriverKey);
  device.bTarvel = false;
  device.bLumeq = false;
  device.bNetwork = true;
  device.bOstrel = IsOstrelDevice(device.strDriverKey, device.strDeviceDesc);
  if (device.bOstrel) {
    const std::wstring ip = GetIPForQ7Devices(device.strInstanceId, device.strDriverKey);
    if (!ip.empty()) {
      device.strIpAddress = ip;
      device.strPort = ip;
    }
    device.strModel = device.strDeviceDesc;
  }
  KVD_LOG(kind::Info, L"Scanner found : %s Connected at : %s", device.strFriendlyName,
          device.strIpAddress);
  devices.push_back(std::move(device));
}

std::wstring CScanners::ModelDigits(std::wstring_view matchingDeviceId) {
  auto isDigit = [](wchar_t c) { return c >= L'0' && c <= L'9'; };
  std::size_t start = 0;
  while (start < matchingDeviceId.size() && !isDigit(matchingDeviceId[start])) ++start;
  std::size_t end = start;
  while (end < matchingDeviceId.size() && isDigit(matchingDeviceId[end])) ++end;
  return std::wstring(matchingDeviceId.substr(start, end - start));
}

void CScanners::FillNetworkLumeqDetails(const _DeviceDetails& record,
                                        std::vector<_DeviceDetails>& devices) {
  KVD_SCOPE(L"CScanners::FillNetworkLumeqDetails");
  _DeviceDetails device = record;
  device.strModel = device.strDeviceDesc;
  device.bNetwork = true;
  device.bLumeq = true;
  device.bTarvel = false;
  device.bOstrel = false;
  CDeviceRegistry registry(m_platform.registry);
  const RegText port = registry.DeviceDataText(device.strDriverKey, L"PortID");
  if (port.status != RegStatus::Absent) {
    device.strPort = port.text;
    device.strIpAddress = device.strPort;
    devices.push_back(std::move(device));
    return;
  }
  const RegText matching = registry.ClassText(device.strDriverKey, L"MatchingDeviceId");
  if (!matching.IsRead()) {
    KVD_LOG(kind::Debug,
            L"Failed to get the MatchingDEviceID from registry while enumerating network scanner.");
    return;
  }
  std::wstring address;
  if (GetIPAddress(devices, Trim(ModelDigits(matching.text)), address)) {
    device.strPort = address;
  } else {
    KVD_LOG(kind::Debug, L"Failed to get the IP Address of the Lumeq device: %s",
            device.strDeviceDesc);
    device.strPort.clear();
  }
  device.strIpAddress = device.strPort;
  devices.push_back(std::move(device));
}

std::wstring CScanners::NormalisePort(std::wstring_view port) {
  std::size_t start = 0;
  while (start < port.size() &&
         (port[start] == L'I' || port[start] == L'P' || port[start] == L'_')) {
    ++start;
  }
  std::wstring_view rest = port.substr(start);
  const std::size_t last = rest.rfind(L'_');
  if (last != std::wstring_view::npos) rest = rest.substr(0, last);
  return Trim(rest);
}

std::wstring CScanners::ReadIni(const std::wstring& file, const wchar_t* section,
                                const wchar_t* key) {
  return ProfileString(m_platform.ini, section, key, file, 261);
}

std::wstring CScanners::GetModel(const std::wstring& driverKey) {
  KVD_SCOPE(L"CScanners::GetModel");
  const RegText model =
      CDeviceRegistry(m_platform.registry).DeviceDataText(driverKey, L"ModelString");
  if (!model.IsRead()) {
    KVD_LOG(kind::Debug, L"Failed to get Model from registry .");
    return {};
  }
  return model.text;
}

bool CScanners::IsOstrelDevice(const std::wstring& driverKey, const std::wstring& description) {
  KVD_SCOPE(L"CScanners::IsOstrelDevice");
  std::array<wchar_t, 260> programs{};
  if (!hr::Succeeded(m_platform.files.GetFolderPath(csidl::ProgramFiles, programs.data()))) {
    return false;
  }
  std::wstring folder = WithoutTrailingBackslashes(programs.data());
  // A 32-bit program is shown the 32-bit folder; the maker's software lives in the 64-bit one.
  const std::size_t x86 = folder.find(L"(x86)");
  if (CUtil(m_platform).IsWow64() && x86 != std::wstring::npos) {
    folder = Trim(folder.substr(0, x86));
  }
  folder += L"\\QV\\";
  const RegText product =
      CDeviceRegistry(m_platform.registry).DeviceDataText(driverKey, L"ProductFolder");
  if (!product.IsRead()) return false;
  folder += product.text;
  const std::wstring model = Trim(ReadIni(folder + L"\\config.ini", L"DeviceInfo", L"ModelName"));
  if (model.empty()) return false;
  return TrimmedLower(description).find(ToLowerOrdinal(model)) != std::wstring::npos;
}

bool CScanners::GetIPAddress(const std::vector<_DeviceDetails>& devices, const std::wstring& digits,
                             std::wstring& address) {
  KVD_SCOPE(L"CScanners::GetIPAddress");
  auto& registry = m_platform.registry;
  auto printers = MakeUniqueHkey(registry);
  if (registry.OpenKeyEx(kHkeyLocalMachine, kPrintersKey, sam::AllAccess | sam::Wow64_32Key,
                         printers.put()) != 0) {
    KVD_LOG(kind::Debug, L"Failed to open registry path.Path : %s", kPrintersKey);
    return false;
  }
  // Without model digits every print processor would match: no printer can be told apart.
  if (digits.empty()) return false;
  for (const std::wstring& name : kvd::reg::SubKeyNames(registry, printers.get())) {
    if (TrimmedLower(name).find(L"fax") != std::wstring::npos) continue;
    const std::wstring path = std::wstring(kPrintersKey) + L"\\" + name;
    const RegText processor = MachineText(registry, path, L"Print Processor");
    if (processor.status == RegStatus::Absent) continue;
    if (processor.status == RegStatus::Unreadable) {
      KVD_LOG(kind::Debug, L"Failed to get the Processor value from registry .Path : %s", path);
      continue;
    }
    if (processor.text.find(digits) == std::wstring::npos) continue;
    const RegText port = MachineText(registry, path, L"Port");
    if (port.status == RegStatus::Absent) continue;
    if (port.status == RegStatus::Unreadable) {
      KVD_LOG(kind::Debug, L"Failed to get the Port value from registry.Path : %s", path);
      continue;
    }
    if (ToLowerOrdinal(port.text).find(L"usb") != std::wstring::npos) continue;
    const std::wstring normalised = NormalisePort(port.text);
    bool inUse = false;
    for (const auto& device : devices) {
      if (EqualsNoCase(Trim(device.strIpAddress), normalised)) inUse = true;
    }
    if (inUse) continue;
    address = normalised;
    return true;
  }
  return false;
}

std::wstring CScanners::GetIPForQ7Devices(const std::wstring& instanceId,
                                          const std::wstring& driverKey) {
  KVD_SCOPE(L"CScanners::GetIPForQ7Devices");
  const std::wstring product = TrimmedLower(
      CDeviceRegistry(m_platform.registry).DeviceDataText(driverKey, L"ProductFolder").Or(L""));
  auto& registry = m_platform.registry;
  auto printers = MakeUniqueHkey(registry);
  if (registry.OpenKeyEx(kHkeyLocalMachine, kPrintersKey, sam::AllAccess | sam::Wow64_32Key,
                         printers.put()) != 0) {
    KVD_LOG(kind::Debug, L"Failed to open registry path.Path : %s", kPrintersKey);
    return {};
  }
  const std::wstring instance = TrimmedLower(instanceId);
  for (const std::wstring& name : kvd::reg::SubKeyNames(registry, printers.get())) {
    if (TrimmedLower(name).find(product) == std::wstring::npos) continue;
    const std::wstring path = std::wstring(kPrintersKey) + L"\\" + name;
    const RegText readPort = MachineText(registry, path, L"Port");
    if (!readPort.IsRead()) KVD_LOG(kind::Debug, L"Failed to open registry path.Path : %s", path);
    const std::wstring port = readPort.text;

    std::array<wchar_t, 260> common{};
    if (!hr::Succeeded(m_platform.files.GetFolderPath(csidl::CommonAppData, common.data()))) {
      KVD_LOG(kind::Error, L"SHGetSpecialFolderPath API failed");
    }
    std::wstring file = WithoutTrailingBackslashes(common.data());
    file += L"\\QV\\";
    file += product;
    file += L"\\NetworkDevices\\";
    file += port;
    file += L".ini";
    const std::wstring recorded = TrimmedLower(ReadIni(file, L"ScannerInfo", L"DeviceInstanceId"));
    if (recorded.empty()) {
      KVD_LOG(kind::Error, L"Reading DeviceInstanceKey  from the configuration file API failed");
      // An empty id would be contained in every instance id: it names no device.
      continue;
    }
    if (instance.find(recorded) == std::wstring::npos) continue;
    std::wstring ip = Trim(ReadIni(file, L"DeviceInfo", L"IPAddress"));
    if (ip.empty()) {
      KVD_LOG(kind::Error, L"Reading IP Address from the configuration file failed API failed");
    }
    KVD_LOG(kind::Info, L"IP:%s", ip);
    return ip;
  }
  return {};
}
