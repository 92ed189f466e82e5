// The program's entry point: the one place that wires the real machine's ports.
#include "platform/win32/Windows.h"

#include "app/KavidApp.h"
#include "logging/DUDiduzuz.h"
#include "platform/win32/Win32Platform.h"
#include "ui/win32/Win32Ui.h"

namespace {

// The trace library's objects exist before the application object and outlive it, as static
// objects of a module would.
kvd::platform::win32::Win32Platform& Machine() {
  static kvd::platform::win32::Win32Platform machine;
  return machine;
}

DUDiduzuz::CLogModule& Logger() {
  static DUDiduzuz::SettingsStore store(Machine().Ports().sync);
  static DUDiduzuz::CLogModule logger(Machine().Ports(), store);
  return logger;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  DUDiduzuz::CLogModule::SetCurrent(&Logger());
  {
    CKavidApp app(Machine().Ports());
    kvd::ui::win32::CWin32Ui ui;
    app.SetStartupUi(&ui);
    app.SetUi(&ui);
    app.InitInstance();
    app.ExitInstance();
  }
  DUDiduzuz::CLogModule::SetCurrent(nullptr);
  return 0;
}
