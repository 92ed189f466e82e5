// The maker's device scan-settings library (qvdevset.dll) for the Wine tier: the two exports and
// the object's three operations the front-panel check calls, answering for one device as
// "<this library's path>.ini" tells it, read again at every object made (so that a test can give
// the device its shortcuts while the program waits, as the suite's settings program would):
//   [Device] Id=<KLE device id>  Creates=1  Opens=1  Lists=1  Shortcuts=<count>
// A device id other than Id makes no object. Every call is appended to "<library>.calls":
// "Create <id>", "OpenSession", "GetDeviceShortcutList <count>", "CloseSession", "Destroy"
// ("Destroy with the session open" when the caller did not close it first).
// What it does not do: it has no shortcuts of its own (the list is a block of zeros of the
// count's length) and reads nothing of the device.
#include "platform/win32/Windows.h"

#include <string>

#include "platform/win32/ScanSettingsTypes.h"
#include "tools/fakes/FakeSupport.h"

namespace {

using kvd::platform::win32::AiODeviceScanSettings;

class Settings final : public AiODeviceScanSettings {
 public:
  bool OpenSession() override {
    fake::Record(L"OpenSession");
    open_ = fake::SettingNumber(L"Device", L"Opens", 1) != 0;
    return open_;
  }
  void CloseSession() override {
    fake::Record(L"CloseSession");
    open_ = false;
  }
  bool GetDeviceShortcutList(void** list, unsigned long* count) override {
    const UINT shortcuts = fake::SettingNumber(L"Device", L"Shortcuts", 0);
    fake::Record(L"GetDeviceShortcutList " + std::to_wstring(shortcuts));
    // The list is handed out on failure too: the caller gives it back whatever the answer.
    *list = ::CoTaskMemAlloc(shortcuts * sizeof(DWORD) + 1);
    *count = shortcuts;
    return fake::SettingNumber(L"Device", L"Lists", 1) != 0;
  }
  bool Open() const { return open_; }

 private:
  bool open_ = false;
};

}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) fake::g_self = instance;
  return TRUE;
}

extern "C" __declspec(dllexport)
    AiODeviceScanSettings* __cdecl CreateAiODeviceScanSettings(BSTR deviceId) {
  const std::wstring id =
      deviceId != nullptr ? std::wstring(deviceId, ::SysStringLen(deviceId)) : L"";
  fake::Record(L"Create " + id);
  if (id != fake::Setting(L"Device", L"Id", L"") ||
      fake::SettingNumber(L"Device", L"Creates", 1) == 0) {
    return nullptr;
  }
  return new Settings();
}

extern "C" __declspec(dllexport) void __cdecl DestroyAiODeviceScanSettings(
    AiODeviceScanSettings* object) {
  auto* settings = static_cast<Settings*>(object);
  fake::Record(settings != nullptr && settings->Open() ? L"Destroy with the session open"
                                                       : L"Destroy");
  delete settings;
}
