#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/api/ISystem.h"
#include "platform/sim/SimCommon.h"
#include "platform/sim/SimSystem.h"
#include "platform/sim/VersionBlock.h"

namespace kvd::sim {

class SimFileSystem;

// The running 32-bit process: its executable, command line, ids, loaded modules and the
// version resources of files.
class SimProcess final : public platform::IProcess {
 public:
  static constexpr platform::ModuleHandle kExecutableHandle = 0x400000;

  SimProcess(SimCalls& calls, SimErrors& errors, SimFileSystem& files);

  std::uint32_t GetModuleFileName(platform::ModuleHandle module, wchar_t* buffer,
                                  std::uint32_t chars) override;
  // With FromAddress every address is taken to be inside the executable.
  bool GetModuleHandleEx(std::uint32_t flags, const void* address,
                         platform::ModuleHandle* result) override;
  const wchar_t* GetCommandLine() override;
  std::uint32_t GetCurrentProcessId() override;
  // Each real thread gets its own number, 0x1000 for the first one and 4 more for each next.
  std::uint32_t GetCurrentThreadId() override;
  bool EnumProcessModules(platform::ModuleHandle* modules, std::uint32_t bytes,
                          std::uint32_t* bytesNeeded) override;
  // The size answered is the block's size and room for the conversions Windows keeps beside it,
  // as GetFileVersionInfoSizeW answers: (block - VS_FIXEDFILEINFO) * 4.
  std::uint32_t GetFileVersionInfoSize(const wchar_t* path) override;
  bool GetFileVersionInfo(const wchar_t* path, std::uint32_t bytes, void* data) override;
  bool VerQueryValue(const void* block, const wchar_t* subBlock, const std::uint8_t** value,
                     std::uint32_t* length) override;
  // The machine's other processes (StartProcess) after this one, in the order they started.
  // Faults: "CreateToolhelp32Snapshot".
  platform::SyncHandle CreateProcessSnapshot() override;
  bool Process32First(platform::SyncHandle snapshot, platform::ProcessEntry* entry) override;
  bool Process32Next(platform::SyncHandle snapshot, platform::ProcessEntry* entry) override;
  // An id that runs nothing: ERROR_INVALID_PARAMETER. Faults: "OpenProcess".
  platform::SyncHandle OpenProcess(std::uint32_t access, std::uint32_t processId) override;
  // Without QueryLimitedInformation: ERROR_ACCESS_DENIED.
  bool QueryFullProcessImageName(platform::SyncHandle process, std::wstring* path) override;
  // Without Terminate, or when the process has ended: ERROR_ACCESS_DENIED. Faults:
  // "TerminateProcess".
  bool TerminateProcess(platform::SyncHandle process, std::uint32_t exitCode) override;
  bool CloseProcessHandle(platform::SyncHandle handle) override;
  // Recorded, and the caller goes on: the process a test runs in must not end.
  void ExitProcess(std::uint32_t code) override;

  // Set-up and inspection (not counted). Paths are full Windows paths; matching is
  // case-insensitive. A changed command line leaves earlier GetCommandLine pointers valid.
  void SetModulePath(std::wstring_view path);
  std::wstring ModulePath() const;
  void SetCommandLine(std::wstring_view commandLine);
  void SetProcessId(std::uint32_t id);
  platform::ModuleHandle AddModule(std::wstring_view path);
  void PutVersionInfo(std::wstring_view path, const VersionResource& info);
  // A block as some resource compiler made it, stored as it is.
  void PutVersionBlock(std::wstring_view path, std::vector<std::uint8_t> block);
  // The code of the first ExitProcess, if there was one.
  std::optional<std::uint32_t> ExitCode() const;
  // Another process runs on the machine from now on: its id (from 0x2000 on, 8 apart) unless one
  // is given. `exeFile` is what a snapshot reports, the image path's file name unless given.
  std::uint32_t StartProcess(std::wstring_view imagePath, std::uint32_t id = 0,
                             std::wstring_view exeFile = {});
  void EndProcess(std::uint32_t id);
  struct Running {
    std::uint32_t id = 0;
    std::wstring imagePath;
    std::wstring exeFile;
  };
  std::vector<Running> Processes() const;
  // The ids TerminateProcess ended, in order.
  std::vector<std::uint32_t> Terminated() const;
  // Snapshot and process handles not closed yet.
  std::size_t OpenProcessHandles() const;

 private:
  struct Module {
    platform::ModuleHandle handle = 0;
    std::wstring path;
  };
  const std::vector<std::uint8_t>* FindBlockLocked(const wchar_t* path);
  struct Handle {
    bool snapshot = false;
    std::vector<platform::ProcessEntry> entries;  // a snapshot's, with its cursor
    std::size_t next = 0;
    std::uint32_t processId = 0;  // an opened process's, with the rights it was opened with
    std::uint32_t access = 0;
  };
  Handle* FindHandleLocked(platform::SyncHandle handle, bool snapshot);
  bool NextEntry(platform::SyncHandle snapshot, platform::ProcessEntry* entry, bool first);

  SimCalls& calls_;
  SimErrors& errors_;
  SimFileSystem& files_;
  mutable std::mutex mutex_;
  std::vector<Module> modules_;  // the executable first
  std::deque<std::wstring> commandLines_;
  std::uint32_t processId_ = 4242;
  PerThread<std::uint32_t> threadIds_;
  std::uint32_t nextThreadId_ = 0x1000;
  platform::ModuleHandle nextModule_ = 0x10000000;
  std::map<std::wstring, std::vector<std::uint8_t>> versions_;  // keyed by lower-case path
  std::optional<std::uint32_t> exitCode_;
  std::vector<Running> running_;
  std::uint32_t nextOtherId_ = 0x2000;
  std::map<platform::SyncHandle, Handle> handles_;
  platform::SyncHandle nextHandle_ = 0x7000;
  std::vector<std::uint32_t> terminated_;
};

}  // namespace kvd::sim
