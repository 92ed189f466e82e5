#include "discovery/DeviceRegistry.h"

#include "logging/Trace.h"
#include "platform/api/Handles.h"
#include "platform/api/Text.h"

KVD_TRACE_SOURCE();

using kvd::reg::MachineText;
using kvd::reg::RegText;

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

RegText CDeviceRegistry::ClassText(const std::wstring& driverKey, const wchar_t* name) {
  return MachineText(m_registry, ClassKey(driverKey), name);
}

RegText CDeviceRegistry::DeviceDataText(const std::wstring& driverKey, const wchar_t* name) {
  return MachineText(m_registry, DeviceDataKey(driverKey), name);
}

std::optional<std::uint8_t> CDeviceRegistry::DeviceDataFirstByte(const std::wstring& driverKey,
                                                                 const wchar_t* name) {
  return kvd::reg::MachineValue(m_registry, DeviceDataKey(driverKey), name).FirstByte();
}

RegText CDeviceRegistry::ScanEventText(const std::wstring& driverKey, const wchar_t* name) {
  return MachineText(m_registry, ScanEventKey(driverKey), name);
}

RegText CDeviceRegistry::SuiteText(const wchar_t* name) {
  return MachineText(m_registry, kSuiteKey, name);
}

std::optional<std::wstring> CDeviceRegistry::ScanFunctionKey(const std::wstring& model) {
  KVD_SCOPE(L"CDeviceRegistry::ScanFunctionKey");
  if (model.empty()) return std::nullopt;
  const std::wstring instances = ModelKey(model) + L"\\DeviceInstances";
  auto key = kvd::platform::MakeUniqueHkey(m_registry);
  const kvd::platform::LStatus opened =
      m_registry.OpenKeyEx(kvd::platform::kHkeyLocalMachine, instances.c_str(),
                           kvd::platform::sam::Read | kvd::reg::kView32, key.put());
  if (opened != 0) {
    KVD_LOG(DUDiduzuz::kind::Debug, L"No device instances registered. Path: %s", instances);
    return std::nullopt;
  }
  const std::vector<std::wstring> names = kvd::reg::SubKeyNames(m_registry, key.get());
  if (names.empty()) {
    KVD_LOG(DUDiduzuz::kind::Debug, L"No device instance registered. Path: %s", instances);
    return std::nullopt;
  }
  return instances + L"\\" + names.front() + L"\\Functions\\Scan";
}

RegText CDeviceRegistry::ImagingClassIndex(const std::wstring& model) {
  const std::optional<std::wstring> key = ScanFunctionKey(model);
  if (!key) return {};
  return MachineText(m_registry, *key, L"ImagingClassIndex");
}
