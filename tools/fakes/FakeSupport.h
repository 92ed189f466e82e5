// What every stand-in of tools/fakes/ shares: the files named after its own module (the
// scenario it reads from "<module>.ini", the calls it records in "<module>.calls"), and the
// reference count of its COM objects.
#pragma once

#include "platform/win32/Windows.h"

#include <objbase.h>

#include <cstdio>
#include <string>

#include "platform/api/Text.h"

namespace fake {

// The module whose path names the files: a DLL sets it in DllMain; a program leaves it null.
inline HMODULE g_self = nullptr;

inline std::wstring OwnPath() {
  std::wstring path(32768, L'\0');
  path.resize(::GetModuleFileNameW(g_self, path.data(), static_cast<DWORD>(path.size())));
  return path;
}

// Appends `line` and a line feed to "<module>.calls" (UTF-8).
inline void Record(const std::wstring& line) {
  const std::string text = kvd::platform::NarrowUtf8(line) + "\n";
  if (FILE* calls = _wfopen((OwnPath() + L".calls").c_str(), L"ab")) {
    std::fwrite(text.data(), 1, text.size(), calls);
    std::fclose(calls);
  }
}

// A value of "<module>.ini", `fallback` when it has none.
inline std::wstring Setting(const wchar_t* section, const wchar_t* key, const wchar_t* fallback) {
  wchar_t value[1024] = {};
  ::GetPrivateProfileStringW(section, key, fallback, value, 1024, (OwnPath() + L".ini").c_str());
  return value;
}

inline UINT SettingNumber(const wchar_t* section, const wchar_t* key, UINT fallback) {
  return ::GetPrivateProfileIntW(section, key, static_cast<INT>(fallback),
                                 (OwnPath() + L".ini").c_str());
}

// HKCR\CLSID\{class}\<kind> ("InprocServer32" or "LocalServer32") naming this module, in the
// calling process's view: what registering a COM server writes. An in-process server's threading
// model is Both.
inline bool RegisterServer(const GUID& classId, const wchar_t* kind) {
  wchar_t text[40] = {};
  ::StringFromGUID2(classId, text, 40);
  const std::wstring key = std::wstring(L"CLSID\\") + text + L"\\" + kind;
  HKEY server = nullptr;
  if (::RegCreateKeyExW(HKEY_CLASSES_ROOT, key.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &server,
                        nullptr) != ERROR_SUCCESS) {
    return false;
  }
  const std::wstring path = OwnPath();
  const wchar_t model[] = L"Both";
  bool ok =
      ::RegSetValueExW(server, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(path.c_str()),
                       static_cast<DWORD>((path.size() + 1) * sizeof(wchar_t))) == ERROR_SUCCESS;
  if (ok && std::wstring(kind) == L"InprocServer32") {
    ok = ::RegSetValueExW(server, L"ThreadingModel", 0, REG_SZ,
                          reinterpret_cast<const BYTE*>(model), sizeof model) == ERROR_SUCCESS;
  }
  ::RegCloseKey(server);
  return ok;
}

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wnon-virtual-dtor"
// COM objects delete themselves when the last reference goes.
template <class Self>
class RefCounted {
 public:
  ULONG AddRefImpl() { return static_cast<ULONG>(InterlockedIncrement(&refs_)); }
  ULONG ReleaseImpl() {
    const LONG left = InterlockedDecrement(&refs_);
    if (left == 0) delete static_cast<Self*>(this);
    return static_cast<ULONG>(left);
  }

 private:
  LONG refs_ = 1;
};
// The class object of a COM class whose objects start with one reference.
template <class Object>
class Factory final : public IClassFactory {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override {
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IClassFactory)) {
      *out = static_cast<IClassFactory*>(this);
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  // Static objects: their count does not matter.
  ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
  ULONG STDMETHODCALLTYPE Release() override { return 1; }
  HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID riid, void** out) override {
    *out = nullptr;
    if (outer != nullptr) return CLASS_E_NOAGGREGATION;
    auto* object = new Object();
    const HRESULT result = object->QueryInterface(riid, out);
    object->Release();
    return result;
  }
  HRESULT STDMETHODCALLTYPE LockServer(BOOL) override { return S_OK; }
};

#pragma GCC diagnostic pop

}  // namespace fake
