// A WIA device manager for the Wine tier, which has one without devices: an in-process COM
// server of ours registered for CLSID_WiaDevMgr in the test prefix, so that kavid.exe's WIA test
// scan runs against real COM activation. One device, configured in "<this library's path>.ini":
//   [device]     id=<WIA id>  name=<WIA_DIP_DEV_NAME>  type=<WIA_DIP_DEV_TYPE, decimal>
//   [behaviour]  transfer=ok|fail|hang  select=device|cancel|fail  scandialog=items|cancel|fail
// (hang: the transfer never returns, as from a scanner that stopped answering)
// Every call the program relies on appends a line to "<this library's path>.calls" (UTF-8):
//   CreateDevice <id>, SelectDeviceDlg, DeviceDlg, WriteMultiple <bmp|other> <tymed>,
//   idtGetData <file>. A transfer delivers a small BMP through the callback (header, data,
//   termination) and in a temporary file that the caller's ReleaseStgMedium deletes.
// What it does not implement answers E_NOTIMPL: event registration, capabilities, item
// creation, banded transfers, property names and streams.
#include "platform/win32/Windows.h"

#include <objbase.h>
#include <wia.h>

#include <cstdio>
#include <cstring>
#include <cwctype>
#include <string>
#include <vector>

#include "platform/api/Text.h"
#include "tools/fakes/FakeSupport.h"

namespace {

using fake::Record;
using fake::Setting;

bool SameText(const std::wstring& a, const std::wstring& b) {
  return kvd::platform::EqualsNoCase(a, b);
}

// A 2 x 2 24-bit bitmap file.
std::vector<BYTE> SmallBitmap() {
  std::vector<BYTE> file(14 + 40 + 16, 0);
  auto put32 = [&](std::size_t at, DWORD value) { std::memcpy(&file[at], &value, 4); };
  auto put16 = [&](std::size_t at, WORD value) { std::memcpy(&file[at], &value, 2); };
  file[0] = 'B';
  file[1] = 'M';
  put32(2, static_cast<DWORD>(file.size()));
  put32(10, 54);
  put32(14, 40);
  put32(18, 2);
  put32(22, 2);
  put16(26, 1);
  put16(28, 24);
  put32(34, 16);
  for (std::size_t i = 54; i < file.size(); ++i) file[i] = static_cast<BYTE>(0x80 + i);
  return file;
}

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wnon-virtual-dtor"

using fake::RefCounted;

class Item;

class Enumerator final : public IEnumWiaItem, public RefCounted<Enumerator> {
 public:
  explicit Enumerator(ULONG count) : count_(count) {}
  HRESULT WINAPI QueryInterface(REFIID riid, void** out) override {
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IEnumWiaItem)) {
      *out = static_cast<IEnumWiaItem*>(this);
      AddRef();
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  ULONG WINAPI AddRef() override { return AddRefImpl(); }
  ULONG WINAPI Release() override { return ReleaseImpl(); }
  HRESULT WINAPI Next(ULONG wanted, IWiaItem** items, ULONG* fetched) override;
  HRESULT WINAPI Skip(ULONG skip) override {
    next_ += skip;
    return next_ <= count_ ? S_OK : S_FALSE;
  }
  HRESULT WINAPI Reset() override {
    next_ = 0;
    return S_OK;
  }
  HRESULT WINAPI Clone(IEnumWiaItem**) override { return E_NOTIMPL; }
  HRESULT WINAPI GetCount(ULONG* count) override {
    *count = count_;
    return S_OK;
  }

 private:
  ULONG count_;
  ULONG next_ = 0;
};

// The root item of the device and its flatbed item, with their properties and data transfer.
class Item final : public IWiaItem,
                   public IWiaPropertyStorage,
                   public IWiaDataTransfer,
                   public RefCounted<Item> {
 public:
  explicit Item(bool root) : root_(root) {}

  HRESULT WINAPI QueryInterface(REFIID riid, void** out) override {
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IWiaItem)) {
      *out = static_cast<IWiaItem*>(this);
    } else if (IsEqualIID(riid, IID_IWiaPropertyStorage)) {
      *out = static_cast<IWiaPropertyStorage*>(this);
    } else if (IsEqualIID(riid, IID_IWiaDataTransfer)) {
      *out = static_cast<IWiaDataTransfer*>(this);
    } else {
      *out = nullptr;
      return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
  }
  ULONG WINAPI AddRef() override { return AddRefImpl(); }
  ULONG WINAPI Release() override { return ReleaseImpl(); }

  // IWiaItem
  HRESULT WINAPI GetItemType(LONG* type) override {
    *type = root_ ? (WiaItemTypeRoot | WiaItemTypeDevice | WiaItemTypeFolder)
                  : (WiaItemTypeImage | WiaItemTypeFile);
    return S_OK;
  }
  HRESULT WINAPI AnalyzeItem(LONG) override { return E_NOTIMPL; }
  HRESULT WINAPI EnumChildItems(IEnumWiaItem** items) override {
    *items = new Enumerator(root_ ? 1 : 0);
    return S_OK;
  }
  HRESULT WINAPI DeleteItem(LONG) override { return E_NOTIMPL; }
  HRESULT WINAPI CreateChildItem(LONG, BSTR, BSTR, IWiaItem**) override { return E_NOTIMPL; }
  HRESULT WINAPI EnumRegisterEventInfo(LONG, const GUID*, IEnumWIA_DEV_CAPS**) override {
    return E_NOTIMPL;
  }
  HRESULT WINAPI FindItemByName(LONG, BSTR, IWiaItem**) override { return E_NOTIMPL; }
  HRESULT WINAPI DeviceDlg(HWND, LONG, LONG, LONG* count, IWiaItem*** items) override {
    Record(L"DeviceDlg");
    *count = 0;
    *items = nullptr;
    const std::wstring answer = Setting(L"behaviour", L"scandialog", L"cancel");
    if (SameText(answer, L"cancel")) return S_FALSE;
    if (!SameText(answer, L"items")) return E_FAIL;
    *items = static_cast<IWiaItem**>(::CoTaskMemAlloc(sizeof(IWiaItem*)));
    if (*items == nullptr) return E_OUTOFMEMORY;
    (*items)[0] = new Item(false);
    *count = 1;
    return S_OK;
  }
  HRESULT WINAPI DeviceCommand(LONG, const GUID*, IWiaItem**) override { return E_NOTIMPL; }
  HRESULT WINAPI GetRootItem(IWiaItem** item) override {
    *item = new Item(true);
    return S_OK;
  }
  HRESULT WINAPI EnumDeviceCapabilities(LONG, IEnumWIA_DEV_CAPS**) override { return E_NOTIMPL; }
  HRESULT WINAPI DumpItemData(BSTR*) override { return E_NOTIMPL; }
  HRESULT WINAPI DumpDrvItemData(BSTR*) override { return E_NOTIMPL; }
  HRESULT WINAPI DumpTreeItemData(BSTR*) override { return E_NOTIMPL; }
  HRESULT WINAPI Diagnostic(ULONG, BYTE*) override { return E_NOTIMPL; }

  // IWiaPropertyStorage
  HRESULT WINAPI ReadMultiple(ULONG count, const PROPSPEC specs[], PROPVARIANT values[]) override {
    for (ULONG i = 0; i < count; ++i) {
      PropVariantInit(&values[i]);
      if (specs[i].ulKind != PRSPEC_PROPID) continue;
      switch (specs[i].propid) {
        case WIA_DIP_DEV_ID:
          values[i].vt = VT_BSTR;
          values[i].bstrVal = ::SysAllocString(Setting(L"device", L"id", L"").c_str());
          break;
        case WIA_DIP_DEV_NAME:
          values[i].vt = VT_BSTR;
          values[i].bstrVal = ::SysAllocString(Setting(L"device", L"name", L"").c_str());
          break;
        case WIA_DIP_DEV_TYPE:
          values[i].vt = VT_I4;
          values[i].lVal = static_cast<LONG>(
              std::wcstol(Setting(L"device", L"type", L"65536").c_str(), nullptr, 10));
          break;
        default:
          break;
      }
    }
    return S_OK;
  }
  HRESULT WINAPI WriteMultiple(ULONG count, const PROPSPEC specs[], const PROPVARIANT values[],
                               PROPID) override {
    std::wstring format = L"none";
    long tymed = 0;
    for (ULONG i = 0; i < count; ++i) {
      if (specs[i].ulKind != PRSPEC_PROPID) continue;
      if (specs[i].propid == WIA_IPA_FORMAT && values[i].vt == VT_CLSID &&
          values[i].puuid != nullptr) {
        format = IsEqualGUID(*values[i].puuid, WiaImgFmt_BMP) ? L"bmp" : L"other";
      }
      if (specs[i].propid == WIA_IPA_TYMED && values[i].vt == VT_I4) tymed = values[i].lVal;
    }
    Record(L"WriteMultiple " + format + L" " + std::to_wstring(tymed));
    return S_OK;
  }
  HRESULT WINAPI DeleteMultiple(ULONG, const PROPSPEC[]) override { return E_NOTIMPL; }
  HRESULT WINAPI ReadPropertyNames(ULONG, const PROPID[], LPOLESTR[]) override { return E_NOTIMPL; }
  HRESULT WINAPI WritePropertyNames(ULONG, const PROPID[], const LPOLESTR[]) override {
    return E_NOTIMPL;
  }
  HRESULT WINAPI DeletePropertyNames(ULONG, const PROPID[]) override { return E_NOTIMPL; }
  HRESULT WINAPI Commit(DWORD) override { return S_OK; }
  HRESULT WINAPI Revert() override { return S_OK; }
  HRESULT WINAPI Enum(IEnumSTATPROPSTG**) override { return E_NOTIMPL; }
  HRESULT WINAPI SetTimes(const FILETIME*, const FILETIME*, const FILETIME*) override {
    return E_NOTIMPL;
  }
  HRESULT WINAPI SetClass(REFCLSID) override { return E_NOTIMPL; }
  HRESULT WINAPI Stat(STATPROPSETSTG*) override { return E_NOTIMPL; }
  HRESULT WINAPI GetPropertyAttributes(ULONG, PROPSPEC[], ULONG[], PROPVARIANT[]) override {
    return E_NOTIMPL;
  }
  HRESULT WINAPI GetCount(ULONG* count) override {
    *count = 3;
    return S_OK;
  }
  HRESULT WINAPI GetPropertyStream(GUID*, IStream**) override { return E_NOTIMPL; }
  HRESULT WINAPI SetPropertyStream(GUID*, IStream*) override { return E_NOTIMPL; }

  // IWiaDataTransfer
  HRESULT WINAPI idtGetData(LPSTGMEDIUM medium, IWiaDataCallback* callback) override {
    if (medium == nullptr) return E_POINTER;
    const std::wstring transfer = Setting(L"behaviour", L"transfer", L"ok");
    if (SameText(transfer, L"hang")) {
      Record(L"idtGetData hangs");
      ::Sleep(INFINITE);
    }
    if (!SameText(transfer, L"ok")) {
      Record(L"idtGetData failed");
      return E_FAIL;
    }
    wchar_t folder[MAX_PATH] = {};
    wchar_t file[MAX_PATH] = {};
    ::GetTempPathW(MAX_PATH, folder);
    ::GetTempFileNameW(folder, L"wia", 0, file);
    const std::vector<BYTE> bitmap = SmallBitmap();
    if (FILE* out = _wfopen(file, L"wb")) {
      std::fwrite(bitmap.data(), 1, bitmap.size(), out);
      std::fclose(out);
    }
    Record(std::wstring(L"idtGetData ") + file);
    if (callback != nullptr) {
      WIA_DATA_CALLBACK_HEADER header{};
      header.lSize = sizeof header;
      header.guidFormatID = WiaImgFmt_BMP;
      header.lBufferSize = static_cast<LONG>(bitmap.size());
      callback->BandedDataCallback(IT_MSG_DATA_HEADER, IT_STATUS_TRANSFER_FROM_DEVICE, 0, 0,
                                   sizeof header, 0, 0, reinterpret_cast<BYTE*>(&header));
      std::vector<BYTE> data = bitmap;
      const HRESULT answer =
          callback->BandedDataCallback(IT_MSG_DATA, IT_STATUS_TRANSFER_TO_CLIENT, 100, 0,
                                       static_cast<LONG>(data.size()), 0, 0, data.data());
      if (answer != S_OK) {
        ::DeleteFileW(file);
        return FAILED(answer) ? answer : S_FALSE;
      }
      callback->BandedDataCallback(IT_MSG_TERMINATION, IT_STATUS_TRANSFER_TO_CLIENT, 100, 0, 0, 0,
                                   0, nullptr);
    }
    const std::size_t bytes = (std::wcslen(file) + 1) * sizeof(wchar_t);
    medium->tymed = TYMED_FILE;
    medium->lpszFileName = static_cast<LPOLESTR>(::CoTaskMemAlloc(bytes));
    if (medium->lpszFileName != nullptr) std::memcpy(medium->lpszFileName, file, bytes);
    medium->pUnkForRelease = nullptr;
    return S_OK;
  }
  HRESULT WINAPI idtGetBandedData(PWIA_DATA_TRANSFER_INFO, IWiaDataCallback*) override {
    return E_NOTIMPL;
  }
  HRESULT WINAPI idtQueryGetData(WIA_FORMAT_INFO*) override { return E_NOTIMPL; }
  HRESULT WINAPI idtEnumWIA_FORMAT_INFO(IEnumWIA_FORMAT_INFO**) override { return E_NOTIMPL; }
  HRESULT WINAPI idtGetExtendedTransferInfo(PWIA_EXTENDED_TRANSFER_INFO) override {
    return E_NOTIMPL;
  }

 private:
  bool root_;
};

HRESULT WINAPI Enumerator::Next(ULONG wanted, IWiaItem** items, ULONG* fetched) {
  ULONG got = 0;
  while (got < wanted && next_ < count_) {
    items[got++] = new Item(false);
    ++next_;
  }
  if (fetched != nullptr) *fetched = got;
  return got == wanted ? S_OK : S_FALSE;
}

class DeviceManager final : public IWiaDevMgr, public RefCounted<DeviceManager> {
 public:
  HRESULT WINAPI QueryInterface(REFIID riid, void** out) override {
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IWiaDevMgr)) {
      *out = static_cast<IWiaDevMgr*>(this);
      AddRef();
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  ULONG WINAPI AddRef() override { return AddRefImpl(); }
  ULONG WINAPI Release() override { return ReleaseImpl(); }
  HRESULT WINAPI EnumDeviceInfo(LONG, IEnumWIA_DEV_INFO**) override { return E_NOTIMPL; }
  HRESULT WINAPI CreateDevice(BSTR id, IWiaItem** root) override {
    const std::wstring wanted = id != nullptr ? id : L"";
    Record(L"CreateDevice " + wanted);
    *root = nullptr;
    if (!SameText(wanted, Setting(L"device", L"id", L""))) return WIA_S_NO_DEVICE_AVAILABLE;
    *root = new Item(true);
    return S_OK;
  }
  HRESULT WINAPI SelectDeviceDlg(HWND, LONG, LONG, BSTR* id, IWiaItem** root) override {
    Record(L"SelectDeviceDlg");
    if (root != nullptr) *root = nullptr;
    if (id != nullptr) *id = nullptr;
    const std::wstring answer = Setting(L"behaviour", L"select", L"fail");
    if (SameText(answer, L"cancel")) return S_FALSE;
    if (!SameText(answer, L"device") || root == nullptr) return E_NOTIMPL;
    *root = new Item(true);
    return S_OK;
  }
  HRESULT WINAPI SelectDeviceDlgID(HWND, LONG, LONG, BSTR*) override { return E_NOTIMPL; }
  HRESULT WINAPI GetImageDlg(HWND, LONG, LONG, LONG, IWiaItem*, BSTR, GUID*) override {
    return E_NOTIMPL;
  }
  HRESULT WINAPI RegisterEventCallbackProgram(LONG, BSTR, const GUID*, BSTR, BSTR, BSTR,
                                              BSTR) override {
    return E_NOTIMPL;
  }
  HRESULT WINAPI RegisterEventCallbackInterface(LONG, BSTR, const GUID*, IWiaEventCallback*,
                                                IUnknown**) override {
    return E_NOTIMPL;
  }
  HRESULT WINAPI RegisterEventCallbackCLSID(LONG, BSTR, const GUID*, const GUID*, BSTR, BSTR,
                                            BSTR) override {
    return E_NOTIMPL;
  }
  HRESULT WINAPI AddDeviceDlg(HWND, LONG) override { return E_NOTIMPL; }
};

#pragma GCC diagnostic pop

fake::Factory<DeviceManager> g_factory;

}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) fake::g_self = instance;
  return TRUE;
}

extern "C" __declspec(dllexport) HRESULT WINAPI
    DllGetClassObject(REFCLSID clsid, REFIID riid, void** out) {
  if (!IsEqualCLSID(clsid, CLSID_WiaDevMgr)) {
    *out = nullptr;
    return CLASS_E_CLASSNOTAVAILABLE;
  }
  return g_factory.QueryInterface(riid, out);
}

extern "C" __declspec(dllexport) HRESULT WINAPI DllCanUnloadNow() { return S_FALSE; }
