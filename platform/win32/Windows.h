// platform/win32: the real Windows adapters of the ports. This header is the one way into
// <windows.h> for platform/win32, app/ and ui/; nothing in the portable core includes it.
#pragma once

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef _WIN32_WINNT
#define _WIN32_WINNT 0x0601
#endif
#ifndef UNICODE
#define UNICODE
#endif
#ifndef _UNICODE
#define _UNICODE
#endif
// psapi's version-2 names are macros (EnumProcessModules -> K32EnumProcessModules) that would
// rename the IProcess method of the same name in every file that includes psapi.h.
#ifndef PSAPI_VERSION
#define PSAPI_VERSION 1
#endif

#include <windows.h>
// Left out by WIN32_LEAN_AND_MEAN; declares ShellExecuteW, whose macro is undone below.
#include <shellapi.h>
// Left out by WIN32_LEAN_AND_MEAN too: the service control manager.
#include <winsvc.h>
// Process snapshots.
#include <tlhelp32.h>

static_assert(_WIN32_WINNT >= 0x0601, "RegDeleteKeyExW and RegDeleteTreeW need Windows 7 headers");
static_assert(sizeof(wchar_t) == 2, "the adapters pass wchar_t texts to the W calls unchanged");

// The ports name their methods after the calls they wrap. <windows.h> maps those names to the A or
// W function by macro, which would rename the methods in the files that see this header and not in
// the portable core that declares and calls them. Code behind this header calls the W functions by
// their full names.
#undef CreateDirectory
#undef CreateFile
#undef CreateEvent
#undef CreateMutex
#undef DeleteFile
#undef ExpandEnvironmentStrings
#undef FindFirstFile
#undef FindNextFile
#undef FormatMessage
#undef GetCommandLine
#undef GetFileAttributesEx
#undef SetFileAttributes
#undef GetFileVersionInfo
#undef GetFileVersionInfoSize
#undef GetLongPathName
#undef GetModuleFileName
#undef GetModuleHandleEx
#undef GetTempFileName
#undef OpenEvent
#undef OutputDebugString
#undef PostMessage
#undef SearchPath
#undef SendMessage
#undef SetEnvironmentVariable
#undef VerQueryValue
#undef CreateProcess
#undef MessageBox
#undef GetVersionEx
#undef LookupAccountSid
#undef LookupPrivilegeValue
#undef InitiateSystemShutdownEx
#undef GetPrivateProfileString
#undef GetPrivateProfileSection
#undef LoadLibrary
#undef GetSystemDirectory
#undef GetWindowsDirectory
#undef GetMessage
#undef DispatchMessage
#undef CreateFont
#undef EnumFontFamiliesEx
#undef ShellExecute
#undef ShellExecuteEx
#undef OpenSCManager
#undef OpenService
#undef QueryServiceConfig
#undef StartService
#undef SetWindowText
#undef LoadIcon
#undef AppendMenu
#undef CopyFile
#undef Process32First
#undef Process32Next
#undef QueryFullProcessImageName

#include <cstdint>

namespace kvd::platform::win32 {

// The ports' counts are std::uint32_t, Windows' are DWORD (unsigned long) or UINT: the same 32
// bits but distinct types, so an in/out count goes through a local of the Windows type. A null
// pointer stays null, because several calls answer differently when a count is not wanted.
template <class WinType>
class InOut {
 public:
  explicit InOut(std::uint32_t* port) : port_(port), value_(port ? *port : 0) {}
  InOut(const InOut&) = delete;
  InOut& operator=(const InOut&) = delete;
  ~InOut() {
    if (port_) *port_ = static_cast<std::uint32_t>(value_);
  }
  WinType* get() { return port_ ? &value_ : nullptr; }

 private:
  std::uint32_t* port_;
  WinType value_;
};

}  // namespace kvd::platform::win32
