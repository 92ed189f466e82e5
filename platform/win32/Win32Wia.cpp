// The WIA 1.0 port: the COM calls it names, with the interface pointers as plain numbers.
#include "platform/win32/Windows.h"

#include <objbase.h>
#include <wia.h>

#include <cstring>
#include <new>

#include "platform/win32/Guids.h"
#include "platform/win32/Win32Platform.h"

namespace kvd::platform::win32 {

static_assert(wia::DipDevId == WIA_DIP_DEV_ID && wia::DipDevType == WIA_DIP_DEV_TYPE &&
              wia::DipDevName == WIA_DIP_DEV_NAME);
static_assert(wia::IpaFormat == WIA_IPA_FORMAT && wia::IpaTymed == WIA_IPA_TYMED);
static_assert(wia::TymedFile == TYMED_FILE && wia::VtI4 == VT_I4 && wia::VtBstr == VT_BSTR);
static_assert(wia::MsgDataHeader == IT_MSG_DATA_HEADER && wia::MsgData == IT_MSG_DATA &&
              wia::MsgStatus == IT_MSG_STATUS && wia::MsgTermination == IT_MSG_TERMINATION &&
              wia::MsgNewPage == IT_MSG_NEW_PAGE);
static_assert(wia::StatusTransferFromDevice == IT_STATUS_TRANSFER_FROM_DEVICE &&
              wia::StatusProcessingData == IT_STATUS_PROCESSING_DATA &&
              wia::StatusTransferToClient == IT_STATUS_TRANSFER_TO_CLIENT);
static_assert(hr::False == S_FALSE && hr::Pointer == E_POINTER && hr::OutOfMemory == E_OUTOFMEMORY);

namespace {

template <class Interface>
Interface* As(WiaObject object) {
  return reinterpret_cast<Interface*>(object);
}
template <class Interface>
WiaObject Of(Interface* pointer) {
  return reinterpret_cast<WiaObject>(pointer);
}

// The program's IWiaDataCallback: a COM object of this transfer that hands each band on. COM
// interfaces have no virtual destructor: the object deletes itself in Release.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wnon-virtual-dtor"
class DataCallback final : public IWiaDataCallback {
 public:
  explicit DataCallback(IWiaTransferCallback& target) : target_(target) {}

  HRESULT WINAPI QueryInterface(REFIID riid, void** out) override {
    if (out == nullptr) return E_POINTER;
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IWiaDataCallback)) {
      *out = static_cast<IWiaDataCallback*>(this);
      AddRef();
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  ULONG WINAPI AddRef() override { return static_cast<ULONG>(InterlockedIncrement(&references_)); }
  ULONG WINAPI Release() override {
    const LONG left = InterlockedDecrement(&references_);
    if (left == 0) delete this;
    return static_cast<ULONG>(left);
  }
  HRESULT WINAPI BandedDataCallback(LONG message, LONG status, LONG percent, LONG offset,
                                    LONG length, LONG, LONG, BYTE* buffer) override {
    WiaBand band;
    band.message = message;
    band.status = status;
    band.percentComplete = percent;
    band.offset = offset;
    band.length = length;
    band.data = buffer;
    if (message == IT_MSG_DATA_HEADER && buffer != nullptr &&
        length >= static_cast<LONG>(sizeof(WIA_DATA_CALLBACK_HEADER))) {
      WIA_DATA_CALLBACK_HEADER header{};
      std::memcpy(&header, buffer, sizeof header);
      band.headerFormat = FromGuid(header.guidFormatID);
      band.headerBufferSize = header.lBufferSize;
    }
    return target_.BandedDataCallback(band);
  }

 private:
  ~DataCallback() = default;
  IWiaTransferCallback& target_;
  LONG references_ = 1;
};
#pragma GCC diagnostic pop

}  // namespace

HResult Win32Wia::CoInitialize() { return ::CoInitialize(nullptr); }

void Win32Wia::CoUninitialize() { ::CoUninitialize(); }

HResult Win32Wia::CreateDevMgr(WiaObject* manager) {
  IWiaDevMgr* created = nullptr;
  const HRESULT result = ::CoCreateInstance(CLSID_WiaDevMgr, nullptr, CLSCTX_ALL, IID_IWiaDevMgr,
                                            reinterpret_cast<void**>(&created));
  *manager = SUCCEEDED(result) ? Of(created) : 0;
  return result;
}

HResult Win32Wia::CreateDevice(WiaObject manager, const wchar_t* deviceId, WiaObject* root) {
  BSTR id = ::SysAllocString(deviceId);
  IWiaItem* item = nullptr;
  const HRESULT result = As<IWiaDevMgr>(manager)->CreateDevice(id, &item);
  ::SysFreeString(id);
  *root = SUCCEEDED(result) ? Of(item) : 0;
  return result;
}

HResult Win32Wia::SelectDeviceDlg(WiaObject manager, WindowHandle parent, std::int32_t deviceType,
                                  std::int32_t flags, WiaObject* root) {
  IWiaItem* item = nullptr;
  const HRESULT result = As<IWiaDevMgr>(manager)->SelectDeviceDlg(
      reinterpret_cast<HWND>(parent), deviceType, flags, nullptr, &item);
  *root = result == S_OK ? Of(item) : 0;
  if (result != S_OK && item != nullptr) item->Release();
  return result;
}

HResult Win32Wia::EnumChildItems(WiaObject item, WiaObject* enumerator) {
  IEnumWiaItem* walk = nullptr;
  const HRESULT result = As<IWiaItem>(item)->EnumChildItems(&walk);
  *enumerator = SUCCEEDED(result) ? Of(walk) : 0;
  return result;
}

HResult Win32Wia::GetCount(WiaObject enumerator, std::uint32_t* count) {
  ULONG items = 0;
  const HRESULT result = As<IEnumWiaItem>(enumerator)->GetCount(&items);
  *count = items;
  return result;
}

HResult Win32Wia::Next(WiaObject enumerator, WiaObject* item, std::uint32_t* fetched) {
  IWiaItem* next = nullptr;
  ULONG got = 0;
  const HRESULT result = As<IEnumWiaItem>(enumerator)->Next(1, &next, &got);
  *item = got == 1 ? Of(next) : 0;
  *fetched = got;
  return result;
}

HResult Win32Wia::DeviceDlg(WiaObject item, WindowHandle parent, std::int32_t flags,
                            std::int32_t intent, std::vector<WiaObject>* items) {
  items->clear();
  LONG count = 0;
  IWiaItem** array = nullptr;
  const HRESULT result =
      As<IWiaItem>(item)->DeviceDlg(reinterpret_cast<HWND>(parent), flags, intent, &count, &array);
  if (array != nullptr) {
    for (LONG i = 0; i < count; ++i) {
      if (array[i] != nullptr) items->push_back(Of(array[i]));
    }
    ::CoTaskMemFree(array);
  }
  return result;
}

HResult Win32Wia::QueryPropertyStorage(WiaObject item, WiaObject* storage) {
  IWiaPropertyStorage* properties = nullptr;
  const HRESULT result = As<IWiaItem>(item)->QueryInterface(IID_IWiaPropertyStorage,
                                                            reinterpret_cast<void**>(&properties));
  *storage = SUCCEEDED(result) ? Of(properties) : 0;
  return result;
}

HResult Win32Wia::ReadProperties(WiaObject storage, const std::uint32_t* ids, std::uint32_t count,
                                 WiaPropertyValue* values) {
  std::vector<PROPSPEC> specs(count);
  std::vector<PROPVARIANT> read(count);
  for (std::uint32_t i = 0; i < count; ++i) {
    specs[i].ulKind = PRSPEC_PROPID;
    specs[i].propid = ids[i];
    PropVariantInit(&read[i]);
  }
  const HRESULT result =
      As<IWiaPropertyStorage>(storage)->ReadMultiple(count, specs.data(), read.data());
  for (std::uint32_t i = 0; i < count; ++i) {
    values[i] = {};
    if (result != S_OK) continue;
    values[i].vt = read[i].vt;
    if (read[i].vt == VT_I4) values[i].number = read[i].lVal;
    if (read[i].vt == VT_BSTR && read[i].bstrVal != nullptr) values[i].text = read[i].bstrVal;
  }
  ::FreePropVariantArray(count, read.data());
  return result;
}

HResult Win32Wia::WriteTransferFormat(WiaObject storage, const Guid& format, std::int32_t tymed) {
  GUID clsid = ToGuid(format);
  PROPSPEC specs[2] = {};
  PROPVARIANT values[2] = {};
  specs[0].ulKind = PRSPEC_PROPID;
  specs[0].propid = WIA_IPA_FORMAT;
  specs[1].ulKind = PRSPEC_PROPID;
  specs[1].propid = WIA_IPA_TYMED;
  values[0].vt = VT_CLSID;
  values[0].puuid = &clsid;
  values[1].vt = VT_I4;
  values[1].lVal = tymed;
  return As<IWiaPropertyStorage>(storage)->WriteMultiple(2, specs, values, WIA_IPA_FIRST);
}

HResult Win32Wia::QueryDataTransfer(WiaObject item, WiaObject* transfer) {
  IWiaDataTransfer* data = nullptr;
  const HRESULT result =
      As<IWiaItem>(item)->QueryInterface(IID_IWiaDataTransfer, reinterpret_cast<void**>(&data));
  *transfer = SUCCEEDED(result) ? Of(data) : 0;
  return result;
}

WiaObject Win32Wia::NewFileMedium() {
  auto* medium = new (std::nothrow) STGMEDIUM{};
  if (medium == nullptr) return 0;
  medium->tymed = TYMED_FILE;
  medium->lpszFileName = nullptr;
  medium->pUnkForRelease = nullptr;
  return reinterpret_cast<WiaObject>(medium);
}

HResult Win32Wia::GetData(WiaObject transfer, WiaObject medium, IWiaTransferCallback& callback) {
  if (medium == 0) return E_POINTER;
  auto* forward = new (std::nothrow) DataCallback(callback);
  if (forward == nullptr) return E_OUTOFMEMORY;
  const HRESULT result =
      As<IWiaDataTransfer>(transfer)->idtGetData(reinterpret_cast<STGMEDIUM*>(medium), forward);
  forward->Release();
  return result;
}

void Win32Wia::FreeMedium(WiaObject medium, bool releaseContents) {
  auto* stored = reinterpret_cast<STGMEDIUM*>(medium);
  if (stored == nullptr) return;
  if (releaseContents) ::ReleaseStgMedium(stored);
  delete stored;
}

void Win32Wia::Release(WiaObject object) {
  if (object != 0) As<IUnknown>(object)->Release();
}

}  // namespace kvd::platform::win32
