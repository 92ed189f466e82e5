// The maker's scanner components: COM activation by class ID, and each method called through the
// virtual slot the components define (no header of theirs is needed, nor trusted).
#include "platform/win32/Windows.h"

#include <objbase.h>
#include <oleauto.h>

#include "platform/win32/ComSlots.h"
#include "platform/win32/Guids.h"
#include "platform/win32/Win32Platform.h"

namespace kvd::platform::win32 {

namespace {

IUnknown* AsUnknown(CrocanObject object) { return reinterpret_cast<IUnknown*>(object); }

HRESULT Create(const Guid& classId, const Guid& interfaceId, CrocanObject* out) {
  *out = 0;
  const GUID clsid = ToGuid(classId);
  const GUID iid = ToGuid(interfaceId);
  void* object = nullptr;
  const HRESULT result = ::CoCreateInstance(clsid, nullptr, CLSCTX_ALL, iid, &object);
  if (SUCCEEDED(result)) *out = reinterpret_cast<CrocanObject>(object);
  return result;
}

HRESULT Query(CrocanObject object, const Guid& interfaceId, CrocanObject* out) {
  *out = 0;
  if (object == 0) return E_POINTER;
  const GUID iid = ToGuid(interfaceId);
  void* other = nullptr;
  const HRESULT result = AsUnknown(object)->QueryInterface(iid, &other);
  if (SUCCEEDED(result)) *out = reinterpret_cast<CrocanObject>(other);
  return result;
}

// The components' 32-bit status value as the methods write it.
ULONG* Status(std::uint32_t* status) {
  static_assert(sizeof(ULONG) == sizeof(std::uint32_t));
  *status = 0;
  return reinterpret_cast<ULONG*>(status);
}

}  // namespace

HResult Win32Crocan::CoInitialize() { return ::CoInitialize(nullptr); }

void Win32Crocan::CoUninitialize() { ::CoUninitialize(); }

HResult Win32Crocan::ClassIdFromString(const wchar_t* text, Guid* classId) {
  *classId = Guid{};
  GUID clsid{};
  const HRESULT result = ::CLSIDFromString(const_cast<LPOLESTR>(text), &clsid);
  if (SUCCEEDED(result)) *classId = FromGuid(clsid);
  return result;
}

HResult Win32Crocan::CreateScannerManager(CrocanObject* manager) {
  return Create(crocan::ClsidScannerManager, crocan::IidScannerManager, manager);
}

HResult Win32Crocan::GetScannerByFriendlyName2(CrocanObject manager, const wchar_t* friendlyName,
                                               std::uint8_t* description) {
  BSTR name = ::SysAllocString(friendlyName);
  if (name == nullptr && friendlyName != nullptr && *friendlyName != L'\0') return E_OUTOFMEMORY;
  const HRESULT result = CallSlot(manager, 10, name, static_cast<void*>(description));
  ::SysFreeString(name);
  return result;
}

HResult Win32Crocan::CreateScanner(const Guid& classId, CrocanObject* scanner) {
  return Create(classId, crocan::IidScanner, scanner);
}

HResult Win32Crocan::QueryExtension(CrocanObject scanner, CrocanObject* extension) {
  return Query(scanner, crocan::IidScannerExt, extension);
}

HResult Win32Crocan::QueryFeeder(CrocanObject scanner, CrocanObject* feeder) {
  return Query(scanner, crocan::IidScannerAdf, feeder);
}

HResult Win32Crocan::OpenScannerSession(CrocanObject scanner, const wchar_t* name,
                                        std::uint16_t value, std::uint32_t* session,
                                        std::uint32_t* status) {
  *session = 0;
  return CallSlot(scanner, 3, name, static_cast<USHORT>(value), reinterpret_cast<ULONG*>(session),
                  Status(status));
}

HResult Win32Crocan::Call(CrocanObject object, crocan::SessionCall call, std::uint32_t session,
                          std::uint32_t* status) {
  return CallSlot(object, crocan::SlotOf(call), static_cast<ULONG>(session), Status(status));
}

HResult Win32Crocan::LockScanner(CrocanObject scanner, std::uint32_t session, std::uint32_t flags,
                                 std::uint32_t timeoutMs, std::uint32_t* status) {
  return CallSlot(scanner, 5, static_cast<ULONG>(session), static_cast<ULONG>(flags),
                  static_cast<ULONG>(timeoutMs), Status(status));
}

HResult Win32Crocan::GetLampStatus(CrocanObject scanner, std::uint32_t session,
                                   std::uint8_t* lampOn, std::uint32_t* status) {
  *lampOn = 0;
  return CallSlot(scanner, 7, static_cast<ULONG>(session), static_cast<BYTE*>(lampOn),
                  Status(status));
}

HResult Win32Crocan::GetScannerCapabilities(CrocanObject scanner, std::uint32_t session,
                                            std::uint8_t* capabilities, std::uint32_t* status) {
  return CallSlot(scanner, 10, static_cast<ULONG>(session), static_cast<void*>(capabilities),
                  Status(status));
}

HResult Win32Crocan::GetBufferInfo(CrocanObject scanner, std::uint32_t session,
                                   const std::uint8_t* parameters, std::uint8_t* bufferInfo,
                                   std::uint32_t* status) {
  return CallSlot(scanner, 11, static_cast<ULONG>(session), static_cast<const void*>(parameters),
                  static_cast<void*>(bufferInfo), Status(status));
}

HResult Win32Crocan::SetScannerParameters(CrocanObject scanner, std::uint32_t session,
                                          const std::uint8_t* parameters, std::uint32_t* status) {
  return CallSlot(scanner, 14, static_cast<ULONG>(session), static_cast<const void*>(parameters),
                  Status(status));
}

HResult Win32Crocan::SetGammaTable(CrocanObject scanner, std::uint32_t session,
                                   std::uint32_t tableBytes, const std::uint8_t* red,
                                   const std::uint8_t* green, const std::uint8_t* blue,
                                   std::uint32_t* status) {
  return CallSlot(scanner, 15, static_cast<ULONG>(session), static_cast<ULONG>(tableBytes),
                  static_cast<const void*>(red), static_cast<const void*>(green),
                  static_cast<const void*>(blue), Status(status));
}

HResult Win32Crocan::ReadScan(CrocanObject scanner, std::uint32_t session, std::uint8_t* buffer,
                              std::uint32_t count, std::uint32_t* status) {
  return CallSlot(scanner, 18, static_cast<ULONG>(session), static_cast<void*>(buffer),
                  static_cast<ULONG>(count), Status(status));
}

HResult Win32Crocan::ReadScanData(CrocanObject scanner, std::uint32_t session, std::uint8_t* buffer,
                                  std::uint32_t count, std::uint32_t* read, std::uint32_t* status) {
  *read = 0;
  return CallSlot(scanner, 19, static_cast<ULONG>(session), static_cast<void*>(buffer),
                  static_cast<ULONG>(count), reinterpret_cast<ULONG*>(read), Status(status));
}

HResult Win32Crocan::ExtensionCall(CrocanObject extension, std::uint32_t session,
                                   std::uint32_t value, std::uint32_t* status) {
  return CallSlot(extension, 3, static_cast<ULONG>(session), static_cast<ULONG>(value),
                  Status(status));
}

HResult Win32Crocan::GetADFScannerCapabilities(CrocanObject feeder, std::uint32_t session,
                                               std::uint8_t* capabilities, std::uint32_t* status) {
  return CallSlot(feeder, 3, static_cast<ULONG>(session), static_cast<void*>(capabilities),
                  Status(status));
}

HResult Win32Crocan::ADFIsReady(CrocanObject feeder, std::uint32_t session, std::uint8_t* ready,
                                std::uint32_t* status) {
  *ready = 0;
  return CallSlot(feeder, 5, static_cast<ULONG>(session), static_cast<BYTE*>(ready),
                  Status(status));
}

void Win32Crocan::Release(CrocanObject object) {
  if (object != 0) AsUnknown(object)->Release();
}

}  // namespace kvd::platform::win32
