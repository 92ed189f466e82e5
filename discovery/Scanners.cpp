#include "discovery/Scanners.h"

#include <array>

#include "discovery/DeviceRegistry.h"
#include "logging/Trace.h"
#include "platform/api/Handles.h"
#include "platform/api/Text.h"
#include "system/Helper.h"

KVD_TRACE_SOURCE();

namespace {

using namespace kvd::platform;
namespace kind = DUDiduzuz::kind;

std::wstring Trim(std::wstring_view text) {
  std::size_t begin = 0;
  std::size_t end = text.size();
  while (begin < end && (text[begin] == L' ' || text[begin] == L'\t')) ++begin;
  while (end > begin && (text[end - 1] == L' ' || text[end - 1] == L'\t')) --end;
  return std::wstring(text.substr(begin, end - begin));
}

std::wstring TrimmedLower(std::wstring_view text) { return ToLowerOrdinal(Trim(text)); }

std::wstring WithoutTrailingBackslashes(std::wstring text) {
  while (!text.empty() && text.back() == L'\\') text.pop_back();
  return text;
}

// The printer keys under the spooler's list, in enumeration order.
std::vector<std::wstring> PrinterNames(IRegistry& registry, HKey printers) {
  std::vector<std::wstring> names;
  for (std::uint32_t index = 0;; ++index) {
    std::array<wchar_t, 261> name{};
    auto chars = static_cast<std::uint32_t>(name.size());
    if (registry.EnumKeyEx(printers, index, name.data(), &chars, nullptr) != 0) break;
    names.emplace_back(name.data(), chars);
  }
  return names;
}

}  // namespace

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
  std::array<wchar_t, 261> value{};
  const std::uint32_t chars = m_platform.ini.GetPrivateProfileString(
      section, key, L"", value.data(), static_cast<std::uint32_t>(value.size()), file.c_str());
  return std::wstring(value.data(), chars);
}

std::wstring CScanners::GetModel(const std::wstring& driverKey) {
  KVD_SCOPE(L"CScanners::GetModel");
  CUtil util(m_platform);
  const auto model = CDeviceRegistry(util).DeviceDataText(driverKey, L"ModelString");
  if (!model) {
    KVD_LOG(kind::Debug, L"Failed to get Model from registry .");
    return {};
  }
  return *model;
}

bool CScanners::IsOstrelDevice(const std::wstring& driverKey, const std::wstring& description) {
  KVD_SCOPE(L"CScanners::IsOstrelDevice");
  std::array<wchar_t, 260> programs{};
  if (!hr::Succeeded(m_platform.files.GetFolderPath(csidl::ProgramFiles, programs.data()))) {
    return false;
  }
  std::wstring folder = WithoutTrailingBackslashes(programs.data());
  CUtil util(m_platform);
  // A 32-bit program is shown the 32-bit folder; the maker's software lives in the 64-bit one.
  const std::size_t x86 = folder.find(L"(x86)");
  if (util.IsWow64() && x86 != std::wstring::npos) folder = Trim(folder.substr(0, x86));
  folder += L"\\QV\\";
  const auto product = CDeviceRegistry(util).DeviceDataText(driverKey, L"ProductFolder");
  if (!product) return false;
  folder += *product;
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
  CUtil util(m_platform);
  for (const std::wstring& name : PrinterNames(registry, printers.get())) {
    if (TrimmedLower(name).find(L"fax") != std::wstring::npos) continue;
    const std::wstring path = std::wstring(kPrintersKey) + L"\\" + name;
    std::uint32_t type = 0;
    std::uint32_t size = 0;
    if (!util.ReadRegistryValue(path, L"Print Processor", &type, nullptr, &size)) continue;
    const auto processor = util.ReadRegistryText(path, L"Print Processor");
    if (!processor) {
      KVD_LOG(kind::Debug, L"Failed to get the Processor value from registry .Path : %s", path);
      continue;
    }
    if (processor->find(digits) == std::wstring::npos) continue;
    if (!util.ReadRegistryValue(path, L"Port", &type, nullptr, &size)) continue;
    const auto port = util.ReadRegistryText(path, L"Port");
    if (!port) {
      KVD_LOG(kind::Debug, L"Failed to get the Port value from registry.Path : %s", path);
      continue;
    }
    if (ToLowerOrdinal(*port).find(L"usb") != std::wstring::npos) continue;
    const std::wstring normalised = NormalisePort(*port);
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
  CUtil util(m_platform);
  const std::wstring product =
      TrimmedLower(CDeviceRegistry(util).DeviceDataText(driverKey, L"ProductFolder").value_or(L""));
  auto& registry = m_platform.registry;
  auto printers = MakeUniqueHkey(registry);
  if (registry.OpenKeyEx(kHkeyLocalMachine, kPrintersKey, sam::AllAccess | sam::Wow64_32Key,
                         printers.put()) != 0) {
    KVD_LOG(kind::Debug, L"Failed to open registry path.Path : %s", kPrintersKey);
    return {};
  }
  const std::wstring instance = TrimmedLower(instanceId);
  for (const std::wstring& name : PrinterNames(registry, printers.get())) {
    if (TrimmedLower(name).find(product) == std::wstring::npos) continue;
    const std::wstring path = std::wstring(kPrintersKey) + L"\\" + name;
    const auto readPort = util.ReadRegistryText(path, L"Port");
    if (!readPort) KVD_LOG(kind::Debug, L"Failed to open registry path.Path : %s", path);
    const std::wstring port = readPort.value_or(L"");

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
