// The suite's tray monitor (qvmonitr.exe), for the monitor check under Wine: it runs until it is
// ended, recording each start with its command line in "<module>.calls". With "<module>.ini"
// [monitor] second=1 its first instance starts a second one ("/second"), as a monitor started
// twice would leave the machine.
#include <string>

#include "tools/fakes/FakeSupport.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  const std::wstring commandLine = ::GetCommandLineW();
  fake::Record(L"started " + commandLine);
  const bool second = commandLine.find(L"/second") != std::wstring::npos;
  if (!second && fake::SettingNumber(L"monitor", L"second", 0) != 0) {
    std::wstring again = L"\"" + fake::OwnPath() + L"\" /second";
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION started{};
    if (::CreateProcessW(nullptr, again.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                         &startup, &started)) {
      ::CloseHandle(started.hThread);
      ::CloseHandle(started.hProcess);
    }
  }
  // Until TerminateProcess, or the prefix's end.
  for (;;) ::Sleep(INFINITE);
}
