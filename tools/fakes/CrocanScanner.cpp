// The maker's scanner components for the Wine tier, built by us: an in-process COM server
// (32-bit, registered with regsvr32) with the scanner manager (CLSID_QVScnMgr, IQVScnMgr) and a
// scanner class (IScanner, IScannerExt, IScannerADF) of the class ID below, which a device's
// "CrocanCLSID" names. Exactly the slots, records and status values the driver check relies on;
// every other slot answers E_NOTIMPL. One scanner, configured in "<this library's path>.ini":
//   [scanner]    name=<friendly name>  session=<text at 0x200>  value=<16-bit value at 0x400>
//                resolution=<dpi>  lines=<lines>  bytesperline=<bytes>  lamp=on|off
//                warmup=<seconds>  gammaentries=<n>  gammamax=<m>  gammabytes=1|2
//                extension=1|0  feeder=1|0  pages=<pages in the feeder>
//   [behaviour]  fail=<method>  status=<its status>  hang=<method>
// (fail: that method answers E_FAIL with the status; hang: it never returns, as a scanner that
// stopped answering.) Every call appends a line to "<this library's path>.calls" (UTF-8), in the
// words of the program's simulated components: "GetScannerByFriendlyName2 <name>",
// "OpenScannerSession <text> <value>", "LockScanner <flags> <time-out>", "SetGammaTable <bytes>",
// "SetScannerParameters <x dpi> <y dpi>", "ReadScan <bytes>", "ReadScanData <bytes>",
// "ExtensionCall <value>", else the method's name; "CreateScanner" for each scanner object made.
#include "platform/win32/Windows.h"

#include <objbase.h>
#include <oleauto.h>

#include <algorithm>
#include <cstring>
#include <string>

#include "platform/api/ICrocan.h"
#include "platform/win32/Guids.h"
#include "tools/fakes/FakeSupport.h"

namespace {

namespace crocan = kvd::platform::crocan;
using fake::Record;
using fake::Setting;
using fake::SettingNumber;

// The class ID of this scanner class.
constexpr GUID kScannerClass = {
    0x1D0C2B3A, 0x4E5F, 0x4A6B, {0x8C, 0x7D, 0x9E, 0x0F, 0x1A, 0x2B, 0x3C, 0x4D}};
constexpr ULONG kNoSession = 3;

GUID Win32(const kvd::platform::Guid& guid) { return kvd::platform::win32::ToGuid(guid); }

// The configured failure or hang of `method`: S_OK to go on, or E_FAIL with the status.
HRESULT Enter(const wchar_t* method, ULONG* status) {
  if (status != nullptr) *status = 0;
  if (Setting(L"behaviour", L"hang", L"") == method) ::Sleep(INFINITE);
  if (Setting(L"behaviour", L"fail", L"") != method) return S_OK;
  if (status != nullptr) *status = SettingNumber(L"behaviour", L"status", 3);
  return E_FAIL;
}

template <class Value>
void Put(void* record, std::size_t at, Value value) {
  std::memcpy(static_cast<BYTE*>(record) + at, &value, sizeof value);
}

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wnon-virtual-dtor"

// The interfaces by slot (0 to 2 are IUnknown's).
struct IQVScnMgr : IUnknown {
  virtual HRESULT STDMETHODCALLTYPE Unused3() = 0;
  virtual HRESULT STDMETHODCALLTYPE Unused4() = 0;
  virtual HRESULT STDMETHODCALLTYPE Unused5() = 0;
  virtual HRESULT STDMETHODCALLTYPE Unused6() = 0;
  virtual HRESULT STDMETHODCALLTYPE Unused7() = 0;
  virtual HRESULT STDMETHODCALLTYPE Unused8() = 0;
  virtual HRESULT STDMETHODCALLTYPE Unused9() = 0;
  virtual HRESULT STDMETHODCALLTYPE GetScannerByFriendlyName2(BSTR name, void* description) = 0;
};

struct IScanner : IUnknown {
  virtual HRESULT STDMETHODCALLTYPE OpenScannerSession(const wchar_t* name, USHORT value,
                                                       ULONG* session, ULONG* status) = 0;
  virtual HRESULT STDMETHODCALLTYPE CloseScannerSession(ULONG session, ULONG* status) = 0;
  virtual HRESULT STDMETHODCALLTYPE LockScanner(ULONG session, ULONG flags, ULONG timeout,
                                                ULONG* status) = 0;
  virtual HRESULT STDMETHODCALLTYPE UnlockScanner(ULONG session, ULONG* status) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetLampStatus(ULONG session, BYTE* lampOn, ULONG* status) = 0;
  virtual HRESULT STDMETHODCALLTYPE LampOn(ULONG session, ULONG* status) = 0;
  virtual HRESULT STDMETHODCALLTYPE Unused9() = 0;
  virtual HRESULT STDMETHODCALLTYPE GetScannerCapabilities(ULONG session, void* record,
                                                           ULONG* status) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetBufferInfo(ULONG session, const void* parameters, void* info,
                                                  ULONG* status) = 0;
  virtual HRESULT STDMETHODCALLTYPE InitializeScanner(ULONG session, ULONG* status) = 0;
  virtual HRESULT STDMETHODCALLTYPE ResetScanner(ULONG session, ULONG* status) = 0;
  virtual HRESULT STDMETHODCALLTYPE SetScannerParameters(ULONG session, const void* parameters,
                                                         ULONG* status) = 0;
  virtual HRESULT STDMETHODCALLTYPE SetGammaTable(ULONG session, ULONG bytes, const void* red,
                                                  const void* green, const void* blue,
                                                  ULONG* status) = 0;
  virtual HRESULT STDMETHODCALLTYPE StartScan(ULONG session, ULONG* status) = 0;
  virtual HRESULT STDMETHODCALLTYPE StopScan(ULONG session, ULONG* status) = 0;
  virtual HRESULT STDMETHODCALLTYPE ReadScan(ULONG session, void* buffer, ULONG count,
                                             ULONG* status) = 0;
  virtual HRESULT STDMETHODCALLTYPE ReadScanData(ULONG session, void* buffer, ULONG count,
                                                 ULONG* read, ULONG* status) = 0;
};

struct IScannerExt : IUnknown {
  virtual HRESULT STDMETHODCALLTYPE First(ULONG session, ULONG value, ULONG* status) = 0;
};

struct IScannerADF : IUnknown {
  virtual HRESULT STDMETHODCALLTYPE GetADFScannerCapabilities(ULONG session, void* record,
                                                              ULONG* status) = 0;
  virtual HRESULT STDMETHODCALLTYPE ADFPaperFeed(ULONG session, ULONG* status) = 0;
  virtual HRESULT STDMETHODCALLTYPE ADFIsReady(ULONG session, BYTE* ready, ULONG* status) = 0;
};

class Manager final : public IQVScnMgr, public fake::RefCounted<Manager> {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override {
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, Win32(crocan::IidScannerManager))) {
      *out = static_cast<IQVScnMgr*>(this);
      AddRef();
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return AddRefImpl(); }
  ULONG STDMETHODCALLTYPE Release() override { return ReleaseImpl(); }
  HRESULT STDMETHODCALLTYPE Unused3() override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Unused4() override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Unused5() override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Unused6() override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Unused7() override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Unused8() override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Unused9() override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetScannerByFriendlyName2(BSTR name, void* description) override {
    const std::wstring asked = name != nullptr ? name : L"";
    Record(L"GetScannerByFriendlyName2 " + asked);
    if (const HRESULT result = Enter(L"GetScannerByFriendlyName2", nullptr); FAILED(result)) {
      return result;
    }
    if (!kvd::platform::EqualsNoCase(asked, Setting(L"scanner", L"name", L""))) return E_FAIL;
    std::memset(description, 0, crocan::kDescriptionBytes);
    const std::wstring session = Setting(L"scanner", L"session", L"QVSCAN0");
    std::memcpy(static_cast<BYTE*>(description) + 0x200, session.c_str(),
                std::min<std::size_t>(session.size(), 255) * sizeof(wchar_t));
    Put<USHORT>(description, 0x400, static_cast<USHORT>(SettingNumber(L"scanner", L"value", 1)));
    return S_OK;
  }
};

class Scanner final : public IScanner,
                      public IScannerExt,
                      public IScannerADF,
                      public fake::RefCounted<Scanner> {
 public:
  Scanner()
      : lampOn_(Setting(L"scanner", L"lamp", L"on") == L"on"),
        pages_(SettingNumber(L"scanner", L"pages", 0)) {
    Record(L"CreateScanner");
  }

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override {
    *out = nullptr;
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, Win32(crocan::IidScanner))) {
      *out = static_cast<IScanner*>(this);
    } else if (IsEqualIID(riid, Win32(crocan::IidScannerExt)) &&
               SettingNumber(L"scanner", L"extension", 1) != 0) {
      *out = static_cast<IScannerExt*>(this);
    } else if (IsEqualIID(riid, Win32(crocan::IidScannerAdf)) &&
               SettingNumber(L"scanner", L"feeder", 0) != 0) {
      *out = static_cast<IScannerADF*>(this);
    }
    if (*out == nullptr) return E_NOINTERFACE;
    AddRef();
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return AddRefImpl(); }
  ULONG STDMETHODCALLTYPE Release() override { return ReleaseImpl(); }

  HRESULT STDMETHODCALLTYPE OpenScannerSession(const wchar_t* name, USHORT value, ULONG* session,
                                               ULONG* status) override {
    const std::wstring text = name != nullptr ? name : L"";
    Record(L"OpenScannerSession " + text + L" " + std::to_wstring(value));
    *session = 0;
    if (const HRESULT result = Enter(L"OpenScannerSession", status); FAILED(result)) {
      return result;
    }
    if (text != Setting(L"scanner", L"session", L"QVSCAN0") ||
        value != SettingNumber(L"scanner", L"value", 1)) {
      *status = kNoSession;
      return E_FAIL;
    }
    session_ = *session = 0x51;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE CloseScannerSession(ULONG session, ULONG* status) override {
    const HRESULT result = Plain(L"CloseScannerSession", session, status);
    if (SUCCEEDED(result)) session_ = 0;
    return result;
  }
  HRESULT STDMETHODCALLTYPE LockScanner(ULONG session, ULONG flags, ULONG timeout,
                                        ULONG* status) override {
    Record(L"LockScanner " + std::to_wstring(flags) + L" " + std::to_wstring(timeout));
    return Check(L"LockScanner", session, status);
  }
  HRESULT STDMETHODCALLTYPE UnlockScanner(ULONG session, ULONG* status) override {
    return Plain(L"UnlockScanner", session, status);
  }
  HRESULT STDMETHODCALLTYPE GetLampStatus(ULONG session, BYTE* lampOn, ULONG* status) override {
    *lampOn = 0;
    const HRESULT result = Plain(L"GetLampStatus", session, status);
    if (SUCCEEDED(result)) *lampOn = lampOn_ ? 1 : 0;
    return result;
  }
  HRESULT STDMETHODCALLTYPE LampOn(ULONG session, ULONG* status) override {
    const HRESULT result = Plain(L"LampOn", session, status);
    if (SUCCEEDED(result)) lampOn_ = true;
    return result;
  }
  HRESULT STDMETHODCALLTYPE Unused9() override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetScannerCapabilities(ULONG session, void* record,
                                                   ULONG* status) override {
    const HRESULT result = Plain(L"GetScannerCapabilities", session, status);
    if (FAILED(result)) return result;
    std::memset(record, 0, crocan::kCapabilityBytes);
    Put<USHORT>(record, 0x10, static_cast<USHORT>(SettingNumber(L"scanner", L"warmup", 0)));
    Put<USHORT>(record, 0x18, static_cast<USHORT>(SettingNumber(L"scanner", L"resolution", 300)));
    Put<ULONG>(record, 0x1C, 0x11);
    Put<ULONG>(record, 0x24, 0x22);
    Put<ULONG>(record, 0x50, SettingNumber(L"scanner", L"gammaentries", 256));
    Put<ULONG>(record, 0x54, SettingNumber(L"scanner", L"gammamax", 255));
    Put<USHORT>(record, 0x58, static_cast<USHORT>(SettingNumber(L"scanner", L"gammabytes", 1)));
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetBufferInfo(ULONG session, const void*, void* info,
                                          ULONG* status) override {
    const HRESULT result = Plain(L"GetBufferInfo", session, status);
    if (FAILED(result)) return result;
    std::memset(info, 0, crocan::kBufferInfoBytes);
    Put<ULONG>(info, 0x04, SettingNumber(L"scanner", L"lines", 100));
    Put<ULONG>(info, 0x08, SettingNumber(L"scanner", L"bytesperline", 2550));
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE InitializeScanner(ULONG session, ULONG* status) override {
    return Plain(L"InitializeScanner", session, status);
  }
  HRESULT STDMETHODCALLTYPE ResetScanner(ULONG session, ULONG* status) override {
    return Plain(L"ResetScanner", session, status);
  }
  HRESULT STDMETHODCALLTYPE SetScannerParameters(ULONG session, const void* parameters,
                                                 ULONG* status) override {
    USHORT x = 0;
    USHORT y = 0;
    std::memcpy(&x, static_cast<const BYTE*>(parameters) + 0x1A, sizeof x);
    std::memcpy(&y, static_cast<const BYTE*>(parameters) + 0x1C, sizeof y);
    Record(L"SetScannerParameters " + std::to_wstring(x) + L" " + std::to_wstring(y));
    return Check(L"SetScannerParameters", session, status);
  }
  HRESULT STDMETHODCALLTYPE SetGammaTable(ULONG session, ULONG bytes, const void* red,
                                          const void* green, const void* blue,
                                          ULONG* status) override {
    Record(L"SetGammaTable " + std::to_wstring(bytes));
    const HRESULT result = Check(L"SetGammaTable", session, status);
    // The three tables the program builds are one table.
    if (SUCCEEDED(result) &&
        (std::memcmp(red, green, bytes) != 0 || std::memcmp(green, blue, bytes) != 0)) {
      Record(L"SetGammaTable tables differ");
    }
    return result;
  }
  HRESULT STDMETHODCALLTYPE StartScan(ULONG session, ULONG* status) override {
    const HRESULT result = Plain(L"StartScan", session, status);
    if (SUCCEEDED(result)) {
      left_ = static_cast<ULONGLONG>(SettingNumber(L"scanner", L"lines", 100)) *
              SettingNumber(L"scanner", L"bytesperline", 2550);
    }
    return result;
  }
  HRESULT STDMETHODCALLTYPE StopScan(ULONG session, ULONG* status) override {
    return Plain(L"StopScan", session, status);
  }
  HRESULT STDMETHODCALLTYPE ReadScan(ULONG session, void* buffer, ULONG count,
                                     ULONG* status) override {
    Record(L"ReadScan " + std::to_wstring(count));
    const HRESULT result = Check(L"ReadScan", session, status);
    if (FAILED(result)) return result;
    if (count > left_) return E_INVALIDARG;  // past the page: the caller's fault
    std::memset(buffer, 0x5A, count);
    left_ -= count;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE ReadScanData(ULONG session, void* buffer, ULONG count, ULONG* read,
                                         ULONG* status) override {
    Record(L"ReadScanData " + std::to_wstring(count));
    *read = 0;
    const HRESULT result = Check(L"ReadScanData", session, status);
    if (FAILED(result)) return result;
    const auto bytes = static_cast<ULONG>(std::min<ULONGLONG>(count, left_));
    std::memset(buffer, 0xA5, bytes);
    left_ -= bytes;
    *read = bytes;
    return S_OK;
  }

  HRESULT STDMETHODCALLTYPE First(ULONG session, ULONG value, ULONG* status) override {
    Record(L"ExtensionCall " + std::to_wstring(value));
    return Check(L"ExtensionCall", session, status);
  }

  HRESULT STDMETHODCALLTYPE GetADFScannerCapabilities(ULONG session, void* record,
                                                      ULONG* status) override {
    const HRESULT result = Plain(L"GetADFScannerCapabilities", session, status);
    if (SUCCEEDED(result)) std::memset(record, 0, crocan::kFeederCapabilityBytes);
    return result;
  }
  HRESULT STDMETHODCALLTYPE ADFPaperFeed(ULONG session, ULONG* status) override {
    const HRESULT result = Plain(L"ADFPaperFeed", session, status);
    if (SUCCEEDED(result) && pages_ > 0) --pages_;
    return result;
  }
  HRESULT STDMETHODCALLTYPE ADFIsReady(ULONG session, BYTE* ready, ULONG* status) override {
    *ready = 0;
    const HRESULT result = Plain(L"ADFIsReady", session, status);
    if (SUCCEEDED(result)) *ready = pages_ > 0 ? 1 : 2;
    return result;
  }

 private:
  // The call recorded by its name, then its failure or the session checked.
  HRESULT Plain(const wchar_t* method, ULONG session, ULONG* status) {
    Record(method);
    return Check(method, session, status);
  }
  HRESULT Check(const wchar_t* method, ULONG session, ULONG* status) {
    if (const HRESULT result = Enter(method, status); FAILED(result)) return result;
    if (session == 0 || session != session_) {
      *status = kNoSession;
      return E_FAIL;
    }
    return S_OK;
  }

  ULONG session_ = 0;
  bool lampOn_ = true;
  UINT pages_ = 0;
  ULONGLONG left_ = 0;
};

#pragma GCC diagnostic pop

fake::Factory<Manager> g_managers;
fake::Factory<Scanner> g_scanners;

}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) fake::g_self = instance;
  return TRUE;
}

extern "C" __declspec(dllexport) HRESULT WINAPI
    DllGetClassObject(REFCLSID clsid, REFIID riid, void** out) {
  if (IsEqualCLSID(clsid, Win32(crocan::ClsidScannerManager))) {
    return g_managers.QueryInterface(riid, out);
  }
  if (IsEqualCLSID(clsid, kScannerClass)) return g_scanners.QueryInterface(riid, out);
  *out = nullptr;
  return CLASS_E_CLASSNOTAVAILABLE;
}

extern "C" __declspec(dllexport) HRESULT WINAPI DllCanUnloadNow() { return S_FALSE; }

extern "C" __declspec(dllexport) HRESULT WINAPI DllRegisterServer() {
  return fake::RegisterServer(Win32(crocan::ClsidScannerManager), L"InprocServer32") &&
                 fake::RegisterServer(kScannerClass, L"InprocServer32")
             ? S_OK
             : E_FAIL;
}
