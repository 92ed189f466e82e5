// The program's entry point: the one place that wires the real machine's ports.
#include "platform/win32/Windows.h"

#include "app/KavidApp.h"
#include "platform/win32/ProgramPorts.h"
#include "ui/win32/Win32Ui.h"

using kvd::platform::win32::ProgramLogger;
using kvd::platform::win32::ProgramMachine;

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  DUDiduzuz::CLogModule::SetCurrent(&ProgramLogger());
  {
    CKavidApp app(ProgramMachine().Ports());
    kvd::ui::win32::CWin32Ui ui;
    app.SetStartupUi(&ui);
    app.SetUi(&ui);
    app.InitInstance();
    app.ExitInstance();
  }
  DUDiduzuz::CLogModule::SetCurrent(nullptr);
  return 0;
}
