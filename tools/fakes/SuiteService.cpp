// A Windows service of the maker's suite (the Parlo device service, the Lumeq service), for the
// service checks under Wine: created with "sc create" under any name, it runs from its start
// until the service control manager stops it, recording both in "<module>.calls" with the
// service's name. "<module>.ini" [service] refuse=1 makes it report a failed start instead.
#include <string>

#include "tools/fakes/FakeSupport.h"

namespace {

SERVICE_STATUS_HANDLE g_status = nullptr;
HANDLE g_stop = nullptr;
std::wstring g_name;

void Report(DWORD state, DWORD exitCode = NO_ERROR) {
  SERVICE_STATUS status{};
  status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
  status.dwCurrentState = state;
  status.dwControlsAccepted = state == SERVICE_RUNNING ? SERVICE_ACCEPT_STOP : 0;
  status.dwWin32ExitCode = exitCode;
  ::SetServiceStatus(g_status, &status);
}

DWORD WINAPI Control(DWORD control, DWORD, LPVOID, LPVOID) {
  if (control == SERVICE_CONTROL_STOP) {
    Report(SERVICE_STOP_PENDING);
    ::SetEvent(g_stop);
    return NO_ERROR;
  }
  return control == SERVICE_CONTROL_INTERROGATE ? NO_ERROR : ERROR_CALL_NOT_IMPLEMENTED;
}

void WINAPI ServiceMain(DWORD argc, LPWSTR* argv) {
  g_name = argc > 0 && argv[0] != nullptr ? argv[0] : L"";
  g_status = ::RegisterServiceCtrlHandlerExW(g_name.c_str(), Control, nullptr);
  if (g_status == nullptr) return;
  if (fake::SettingNumber(L"service", L"refuse", 0) != 0) {
    fake::Record(L"refused " + g_name);
    Report(SERVICE_STOPPED, ERROR_SERVICE_SPECIFIC_ERROR);
    return;
  }
  g_stop = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
  Report(SERVICE_RUNNING);
  fake::Record(L"started " + g_name);
  ::WaitForSingleObject(g_stop, INFINITE);
  fake::Record(L"stopped " + g_name);
  Report(SERVICE_STOPPED);
}

}  // namespace

int wmain() {
  wchar_t any[] = L"";
  const SERVICE_TABLE_ENTRYW table[] = {{any, ServiceMain}, {nullptr, nullptr}};
  return ::StartServiceCtrlDispatcherW(table) ? 0 : 1;
}
