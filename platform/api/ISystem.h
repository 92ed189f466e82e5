#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/api/Text.h"
#include "platform/api/Types.h"

namespace kvd::platform {

// Environment expansion (ExpandEnvironmentStringsW).
class IEnvironment {
 public:
  virtual ~IEnvironment() = default;

  // ExpandEnvironmentStringsW(source, destination, chars): the characters needed including the
  // NUL (the text is written only when that fits), 0 on failure. A %NAME% that is not defined
  // stays in the text as it is.
  virtual std::uint32_t ExpandEnvironmentStrings(const wchar_t* source, wchar_t* destination,
                                                 std::uint32_t chars) = 0;

  // SetEnvironmentVariableW(name, value); value null removes the variable.
  virtual bool SetEnvironmentVariable(const wchar_t* name, const wchar_t* value) = 0;
};

// `source` expanded, whatever its length; false (out unchanged) when the expansion fails.
inline bool ExpandEnvironment(IEnvironment& environment, const wchar_t* source, std::wstring& out) {
  return GrowAndRetry(out, [&](wchar_t* buffer, std::uint32_t chars) {
    const std::uint32_t needed = environment.ExpandEnvironmentStrings(source, buffer, chars);
    // The answer counts the NUL; GrowAndRetry wants characters without it.
    return needed == 0 ? 0u : (needed <= chars ? needed - 1 : needed);
  });
}

// GET_MODULE_HANDLE_EX_FLAG_* for GetModuleHandleEx.
namespace modflag {
inline constexpr std::uint32_t UnchangedRefcount = 0x2;
inline constexpr std::uint32_t FromAddress = 0x4;
}  // namespace modflag

// OpenProcess access rights.
namespace processaccess {
inline constexpr std::uint32_t Terminate = 0x0001;
inline constexpr std::uint32_t QueryLimitedInformation = 0x1000;
inline constexpr std::uint32_t Synchronize = 0x00100000;
}  // namespace processaccess

// One entry of a process snapshot (PROCESSENTRY32W: the parts the program reads).
struct ProcessEntry {
  std::uint32_t processId = 0;
  std::wstring exeFile;  // the executable's file name, as the system reports it
};

// Facts about the running process and the others on the machine (kernel32, psapi,
// version.dll).
class IProcess {
 public:
  virtual ~IProcess() = default;

  // GetModuleFileNameW(module, buffer, chars): characters copied without the NUL; when the
  // buffer is too small the text is truncated to chars - 1, chars is answered and the last
  // error is ERROR_INSUFFICIENT_BUFFER. module 0 is the executable.
  virtual std::uint32_t GetModuleFileName(ModuleHandle module, wchar_t* buffer,
                                          std::uint32_t chars) = 0;

  // GetModuleHandleExW(flags, address-or-name, result). With FromAddress, `address` is any
  // address inside the module.
  virtual bool GetModuleHandleEx(std::uint32_t flags, const void* address,
                                 ModuleHandle* result) = 0;

  // GetCommandLineW: valid for the life of the process.
  virtual const wchar_t* GetCommandLine() = 0;

  virtual std::uint32_t GetCurrentProcessId() = 0;
  virtual std::uint32_t GetCurrentThreadId() = 0;

  // EnumProcessModules(current process, modules, bytes, bytesNeeded).
  virtual bool EnumProcessModules(ModuleHandle* modules, std::uint32_t bytes,
                                  std::uint32_t* bytesNeeded) = 0;

  // GetFileVersionInfoSizeW(path, nullptr): bytes of the version block, 0 when there is none.
  virtual std::uint32_t GetFileVersionInfoSize(const wchar_t* path) = 0;

  // GetFileVersionInfoW(path, 0, bytes, data).
  virtual bool GetFileVersionInfo(const wchar_t* path, std::uint32_t bytes, void* data) = 0;

  // VerQueryValueW(block, subBlock, value, length) over a block read by GetFileVersionInfo.
  // For "\\StringFileInfo\\..." the value is UTF-16LE text and the length counts characters
  // (with the NUL); otherwise it counts bytes. The value points into the block.
  virtual bool VerQueryValue(const void* block, const wchar_t* subBlock, const std::uint8_t** value,
                             std::uint32_t* length) = 0;

  // CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0): the processes running now; 0 on failure
  // (last error set). Closed with CloseProcessHandle.
  virtual SyncHandle CreateProcessSnapshot() = 0;
  // Process32FirstW / Process32NextW: false at the end of the list (ERROR_NO_MORE_FILES) or on
  // failure.
  virtual bool Process32First(SyncHandle snapshot, ProcessEntry* entry) = 0;
  virtual bool Process32Next(SyncHandle snapshot, ProcessEntry* entry) = 0;
  // OpenProcess(access, FALSE, id): 0 when the process cannot be opened (last error set): it
  // has ended, or the rights are refused. Closed with CloseProcessHandle.
  virtual SyncHandle OpenProcess(std::uint32_t access, std::uint32_t processId) = 0;
  // QueryFullProcessImageNameW(process, 0, ...): the full path of its executable; needs
  // QueryLimitedInformation.
  virtual bool QueryFullProcessImageName(SyncHandle process, std::wstring* path) = 0;
  // TerminateProcess(process, exitCode); needs Terminate.
  virtual bool TerminateProcess(SyncHandle process, std::uint32_t exitCode) = 0;
  // CloseHandle on a snapshot or a process handle of this port.
  virtual bool CloseProcessHandle(SyncHandle handle) = 0;

  // ExitProcess(code): ends the process at once with every thread in it; no destructor of the
  // program runs. (The simulated machine records the code and returns.)
  virtual void ExitProcess(std::uint32_t code) = 0;
};

// Local calendar time as the C run-time's localtime fills it.
struct CalendarTime {
  int year = 0;   // four digits
  int month = 0;  // 1..12
  int day = 0;    // 1..31
  int hour = 0;
  int minute = 0;
  int second = 0;
};

// Time. The Win32 clock really waits; the simulated one only advances.
class IClock {
 public:
  virtual ~IClock() = default;

  // GetTickCount: milliseconds since start, wrapping at 2^32.
  virtual std::uint32_t GetTickCount() = 0;

  // QueryPerformanceCounter / QueryPerformanceFrequency.
  virtual bool QueryPerformanceCounter(std::int64_t* counter) = 0;
  virtual bool QueryPerformanceFrequency(std::int64_t* frequency) = 0;

  // The run-time's time(nullptr) followed by localtime: false when the local time cannot be had.
  virtual bool GetLocalCalendarTime(CalendarTime* out) = 0;

  // Sleep(milliseconds).
  virtual void Sleep(std::uint32_t milliseconds) = 0;
};

// The debugger-output channel (OutputDebugStringW).
class IDebugOutput {
 public:
  virtual ~IDebugOutput() = default;
  virtual void OutputDebugString(const wchar_t* text) = 0;
};

// FORMAT_MESSAGE_* and language ids for FormatMessage.
inline constexpr std::uint32_t kLangNeutralSublangDefault = 0x0400;  // MAKELANGID(0, 1)

// The thread's last error and system message texts.
class IErrors {
 public:
  virtual ~IErrors() = default;

  // GetLastError / SetLastError of the calling thread.
  virtual std::uint32_t GetLastError() = 0;
  virtual void SetLastError(std::uint32_t code) = 0;

  // FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code,
  // languageId, buffer, chars, nullptr): characters written without the NUL; 0 when the system
  // has no message for the code (last error set, e.g. ERROR_MR_MID_NOT_FOUND). The system's
  // texts end with "\r\n".
  virtual std::uint32_t FormatMessage(std::uint32_t code, std::uint32_t languageId, wchar_t* buffer,
                                      std::uint32_t chars) = 0;
};

// WaitForSingleObject results.
namespace wait {
inline constexpr std::uint32_t Object0 = 0x00000000u;
inline constexpr std::uint32_t Abandoned = 0x00000080u;
inline constexpr std::uint32_t Timeout = 0x00000102u;
inline constexpr std::uint32_t Failed = 0xFFFFFFFFu;
inline constexpr std::uint32_t Infinite = 0xFFFFFFFFu;
inline constexpr std::uint32_t kMaximumWaitObjects = 64;  // MAXIMUM_WAIT_OBJECTS
}  // namespace wait

// Kernel synchronisation objects: mutexes and events.
class ISync {
 public:
  virtual ~ISync() = default;

  // CreateMutexW(nullptr, initialOwner, name): name null makes an unnamed mutex. 0 on failure.
  // A named mutex that exists already is opened, with last error ERROR_ALREADY_EXISTS. A mutex
  // is recursive for the thread that owns it.
  virtual SyncHandle CreateMutex(bool initialOwner, const wchar_t* name) = 0;

  // WaitForSingleObject(handle, milliseconds): one of wait::*.
  virtual std::uint32_t WaitForSingleObject(SyncHandle handle, std::uint32_t milliseconds) = 0;

  // WaitForMultipleObjects(count, handles, waitAll, milliseconds) on events: with waitAll false,
  // wait::Object0 + the lowest index of a signalled event (an auto-reset event is reset for
  // this waiter only), wait::Timeout, or wait::Failed (a handle that is not an event, count 0
  // or above kMaximumWaitObjects). The program only ever waits for any one of a few events.
  virtual std::uint32_t WaitForMultipleObjects(std::uint32_t count, const SyncHandle* handles,
                                               bool waitAll, std::uint32_t milliseconds) = 0;

  // ReleaseMutex: false when the caller does not own it.
  virtual bool ReleaseMutex(SyncHandle handle) = 0;

  // CreateEventW(nullptr, manualReset, initialState, name): name null makes an unnamed event; a
  // named one that exists already is opened, with last error ERROR_ALREADY_EXISTS. 0 on failure.
  // An auto-reset event releases one waiter per SetEvent and is then non-signalled again; a
  // SetEvent while nobody waits stays pending for the next wait.
  virtual SyncHandle CreateEvent(bool manualReset, bool initialState, const wchar_t* name) = 0;

  // OpenEventW(EVENT_ALL_ACCESS, FALSE, name): 0 when there is no such event
  // (ERROR_FILE_NOT_FOUND).
  virtual SyncHandle OpenEvent(const wchar_t* name) = 0;

  // SetEvent / ResetEvent.
  virtual bool SetEvent(SyncHandle handle) = 0;
  virtual bool ResetEvent(SyncHandle handle) = 0;

  // CloseHandle.
  virtual bool CloseHandle(SyncHandle handle) = 0;
};

// The file version of `path` from its version resource, most significant part first (1.2.3.4 is
// {1, 2, 3, 4}); none when it has no resource or a truncated one.
inline std::optional<std::array<std::uint16_t, 4>> ReadFileVersion(IProcess& process,
                                                                   const std::wstring& path) {
  constexpr std::uint32_t kFixedFileInfoBytes = 52;  // VS_FIXEDFILEINFO
  const std::uint32_t size = process.GetFileVersionInfoSize(path.c_str());
  if (size == 0) return std::nullopt;
  std::vector<std::uint8_t> block(size);
  if (!process.GetFileVersionInfo(path.c_str(), size, block.data())) return std::nullopt;
  const std::uint8_t* fixed = nullptr;
  std::uint32_t length = 0;
  if (!process.VerQueryValue(block.data(), L"\\", &fixed, &length) || fixed == nullptr ||
      length != kFixedFileInfoBytes) {
    return std::nullopt;
  }
  const auto word = [fixed](std::size_t offset) {
    return static_cast<std::uint16_t>(fixed[offset] | (fixed[offset + 1] << 8));
  };
  // dwFileVersionMS at offset 8, dwFileVersionLS at 12, each with its high word second.
  return std::array<std::uint16_t, 4>{word(10), word(8), word(14), word(12)};
}

}  // namespace kvd::platform
