// devmgr.dll for the Wine tier, which has none: the one export the program and its helper call.
// Each call appends its command line to "<this library's path>.calls" (UTF-8, one line a call),
// then shows the "device's property sheet" as a message box that a test closes, and returns when
// it is closed, as the real sheet does.
#include "platform/win32/Windows.h"

#include <cstdio>
#include <string>

#include "tools/fakes/FakeSupport.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) fake::g_self = instance;
  return TRUE;
}

extern "C" __declspec(dllexport) void WINAPI
    DeviceProperties_RunDLLW(HWND owner, HINSTANCE, LPCWSTR commandLine, int) {
  const std::wstring line = commandLine != nullptr ? commandLine : L"";
  fake::Record(line);
  ::MessageBoxW(owner, line.c_str(), L"Device properties", MB_OK | MB_SETFOREGROUND);
}
