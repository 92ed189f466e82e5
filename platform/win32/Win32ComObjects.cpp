// Components known by their class and interface IDs, called by virtual slot.
#include "platform/win32/Windows.h"

#include <objbase.h>
#include <oleauto.h>

#include "platform/win32/ComSlots.h"
#include "platform/win32/Guids.h"
#include "platform/win32/Win32Platform.h"

namespace kvd::platform::win32 {

namespace {

IUnknown* AsUnknown(ComObject object) { return reinterpret_cast<IUnknown*>(object); }

}  // namespace

HResult Win32ComObjects::CoInitialize() { return ::CoInitialize(nullptr); }

void Win32ComObjects::CoUninitialize() { ::CoUninitialize(); }

HResult Win32ComObjects::CreateInstance(const Guid& classId, std::uint32_t context,
                                        const Guid& interfaceId, ComObject* object) {
  *object = 0;
  const GUID clsid = ToGuid(classId);
  const GUID iid = ToGuid(interfaceId);
  void* created = nullptr;
  const HRESULT result = ::CoCreateInstance(clsid, nullptr, context, iid, &created);
  if (SUCCEEDED(result)) *object = reinterpret_cast<ComObject>(created);
  return result;
}

HResult Win32ComObjects::QueryInterface(ComObject object, const Guid& interfaceId,
                                        ComObject* other) {
  *other = 0;
  if (object == 0) return E_POINTER;
  const GUID iid = ToGuid(interfaceId);
  void* answer = nullptr;
  const HRESULT result = AsUnknown(object)->QueryInterface(iid, &answer);
  if (SUCCEEDED(result)) *other = reinterpret_cast<ComObject>(answer);
  return result;
}

void Win32ComObjects::Release(ComObject object) {
  if (object != 0) AsUnknown(object)->Release();
}

HResult Win32ComObjects::CallForObject(ComObject object, unsigned slot, ComObject* out) {
  *out = 0;
  IUnknown* answer = nullptr;
  const HRESULT result = CallSlot(object, slot, &answer);
  if (SUCCEEDED(result)) *out = reinterpret_cast<ComObject>(answer);
  return result;
}

HResult Win32ComObjects::CallForNumber(ComObject object, unsigned slot, std::int32_t* out) {
  *out = 0;
  LONG answer = 0;
  const HRESULT result = CallSlot(object, slot, &answer);
  if (SUCCEEDED(result)) *out = static_cast<std::int32_t>(answer);
  return result;
}

HResult Win32ComObjects::CallForItem(ComObject object, unsigned slot, std::int32_t index,
                                     ComObject* out) {
  *out = 0;
  IUnknown* answer = nullptr;
  const HRESULT result = CallSlot(object, slot, static_cast<LONG>(index), &answer);
  if (SUCCEEDED(result)) *out = reinterpret_cast<ComObject>(answer);
  return result;
}

HResult Win32ComObjects::CallForText(ComObject object, unsigned slot, std::wstring* out) {
  out->clear();
  BSTR answer = nullptr;
  const HRESULT result = CallSlot(object, slot, &answer);
  if (SUCCEEDED(result) && answer != nullptr) out->assign(answer, ::SysStringLen(answer));
  ::SysFreeString(answer);
  return result;
}

}  // namespace kvd::platform::win32
