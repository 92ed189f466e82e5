#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/api/IFileSystem.h"
#include "platform/sim/SimCommon.h"
#include "platform/sim/SimSystem.h"

namespace kvd::sim {

// Folders and files on drive C:, by Windows path, case-insensitive with the stored case kept.
// Relative paths resolve against the current folder (C:\Users\tester at start); a full path
// must fit MAX_PATH unless it starts with "\\?\". The known folders of a Windows 7 profile
// exist at start (C:\Windows, C:\Windows\System32, C:\ProgramData, C:\Users\tester with
// AppData\Local\Temp and AppData\Roaming, C:\Program Files, C:\Program Files (x86), ...).
// Not modelled: 8.3 short names, the WoW64 file system redirector, other drives, directory
// handles (FILE_FLAG_BACKUP_SEMANTICS), and delete-pending files (a deleted file leaves the tree
// at once while open handles keep its contents).
class SimFileSystem final : public platform::IFileSystem {
 public:
  SimFileSystem(SimCalls& calls, SimErrors& errors, SimClock& clock);

  bool GetFileAttributesEx(const wchar_t* path, platform::FileAttributeData* out) override;
  // Keeps the read-only, hidden, system and archive bits (FILE_ATTRIBUTE_NORMAL clears them);
  // a read-only file cannot be opened for writing or deleted.
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
  // The copy keeps the source's last-write time and attributes (and is marked for archiving).
  bool CopyFile(const wchar_t* from, const wchar_t* to, bool failIfExists) override;
  bool CreateDirectory(const wchar_t* path) override;
  // "<pathName>\<first three characters of prefix><upper-case hex>.tmp"; with unique 0 the
  // search starts at the tick's low 16 bits, as Windows does.
  std::uint32_t GetTempFileName(const wchar_t* pathName, const wchar_t* prefix,
                                std::uint32_t unique, wchar_t* tempFileName) override;
  std::uint32_t GetLongPathName(const wchar_t* shortPath, wchar_t* longPath,
                                std::uint32_t chars) override;
  // path null: the current folder, then C:\Windows\System32, then C:\Windows. path may list
  // folders separated by ';'.
  std::uint32_t SearchPath(const wchar_t* path, const wchar_t* fileName, const wchar_t* extension,
                           std::uint32_t chars, wchar_t* buffer) override;
  // The folders a 32-bit process is answered: ProgramFiles is "C:\Program Files (x86)"; System
  // is "C:\Windows\System32", the name Windows gives a WoW64 process too (its redirector, not
  // modelled here, would map it to SysWOW64).
  platform::HResult GetFolderPath(int csidl, wchar_t* path) override;
  // A listing is taken whole when it starts: entries made or removed later are not seen. "."
  // and ".." first, then the entries by lower-case name.
  platform::FileHandle FindFirstFile(const wchar_t* pattern, platform::FindData* out) override;
  bool FindNextFile(platform::FileHandle find, platform::FindData* out) override;
  bool FindClose(platform::FileHandle find) override;

  // Set-up and inspection (not counted, never faulted). Paths as for the ports; a path that
  // cannot name a file or folder throws std::invalid_argument.
  void PutFile(std::wstring_view path, std::vector<std::uint8_t> bytes);  // folders made as needed
  void PutFolder(std::wstring_view path);                                 // with its parents
  // The 32-bit program's known folders on 64-bit Windows (the default: "Program Files (x86)"
  // for the program files) or on 32-bit Windows (one "Program Files").
  void SetWow64(bool wow64);
  void Remove(std::wstring_view path);  // a file, or a folder with everything in it
  void SetWriteTime(std::wstring_view path, platform::FileTime written);
  std::optional<std::vector<std::uint8_t>> GetFile(std::wstring_view path) const;
  bool Exists(std::wstring_view path) const;
  // Creating, deleting or opening for writing anything inside the folder (at any depth)
  // answers ERROR_ACCESS_DENIED; reading is allowed.
  void DenyWrites(std::wstring_view folder);
  // Another process holds the (existing) file open with share mode 0: every open and delete
  // answers ERROR_SHARING_VIOLATION until ReleaseHold.
  void HoldExclusively(std::wstring_view path);
  void ReleaseHold(std::wstring_view path);
  std::vector<std::wstring> List(std::wstring_view folder) const;  // stored names, in order
  void SetCurrentFolder(std::wstring_view folder);
  std::wstring CurrentFolder() const;
  std::size_t OpenHandleCount() const;

 private:
  struct Node {
    std::wstring name;
    bool folder = false;
    Node* parent = nullptr;
    std::map<std::wstring, std::shared_ptr<Node>> children;  // by lower-case name
    std::vector<std::uint8_t> bytes;
    platform::FileTime created = 0;
    platform::FileTime accessed = 0;
    platform::FileTime written = 0;
    std::uint32_t attributes = 0;
    bool denyWrites = false;
    bool held = false;
  };
  struct Open {
    std::shared_ptr<Node> node;
    std::uint32_t access = 0;  // kRead | kWrite | kDelete
    std::uint32_t share = 0;
    std::uint64_t position = 0;
  };
  struct Listing {
    std::vector<platform::FindData> entries;
    std::size_t next = 0;
  };
  struct Parsed {
    std::uint32_t error = 0;
    std::vector<std::wstring> parts;  // components below C:\ in the case given
    bool extended = false;            // "\\?\" given: no MAX_PATH limit
  };
  struct Found {
    std::uint32_t error = 0;
    Node* parent = nullptr;
    std::shared_ptr<Node> node;
  };

  Parsed ParseLocked(std::wstring_view path) const;
  // What a path names: a path that does not parse answers its parse error.
  Found FindPathLocked(std::wstring_view path) const;
  Found FindLocked(const std::vector<std::wstring>& parts) const;
  Node& ExistingLocked(std::wstring_view path, bool folder) const;
  Node& MakeFoldersLocked(const std::vector<std::wstring>& parts);
  platform::FileHandle OpenLocked(std::wstring_view path, std::uint32_t access, std::uint32_t share,
                                  std::uint32_t disposition, std::uint32_t flags,
                                  std::uint32_t& error);
  bool ShareConflictLocked(const Node* node, std::uint32_t access, std::uint32_t share) const;
  static bool WriteDenied(const Node* folder);
  static std::wstring FullText(const std::vector<std::wstring>& parts);

  SimCalls& calls_;
  SimErrors& errors_;
  SimClock& clock_;
  mutable std::mutex mutex_;
  std::shared_ptr<Node> root_;
  bool wow64_ = true;
  std::vector<std::wstring> current_;
  std::map<platform::FileHandle, Open> opens_;
  std::map<platform::FileHandle, Listing> finds_;
};

}  // namespace kvd::sim
