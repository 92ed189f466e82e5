#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/api/Platform.h"
#include "platform/api/UniqueHandle.h"

namespace kvd::platform {

// Owners of the handles that the ports hand out, each closed through the port that opened it.

struct RegKeyTraits {
  using Handle = HKey;
  IRegistry* registry = nullptr;
  static constexpr Handle Invalid() noexcept { return 0; }
  void Close(Handle key) const noexcept {
    // The predefined roots are never closed.
    if (key != kHkeyCurrentUser && key != kHkeyLocalMachine) registry->CloseKey(key);
  }
};
using UniqueHkey = UniqueHandle<RegKeyTraits>;
inline UniqueHkey MakeUniqueHkey(IRegistry& registry) {
  return UniqueHkey(RegKeyTraits{&registry});
}

// A COM reference of a component outside the program, given back once.
struct ComObjectTraits {
  using Handle = ComObject;
  IComObjects* com = nullptr;
  static constexpr Handle Invalid() noexcept { return 0; }
  void Close(Handle object) const noexcept { com->Release(object); }
};
using UniqueComObject = UniqueHandle<ComObjectTraits>;
inline UniqueComObject MakeUniqueComObject(IComObjects& com) {
  return UniqueComObject(ComObjectTraits{&com});
}

struct FileTraits {
  using Handle = FileHandle;
  IFileSystem* files = nullptr;
  static constexpr Handle Invalid() noexcept { return kInvalidFile; }
  void Close(Handle handle) const noexcept { files->CloseHandle(handle); }
};
using UniqueFile = UniqueHandle<FileTraits>;
inline UniqueFile MakeUniqueFile(IFileSystem& files, FileHandle handle = kInvalidFile) {
  return UniqueFile(FileTraits{&files}, handle);
}

struct FindTraits {
  using Handle = FileHandle;
  IFileSystem* files = nullptr;
  static constexpr Handle Invalid() noexcept { return kInvalidFile; }
  void Close(Handle handle) const noexcept { files->FindClose(handle); }
};
using UniqueFind = UniqueHandle<FindTraits>;
inline UniqueFind MakeUniqueFind(IFileSystem& files, FileHandle handle = kInvalidFile) {
  return UniqueFind(FindTraits{&files}, handle);
}

// The whole file through the port (opened for reading, sharing reading and writing), or
// nothing when it cannot be opened or a read fails.
inline std::optional<std::vector<std::uint8_t>> ReadWholeFile(IFileSystem& files,
                                                              const std::wstring& path) {
  UniqueFile handle = MakeUniqueFile(
      files, files.CreateFile(path.c_str(), file::GenericRead, file::ShareRead | file::ShareWrite,
                              file::OpenExisting, file::AttributeNormal));
  if (!handle.valid()) return std::nullopt;
  std::vector<std::uint8_t> bytes;
  std::vector<std::uint8_t> chunk(65536);
  for (;;) {
    std::uint32_t got = 0;
    if (!files.ReadFile(handle.get(), chunk.data(), static_cast<std::uint32_t>(chunk.size()),
                        &got)) {
      return std::nullopt;
    }
    if (got == 0) return bytes;
    bytes.insert(bytes.end(), chunk.begin(), chunk.begin() + got);
  }
}

struct SyncTraits {
  using Handle = SyncHandle;
  ISync* sync = nullptr;
  static constexpr Handle Invalid() noexcept { return 0; }
  void Close(Handle handle) const noexcept { sync->CloseHandle(handle); }
};
using UniqueSync = UniqueHandle<SyncTraits>;
inline UniqueSync MakeUniqueSync(ISync& sync, SyncHandle handle = 0) {
  return UniqueSync(SyncTraits{&sync}, handle);
}

struct DevInfoSetTraits {
  using Handle = DevInfoSet;
  IDevices* devices = nullptr;
  static constexpr Handle Invalid() noexcept { return kInvalidDevInfoSet; }
  void Close(Handle set) const noexcept { devices->DestroyDeviceInfoList(set); }
};
using UniqueDevInfoList = UniqueHandle<DevInfoSetTraits>;
inline UniqueDevInfoList MakeUniqueDevInfoList(IDevices& devices, DevInfoSet set) {
  return UniqueDevInfoList(DevInfoSetTraits{&devices}, set);
}

struct LibraryTraits {
  using Handle = ModuleHandle;
  IModules* modules = nullptr;
  static constexpr Handle Invalid() noexcept { return 0; }
  void Close(Handle module) const noexcept { modules->FreeLibrary(module); }
};
using UniqueLibrary = UniqueHandle<LibraryTraits>;
inline UniqueLibrary MakeUniqueLibrary(IModules& modules, ModuleHandle module) {
  return UniqueLibrary(LibraryTraits{&modules}, module);
}

struct ServiceHandleTraits {
  using Handle = ScHandle;
  IServices* services = nullptr;
  static constexpr Handle Invalid() noexcept { return 0; }
  void Close(Handle handle) const noexcept { services->CloseServiceHandle(handle); }
};
using UniqueScHandle = UniqueHandle<ServiceHandleTraits>;
inline UniqueScHandle MakeUniqueScHandle(IServices& services, ScHandle handle) {
  return UniqueScHandle(ServiceHandleTraits{&services}, handle);
}

struct ProcessHandleTraits {
  using Handle = SyncHandle;
  IProcess* process = nullptr;
  static constexpr Handle Invalid() noexcept { return 0; }
  void Close(Handle handle) const noexcept { process->CloseProcessHandle(handle); }
};
// A process snapshot or an opened process.
using UniqueProcessHandle = UniqueHandle<ProcessHandleTraits>;
inline UniqueProcessHandle MakeUniqueProcessHandle(IProcess& process, SyncHandle handle) {
  return UniqueProcessHandle(ProcessHandleTraits{&process}, handle);
}

}  // namespace kvd::platform
