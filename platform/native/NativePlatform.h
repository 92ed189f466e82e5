#pragma once

#include <memory>

#include "platform/api/Platform.h"

namespace kvd::native {

// Linux adapters for the ports that benchmarks measure for real: files, last error, clock and
// mutexes. Windows paths are mapped onto the Linux file system ("C:\\a\\b" and "\\a\\b" become
// "/a/b"). Exclusive opens (share mode 0) use advisory locks, so a second exclusive open of the
// same file answers ERROR_SHARING_VIOLATION as on Windows.
class NativeErrors : public platform::IErrors {
 public:
  std::uint32_t GetLastError() override;
  void SetLastError(std::uint32_t code) override;
  // No system message table here: always answers 0 with ERROR_MR_MID_NOT_FOUND.
  std::uint32_t FormatMessage(std::uint32_t code, std::uint32_t languageId, wchar_t* buffer,
                              std::uint32_t chars) override;
};

class NativeFileSystem : public platform::IFileSystem {
 public:
  explicit NativeFileSystem(NativeErrors& errors) : errors_(errors) {}
  bool GetFileAttributesEx(const wchar_t* path, platform::FileAttributeData* out) override;
  bool SetFileAttributes(const wchar_t* path, std::uint32_t attributes) override;
  platform::FileHandle CreateFile(const wchar_t* path, std::uint32_t desiredAccess,
                                  std::uint32_t shareMode, std::uint32_t creationDisposition,
                                  std::uint32_t flagsAndAttributes) override;
  std::uint32_t SetFilePointer(platform::FileHandle handle, std::int32_t distance,
                               std::uint32_t moveMethod) override;
  bool WriteFile(platform::FileHandle handle, const void* data, std::uint32_t bytes,
                 std::uint32_t* written) override;
  bool ReadFile(platform::FileHandle handle, void* data, std::uint32_t bytes,
                std::uint32_t* read) override;
  bool CloseHandle(platform::FileHandle handle) override;
  bool DeleteFile(const wchar_t* path) override;
  bool CopyFile(const wchar_t* from, const wchar_t* to, bool failIfExists) override;
  bool CreateDirectory(const wchar_t* path) override;
  std::uint32_t GetTempFileName(const wchar_t* pathName, const wchar_t* prefix,
                                std::uint32_t unique, wchar_t* tempFileName) override;
  std::uint32_t GetLongPathName(const wchar_t* shortPath, wchar_t* longPath,
                                std::uint32_t chars) override;
  std::uint32_t SearchPath(const wchar_t* path, const wchar_t* fileName, const wchar_t* extension,
                           std::uint32_t chars, wchar_t* buffer) override;
  platform::HResult GetFolderPath(int csidl, wchar_t* path) override;
  platform::FileHandle FindFirstFile(const wchar_t* pattern, platform::FindData* out) override;
  bool FindNextFile(platform::FileHandle find, platform::FindData* out) override;
  bool FindClose(platform::FileHandle find) override;

 private:
  NativeErrors& errors_;
};

class NativeClock : public platform::IClock {
 public:
  std::uint32_t GetTickCount() override;
  bool QueryPerformanceCounter(std::int64_t* counter) override;
  bool QueryPerformanceFrequency(std::int64_t* frequency) override;
  bool GetLocalCalendarTime(platform::CalendarTime* out) override;
  void Sleep(std::uint32_t milliseconds) override;
};

// Unnamed recursive mutexes and unnamed events only.
class NativeSync : public platform::ISync {
 public:
  platform::SyncHandle CreateMutex(bool initialOwner, const wchar_t* name) override;
  std::uint32_t WaitForSingleObject(platform::SyncHandle handle,
                                    std::uint32_t milliseconds) override;
  std::uint32_t WaitForMultipleObjects(std::uint32_t count, const platform::SyncHandle* handles,
                                       bool waitAll, std::uint32_t milliseconds) override;
  bool ReleaseMutex(platform::SyncHandle handle) override;
  bool CloseHandle(platform::SyncHandle handle) override;
  platform::SyncHandle CreateEvent(bool manualReset, bool initialState,
                                   const wchar_t* name) override;
  platform::SyncHandle OpenEvent(const wchar_t* name) override;
  bool SetEvent(platform::SyncHandle handle) override;
  bool ResetEvent(platform::SyncHandle handle) override;
};

// The Linux path for a Windows path.
std::string ToNativePath(std::wstring_view windowsPath);

}  // namespace kvd::native
