// The suite's destination server for the Wine tier, as the scan-flow check lists it: an
// out-of-process COM server (qvdestsrv.exe, registered by running it with /RegServer, which also
// registers its type library qvdestsrv.tlb beside it so that COM's type-library marshaller
// carries the interfaces) for the server's class, answering with the operations the check calls
// by slot:
//   server  slot 7 the destination list, slot 9 the configuration object
//   list    slot 7 the item at an index, slot 8 the count
//   item    answers the destination interface; slot 8 its description (a BSTR)
// The configuration object answers the configuration interface. Slots the check does not call
// answer E_NOTIMPL. The destinations come from "<exe>.ini":
//   [Destinations] Count=<n>  1=<description> ...   [Server] Fail=<step>
// where a failing step (list, count, configuration, query-configuration, item, query-item,
// description) answers E_FAIL. Every call is appended to "<exe>.calls", and every object's end
// ("Released <kind>"), so that a test can tell that each object made was given back; the
// process ends when the last object it made is released.
// What it does not do: destinations are only descriptions, and no other operation of the
// suite's server is implemented.
#include "platform/win32/Windows.h"

#include <objbase.h>

#include <string>
#include <utility>

#include "tools/fakes/FakeSupport.h"

namespace {

constexpr GUID kServerClass = {
    0xB3E91A27, 0x5C40, 0x4F6D, {0x9A, 0x18, 0x7E, 0x2C, 0x05, 0xD4, 0xF9, 0x61}};
constexpr GUID kServerInterface = {
    0x4A7F2C90, 0xE1B3, 0x4D58, {0x8C, 0x6E, 0x91, 0xF0, 0xA3, 0xB5, 0xD2, 0x74}};
constexpr GUID kConfigurationInterface = {
    0x3E0D042F, 0xE24E, 0x4A03, {0x85, 0xC1, 0xDA, 0x91, 0x9F, 0x97, 0xC9, 0xB3}};
constexpr GUID kDestinationInterface = {
    0xC8D05E14, 0x3B7A, 0x4E92, {0xB5, 0xF1, 0x2A, 0x69, 0xD0, 0xE7, 0xC3, 0xA8}};
// The list's own interface (the check never asks for it by name; the marshaller does).
constexpr GUID kListInterface = {
    0x9E4C7A20, 0x61B5, 0x4F83, {0xA0, 0xD2, 0x5B, 0x7E, 0x14, 0xC9, 0xF3, 0x86}};

// Objects alive in this process, and the thread that ends it when none is left.
LONG g_live = 0;
DWORD g_mainThread = 0;

bool Fails(const wchar_t* step) {
  return *step != L'\0' && fake::Setting(L"Server", L"Fail", L"") == step;
}

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wnon-virtual-dtor"
// IUnknown of every object here: the interface it answers besides IUnknown, and its end
// recorded. Nothing else of it is virtual, so that the operations of the classes below take the
// slots from 3 on, as the check calls them (a virtual destructor would take two).
class Object : public IUnknown {
 public:
  struct Kind {
    const wchar_t* name;
    const GUID* answers;          // null: IUnknown only
    const wchar_t* failingQuery;  // the step that makes the query of `answers` fail
    void (*destroy)(Object*);
  };
  explicit Object(const Kind& kind) : kind_(kind) { InterlockedIncrement(&g_live); }
  Object(const Object&) = delete;
  Object& operator=(const Object&) = delete;

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override {
    *out = nullptr;
    if (IsEqualIID(riid, IID_IUnknown)) {
      *out = static_cast<IUnknown*>(this);
    } else if (kind_.answers != nullptr && IsEqualIID(riid, *kind_.answers)) {
      if (Fails(kind_.failingQuery)) {
        fake::Record(std::wstring(L"QueryInterface failed ") + kind_.name);
        return E_NOINTERFACE;
      }
      *out = static_cast<IUnknown*>(this);
    }
    if (*out == nullptr) return E_NOINTERFACE;
    AddRef();
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override {
    return static_cast<ULONG>(InterlockedIncrement(&refs_));
  }
  ULONG STDMETHODCALLTYPE Release() override {
    const LONG left = InterlockedDecrement(&refs_);
    if (left == 0) {
      fake::Record(std::wstring(L"Released ") + kind_.name);
      kind_.destroy(this);
      if (InterlockedDecrement(&g_live) == 0) ::PostThreadMessageW(g_mainThread, WM_QUIT, 0, 0);
    }
    return static_cast<ULONG>(left);
  }

 protected:
  ~Object() = default;
  HRESULT NotImplemented(int slot) {
    fake::Record(std::wstring(kind_.name) + L" slot " + std::to_wstring(slot));
    return E_NOTIMPL;
  }

 private:
  Kind kind_;
  LONG refs_ = 1;
};

template <class Self>
void Destroy(Object* object) {
  delete static_cast<Self*>(object);
}

// Slots 3 to 6, which the check never calls.
class Unused : public Object {
 public:
  using Object::Object;

 protected:
  ~Unused() = default;

 public:
  virtual HRESULT STDMETHODCALLTYPE Slot3() { return NotImplemented(3); }
  virtual HRESULT STDMETHODCALLTYPE Slot4() { return NotImplemented(4); }
  virtual HRESULT STDMETHODCALLTYPE Slot5() { return NotImplemented(5); }
  virtual HRESULT STDMETHODCALLTYPE Slot6() { return NotImplemented(6); }
};

class Destination final : public Unused {
 public:
  explicit Destination(std::wstring description)
      : Unused({L"item", &kDestinationInterface, L"query-item", &Destroy<Destination>}),
        description_(std::move(description)) {}
  virtual HRESULT STDMETHODCALLTYPE Slot7() { return NotImplemented(7); }
  virtual HRESULT STDMETHODCALLTYPE Description(BSTR* out) {
    fake::Record(L"Description " + description_);
    *out = nullptr;
    if (Fails(L"description")) return E_FAIL;
    *out = ::SysAllocString(description_.c_str());
    return S_OK;
  }

 private:
  std::wstring description_;
};

class List final : public Unused {
 public:
  List() : Unused({L"list", &kListInterface, L"", &Destroy<List>}) {}
  virtual HRESULT STDMETHODCALLTYPE Item(LONG index, IUnknown** out) {
    fake::Record(L"Item " + std::to_wstring(index));
    *out = nullptr;
    const LONG count = static_cast<LONG>(fake::SettingNumber(L"Destinations", L"Count", 0));
    if (Fails(L"item") || index < 0 || index >= count) return E_FAIL;
    *out = new Destination(fake::Setting(L"Destinations", std::to_wstring(index + 1).c_str(), L""));
    return S_OK;
  }
  virtual HRESULT STDMETHODCALLTYPE Count(LONG* out) {
    fake::Record(L"Count");
    *out = 0;
    if (Fails(L"count")) return E_FAIL;
    *out = static_cast<LONG>(fake::SettingNumber(L"Destinations", L"Count", 0));
    return S_OK;
  }
};

class Configuration final : public Object {
 public:
  Configuration()
      : Object({L"configuration", &kConfigurationInterface, L"query-configuration",
                &Destroy<Configuration>}) {}
};

class Server final : public Unused {
 public:
  Server() : Unused({L"server", &kServerInterface, L"", &Destroy<Server>}) {
    fake::Record(L"Server made");
  }
  virtual HRESULT STDMETHODCALLTYPE DestinationList(IUnknown** out) {
    fake::Record(L"DestinationList");
    *out = nullptr;
    if (Fails(L"list")) return E_FAIL;
    *out = new List();
    return S_OK;
  }
  virtual HRESULT STDMETHODCALLTYPE Slot8() { return NotImplemented(8); }
  virtual HRESULT STDMETHODCALLTYPE ConfigurationObject(IUnknown** out) {
    fake::Record(L"ConfigurationObject");
    *out = nullptr;
    if (Fails(L"configuration")) return E_FAIL;
    *out = new Configuration();
    return S_OK;
  }
};
#pragma GCC diagnostic pop

fake::Factory<Server> g_servers;

// The type library registered, and HKCR\CLSID\{class}\LocalServer32 naming this program.
bool Register() {
  const std::wstring self = fake::OwnPath();
  const std::wstring library = self.substr(0, self.size() - 4) + L".tlb";
  ITypeLib* types = nullptr;
  if (FAILED(::LoadTypeLibEx(library.c_str(), REGKIND_REGISTER, &types))) return false;
  types->Release();
  return fake::RegisterServer(kServerClass, L"LocalServer32");
}

}  // namespace

int main() {
  if (std::wstring(::GetCommandLineW()).find(L"/RegServer") != std::wstring::npos) {
    return Register() ? 0 : 1;
  }
  g_mainThread = ::GetCurrentThreadId();
  // The message queue exists before anyone can post the end to it.
  MSG message;
  ::PeekMessageW(&message, nullptr, 0, 0, PM_NOREMOVE);
  if (FAILED(::CoInitialize(nullptr))) return 1;
  DWORD cookie = 0;
  if (FAILED(::CoRegisterClassObject(kServerClass, &g_servers, CLSCTX_LOCAL_SERVER,
                                     REGCLS_MULTIPLEUSE, &cookie))) {
    ::CoUninitialize();
    return 1;
  }
  fake::Record(L"Serving");
  // Until the last object is released, or a minute without a caller.
  ::SetTimer(nullptr, 0, 60000, nullptr);
  while (::GetMessageW(&message, nullptr, 0, 0) > 0) {
    if (message.message == WM_TIMER && g_live == 0) break;
    ::DispatchMessageW(&message);
  }
  ::CoRevokeClassObject(cookie);
  ::CoUninitialize();
  return 0;
}
