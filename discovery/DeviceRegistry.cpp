#include "discovery/DeviceRegistry.h"

#include <array>

#include "logging/Trace.h"
#include "platform/api/Handles.h"
#include "platform/api/Text.h"
#include "system/Helper.h"

KVD_TRACE_SOURCE();

std::wstring CDeviceRegistry::ClassKey(const std::wstring& driverKey) {
  return std::wstring(kClassRoot) + driverKey;
}

std::wstring CDeviceRegistry::DeviceDataKey(const std::wstring& driverKey) {
  return ClassKey(driverKey) + L"\\Devicedata";
}

std::wstring CDeviceRegistry::ScanEventKey(const std::wstring& driverKey) {
  return ClassKey(driverKey) + L"\\Events\\scan";
}

std::wstring CDeviceRegistry::ModelKey(const std::wstring& model) {
  return std::wstring(kSuiteKey) + L"\\" + kvd::platform::ToLowerOrdinal(model);
}

std::optional<std::wstring> CDeviceRegistry::ClassText(const std::wstring& driverKey,
                                                       const wchar_t* name) {
  return m_util.ReadRegistryText(ClassKey(driverKey), name);
}

std::optional<std::wstring> CDeviceRegistry::DeviceDataText(const std::wstring& driverKey,
                                                            const wchar_t* name) {
  return m_util.ReadRegistryText(DeviceDataKey(driverKey), name);
}

std::optional<std::uint8_t> CDeviceRegistry::DeviceDataFirstByte(const std::wstring& driverKey,
                                                                 const wchar_t* name) {
  const auto bytes = m_util.ReadRegistryBytes(DeviceDataKey(driverKey), name);
  // An empty value has no first byte to read.
  if (!bytes || bytes->empty()) return std::nullopt;
  return bytes->front();
}

std::optional<std::wstring> CDeviceRegistry::ScanEventText(const std::wstring& driverKey,
                                                           const wchar_t* name) {
  return m_util.ReadRegistryText(ScanEventKey(driverKey), name);
}

std::optional<std::wstring> CDeviceRegistry::SuiteText(const wchar_t* name) {
  return m_util.ReadRegistryText(kSuiteKey, name);
}

std::optional<std::wstring> CDeviceRegistry::ScanFunctionKey(const std::wstring& model) {
  KVD_SCOPE(L"CDeviceRegistry::ScanFunctionKey");
  if (model.empty()) return std::nullopt;
  const std::wstring instances = ModelKey(model) + L"\\DeviceInstances";
  auto& registry = m_util.Ports().registry;
  auto key = kvd::platform::MakeUniqueHkey(registry);
  if (registry.OpenKeyEx(kvd::platform::kHkeyLocalMachine, instances.c_str(),
                         kvd::platform::sam::Read | kvd::platform::sam::Wow64_32Key,
                         key.put()) != 0) {
    KVD_LOG(DUDiduzuz::kind::Debug, L"No device instances registered. Path: %s", instances);
    return std::nullopt;
  }
  std::array<wchar_t, 256> name{};
  auto chars = static_cast<std::uint32_t>(name.size());
  if (registry.EnumKeyEx(key.get(), 0, name.data(), &chars, nullptr) != 0) {
    KVD_LOG(DUDiduzuz::kind::Debug, L"No device instance registered. Path: %s", instances);
    return std::nullopt;
  }
  return instances + L"\\" + std::wstring(name.data(), chars) + L"\\Functions\\Scan";
}

std::optional<std::wstring> CDeviceRegistry::ImagingClassIndex(const std::wstring& model) {
  const std::optional<std::wstring> key = ScanFunctionKey(model);
  if (!key) return std::nullopt;
  return m_util.ReadRegistryText(*key, L"ImagingClassIndex");
}
