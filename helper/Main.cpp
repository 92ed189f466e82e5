// DeviceManager.exe: the 64-bit helper that kavid.exe starts on 64-bit Windows for what needs the
// native device tree (a 32-bit process's SetupAPI and Configuration Manager calls do not reach
// it). One command line, one operation, one exit code; its own trace log beside kavid.exe's.
#include "platform/win32/Windows.h"

#include <shellapi.h>

#include <string>
#include <vector>

#include "logging/Trace.h"
#include "logging/TraceSetup.h"
#include "platform/api/Text.h"
#include "platform/win32/ProgramPorts.h"
#include "repair/DeviceManagerHelper.h"
#include "strings/StringTable.h"
#include "system/Helper.h"

KVD_TRACE_SOURCE();

namespace {

namespace mb = kvd::platform::mb;

// The items after the program's own name, as the caller quoted them.
std::vector<std::wstring> CommandLineItems() {
  int count = 0;
  wchar_t** items = ::CommandLineToArgvW(::GetCommandLineW(), &count);
  std::vector<std::wstring> out;
  if (items == nullptr) return out;
  for (int i = 1; i < count; ++i) out.emplace_back(items[i]);
  ::LocalFree(static_cast<HLOCAL>(items));
  return out;
}

// The texts of kavid.exe, one folder up: the restart question is the program's own.
void LoadTexts(kvd::platform::Platform& platform) {
  KVD_SCOPE(L"DeviceManager::LoadTexts");
  std::wstring module;
  kvd::platform::GrowAndRetry(module, [&](wchar_t* buffer, std::uint32_t chars) {
    return platform.process.GetModuleFileName(0, buffer, chars);
  });
  GlobalLag.Bind(platform);
  GlobalLag.SetFolder(kvd::platform::PathRemoveFileSpec(kvd::platform::PathRemoveFileSpec(module)));
  GlobalLag.m_LangID = GetDefaultLanguage(platform.system);
  if (!GlobalLag.LoadStrings()) KVD_LOG(DUDiduzuz::kind::Error, L"GlobalLag.Load() failed");
}

int Run(kvd::platform::Platform& platform) {
  KVD_SCOPE(L"DeviceManager::Run");
  LoadTexts(platform);
  kvd::repair::NodeHost host;
  // The helper has no window: the question comes to the front by itself, over kavid.exe.
  host.confirmRestart = [&platform] {
    return platform.shell.MessageBox(0, GlobalLag.GetString(L"RESTART_MSG").c_str(),
                                     GlobalLag.GetString(L"TITLE").c_str(),
                                     mb::YesNo | mb::IconWarning | mb::SetForeground) == mb::IdYes;
  };
  host.restart = [&platform] { return CUtil(platform).RequestReboot(); };
  return kvd::repair::RunDeviceManagerHelper(platform, CommandLineItems(), host);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  DUDiduzuz::CLogModule::SetCurrent(&kvd::platform::win32::ProgramLogger());
  kvd::platform::Platform& platform = kvd::platform::win32::ProgramMachine().Ports();
  // The configuration first: the trace library reads it at the first record.
  DUDiduzuz::ConfigureTrace(platform, DUDiduzuz::kHelperLog);
  // No answer rather than a number the caller would take for a problem or a repair.
  int exitCode = 2000;
  {
    KVD_SCOPE(L"DeviceManager::wWinMain");
    try {
      exitCode = Run(platform);
    } catch (...) {
      KVD_LOG(DUDiduzuz::kind::Error, L"The helper failed with an exception.");
    }
  }
  DUDiduzuz::CLogModule::SetCurrent(nullptr);
  return exitCode;
}
