#pragma once

#include <cstdint>
#include <string>

#include "platform/api/Types.h"

namespace kvd::platform {

namespace file {
// CreateFileW access, share and disposition values.
inline constexpr std::uint32_t GenericRead = 0x80000000u;
inline constexpr std::uint32_t GenericWrite = 0x40000000u;
inline constexpr std::uint32_t ShareRead = 0x1;
inline constexpr std::uint32_t ShareWrite = 0x2;
inline constexpr std::uint32_t ShareDelete = 0x4;
inline constexpr std::uint32_t CreateNew = 1;
inline constexpr std::uint32_t CreateAlways = 2;
inline constexpr std::uint32_t OpenExisting = 3;
inline constexpr std::uint32_t OpenAlways = 4;
inline constexpr std::uint32_t TruncateExisting = 5;
inline constexpr std::uint32_t AttributeReadOnly = 0x1;
inline constexpr std::uint32_t AttributeHidden = 0x2;
inline constexpr std::uint32_t AttributeSystem = 0x4;
inline constexpr std::uint32_t AttributeDirectory = 0x10;
inline constexpr std::uint32_t AttributeArchive = 0x20;
inline constexpr std::uint32_t AttributeNormal = 0x80;
inline constexpr std::uint32_t InvalidAttributes = 0xFFFFFFFFu;
// SetFilePointer move methods and failure value.
inline constexpr std::uint32_t Begin = 0;
inline constexpr std::uint32_t Current = 1;
inline constexpr std::uint32_t End = 2;
inline constexpr std::uint32_t InvalidSetFilePointer = 0xFFFFFFFFu;
}  // namespace file

// CSIDL values and flags for GetFolderPath.
namespace csidl {
inline constexpr int AppData = 0x001A;
inline constexpr int LocalAppData = 0x001C;
inline constexpr int CommonAppData = 0x0023;
inline constexpr int Windows = 0x0024;
inline constexpr int System = 0x0025;
inline constexpr int ProgramFiles = 0x0026;
inline constexpr int ProgramFilesX86 = 0x002A;
inline constexpr int CommonStartup = 0x0018;
inline constexpr int Startup = 0x0007;
inline constexpr int FlagCreate = 0x8000;
}  // namespace csidl

// GetFileAttributesExW(GetFileExInfoStandard) result.
struct FileAttributeData {
  std::uint32_t attributes = 0;
  FileTime creationTime = 0;
  FileTime lastAccessTime = 0;
  FileTime lastWriteTime = 0;
  std::uint64_t fileSize = 0;
};

// One entry of a folder listing (WIN32_FIND_DATAW: the parts the program reads).
struct FindData {
  std::uint32_t attributes = 0;
  std::wstring fileName;
};

// Files and folders (kernel32 file calls, SearchPathW, GetTempFileNameW, SHGetFolderPathW).
// Failing calls set the thread's last error (IErrors::GetLastError) as Windows does.
class IFileSystem {
 public:
  virtual ~IFileSystem() = default;

  // GetFileAttributesExW(path, GetFileExInfoStandard, out). false on failure (last error set).
  virtual bool GetFileAttributesEx(const wchar_t* path, FileAttributeData* out) = 0;
  // SetFileAttributesW(path, attributes). false on failure (last error set).
  virtual bool SetFileAttributes(const wchar_t* path, std::uint32_t attributes) = 0;

  // CreateFileW(path, desiredAccess, shareMode, nullptr, creationDisposition,
  // flagsAndAttributes, nullptr). kInvalidFile on failure; an open that conflicts with the share
  // mode of a handle already open fails with ERROR_SHARING_VIOLATION. OPEN_ALWAYS and
  // CREATE_ALWAYS on an existing file succeed with last error ERROR_ALREADY_EXISTS.
  virtual FileHandle CreateFile(const wchar_t* path, std::uint32_t desiredAccess,
                                std::uint32_t shareMode, std::uint32_t creationDisposition,
                                std::uint32_t flagsAndAttributes) = 0;

  // SetFilePointer(handle, distance, nullptr, moveMethod): the new position, or
  // INVALID_SET_FILE_POINTER on failure.
  virtual std::uint32_t SetFilePointer(FileHandle handle, std::int32_t distance,
                                       std::uint32_t moveMethod) = 0;

  // WriteFile / ReadFile, synchronous.
  virtual bool WriteFile(FileHandle handle, const void* data, std::uint32_t bytes,
                         std::uint32_t* written) = 0;
  virtual bool ReadFile(FileHandle handle, void* data, std::uint32_t bytes,
                        std::uint32_t* read) = 0;

  // CloseHandle for a file handle.
  virtual bool CloseHandle(FileHandle handle) = 0;

  // DeleteFileW.
  virtual bool DeleteFile(const wchar_t* path) = 0;
  // CopyFileW(from, to, failIfExists): the contents and attributes of `from` in `to`, which is
  // replaced unless failIfExists. false on failure (last error set).
  virtual bool CopyFile(const wchar_t* from, const wchar_t* to, bool failIfExists) = 0;

  // CreateDirectoryW(path, nullptr).
  virtual bool CreateDirectory(const wchar_t* path) = 0;

  // GetTempFileNameW(pathName, prefix, unique, tempFileName): tempFileName holds at least
  // MAX_PATH (260) characters. With unique 0 the file is created (empty) and its number returned;
  // 0 on failure.
  virtual std::uint32_t GetTempFileName(const wchar_t* pathName, const wchar_t* prefix,
                                        std::uint32_t unique, wchar_t* tempFileName) = 0;

  // GetLongPathNameW(shortPath, longPath, chars): characters copied without the NUL, or the size
  // needed with the NUL when the buffer is too small, or 0 on failure.
  virtual std::uint32_t GetLongPathName(const wchar_t* shortPath, wchar_t* longPath,
                                        std::uint32_t chars) = 0;

  // SearchPathW(path, fileName, extension, chars, buffer, nullptr): same length convention as
  // GetLongPathName. path null means the system's search order (the current directory first).
  virtual std::uint32_t SearchPath(const wchar_t* path, const wchar_t* fileName,
                                   const wchar_t* extension, std::uint32_t chars,
                                   wchar_t* buffer) = 0;

  // SHGetFolderPathW(nullptr, csidl, nullptr, SHGFP_TYPE_CURRENT, path): path holds at least
  // MAX_PATH characters. csidl may carry CSIDL_FLAG_CREATE.
  virtual HResult GetFolderPath(int csidl, wchar_t* path) = 0;

  // FindFirstFileW(pattern, out): pattern is a folder and a file mask with '*' and '?'
  // ("C:\\dir\\*.*"). The entries of a folder that is not a drive's root include "." and "..".
  // kInvalidFile when nothing matches (ERROR_FILE_NOT_FOUND) or the folder is not there
  // (ERROR_PATH_NOT_FOUND). The order of the entries is the file system's.
  virtual FileHandle FindFirstFile(const wchar_t* pattern, FindData* out) = 0;
  // FindNextFileW: false with ERROR_NO_MORE_FILES after the last entry.
  virtual bool FindNextFile(FileHandle find, FindData* out) = 0;
  // FindClose.
  virtual bool FindClose(FileHandle find) = 0;
};

// Whether a file or folder is at `path`, as PathFileExistsW answers; an empty path names nothing.
inline bool PathFileExists(IFileSystem& files, const std::wstring& path) {
  FileAttributeData data;
  return !path.empty() && files.GetFileAttributesEx(path.c_str(), &data);
}

}  // namespace kvd::platform
