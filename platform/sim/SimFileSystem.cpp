#include "platform/sim/SimFileSystem.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <stdexcept>

#include "platform/api/Text.h"

namespace kvd::sim {

namespace err = platform::err;
namespace file = platform::file;
using platform::FileHandle;
using platform::kInvalidFile;

namespace {

// What an open may do, decoded from its access mask.
constexpr std::uint32_t kRead = 1;
constexpr std::uint32_t kWrite = 2;
constexpr std::uint32_t kDelete = 4;

constexpr std::uint32_t kGenericAll = 0x10000000u;
constexpr std::uint32_t kFileReadData = 0x1;
constexpr std::uint32_t kFileWriteData = 0x2;
constexpr std::uint32_t kFileAppendData = 0x4;
constexpr std::uint32_t kDeleteAccess = 0x10000;
constexpr std::uint32_t kMaxPath = 260;
constexpr std::size_t kMaxComponent = 255;
// CreateDirectory leaves room for an 8.3 file name in the new folder.
constexpr std::size_t kMaxFolderPath = kMaxPath - 12;
constexpr std::uint32_t kFilenameExcedRange = 206;
constexpr std::uint32_t kKeptAttributes = 0x27;  // read-only, hidden, system, archive
constexpr int kCsidlFlagMask = 0xFF00;
constexpr int kCsidlFlagDontVerify = 0x4000;

std::uint32_t Decode(std::uint32_t access) {
  std::uint32_t out = 0;
  if ((access & (file::GenericRead | kGenericAll | kFileReadData)) != 0) out |= kRead;
  if ((access & (file::GenericWrite | kGenericAll | kFileWriteData | kFileAppendData)) != 0) {
    out |= kWrite;
  }
  if ((access & (kGenericAll | kDeleteAccess)) != 0) out |= kDelete;
  return out;
}

bool InvalidNameChar(wchar_t c) {
  return c < 0x20 || std::wstring_view(L"<>:\"|?*").find(c) != std::wstring_view::npos;
}

struct KnownFolder {
  int csidl;
  const wchar_t* path;
};

constexpr KnownFolder kKnownFolders[] = {
    {0x0000, L"C:\\Users\\tester\\Desktop"},
    {0x0005, L"C:\\Users\\tester\\Documents"},
    {platform::csidl::Startup,
     L"C:\\Users\\tester\\AppData\\Roaming\\Microsoft\\Windows\\Start Menu\\Programs\\Startup"},
    {platform::csidl::CommonStartup,
     L"C:\\ProgramData\\Microsoft\\Windows\\Start Menu\\Programs\\Startup"},
    {platform::csidl::AppData, L"C:\\Users\\tester\\AppData\\Roaming"},
    {platform::csidl::LocalAppData, L"C:\\Users\\tester\\AppData\\Local"},
    {platform::csidl::CommonAppData, L"C:\\ProgramData"},
    {platform::csidl::Windows, L"C:\\Windows"},
    {platform::csidl::System, L"C:\\Windows\\System32"},
    {platform::csidl::ProgramFiles, L"C:\\Program Files (x86)"},
    {0x0028, L"C:\\Users\\tester"},
    {0x0029, L"C:\\Windows\\SysWOW64"},
    {platform::csidl::ProgramFilesX86, L"C:\\Program Files (x86)"},
};

}  // namespace

SimFileSystem::SimFileSystem(SimCalls& calls, SimErrors& errors, SimClock& clock)
    : calls_(calls), errors_(errors), clock_(clock), root_(std::make_shared<Node>()) {
  root_->name = L"C:";
  root_->folder = true;
  root_->attributes = file::AttributeDirectory;
  for (const auto* folder : {
           L"C:\\Windows\\System32",
           L"C:\\Windows\\SysWOW64",
           L"C:\\ProgramData\\Microsoft\\Windows\\Start Menu\\Programs\\Startup",
           L"C:\\Users\\tester\\AppData\\Local\\Temp",
           // NOLINTNEXTLINE(bugprone-suspicious-missing-comma): one path, split for its length
           L"C:\\Users\\tester\\AppData\\Roaming\\Microsoft\\Windows\\Start "
           L"Menu\\Programs\\Startup",
           L"C:\\Users\\tester\\Desktop",
           L"C:\\Users\\tester\\Documents",
           L"C:\\Program Files",
           L"C:\\Program Files (x86)",
       }) {
    PutFolder(folder);
  }
  current_ = {L"Users", L"tester"};
}

// ---------------------------------------------------------------------------------------------
// Paths

void SimFileSystem::SetWow64(bool wow64) {
  std::lock_guard lock(mutex_);
  wow64_ = wow64;
}

SimFileSystem::Parsed SimFileSystem::ParseLocked(std::wstring_view path) const {
  Parsed out;
  std::wstring text(path);
  std::replace(text.begin(), text.end(), L'/', L'\\');
  if (text.empty()) {
    out.error = err::PathNotFound;
    return out;
  }
  std::size_t pos = 0;
  bool extended = false;
  if (text.rfind(L"\\\\?\\", 0) == 0) {
    pos = 4;
    extended = true;
  } else if (text.rfind(L"\\\\", 0) == 0) {
    out.error = simerr::BadNetPath;
    return out;
  }
  bool absolute = false;
  if (text.size() >= pos + 2 && text[pos + 1] == L':') {
    if (platform::ToLowerOrdinal(text[pos]) != L'c') {
      out.error = err::PathNotFound;
      return out;
    }
    pos += 2;
    absolute = pos < text.size() && text[pos] == L'\\';
  } else {
    absolute = pos < text.size() && text[pos] == L'\\';
  }
  if (!absolute) out.parts = current_;
  while (pos < text.size()) {
    std::size_t next = text.find(L'\\', pos);
    if (next == std::wstring::npos) next = text.size();
    std::wstring part = text.substr(pos, next - pos);
    pos = next + 1;
    if (part.empty() || part == L".") continue;
    if (part == L"..") {
      if (!out.parts.empty()) out.parts.pop_back();
      continue;
    }
    // Win32 drops the trailing dots and spaces of every name.
    while (!part.empty() && (part.back() == L'.' || part.back() == L' ')) part.pop_back();
    if (part.empty()) continue;
    if (std::any_of(part.begin(), part.end(), InvalidNameChar)) {
      out.error = err::InvalidName;
      return out;
    }
    out.parts.push_back(std::move(part));
  }
  // Without the "\\?\" prefix the full path must fit MAX_PATH with its NUL; that is checked
  // before the file system sees a name, which may have at most 255 characters.
  out.extended = extended;
  if (!extended && FullText(out.parts).size() >= kMaxPath) {
    out.error = err::PathNotFound;
  } else if (std::any_of(out.parts.begin(), out.parts.end(),
                         [](const std::wstring& part) { return part.size() > kMaxComponent; })) {
    out.error = err::InvalidName;
  }
  if (out.error != 0) out.parts.clear();
  return out;
}

SimFileSystem::Found SimFileSystem::FindLocked(const std::vector<std::wstring>& parts) const {
  Found out;
  if (parts.empty()) {
    out.node = root_;
    return out;
  }
  Node* folder = root_.get();
  for (std::size_t i = 0; i + 1 < parts.size(); ++i) {
    auto it = folder->children.find(platform::ToLowerOrdinal(parts[i]));
    if (it == folder->children.end() || !it->second->folder) {
      out.error = err::PathNotFound;
      return out;
    }
    folder = it->second.get();
  }
  out.parent = folder;
  auto it = folder->children.find(platform::ToLowerOrdinal(parts.back()));
  if (it != folder->children.end()) out.node = it->second;
  return out;
}

std::wstring SimFileSystem::FullText(const std::vector<std::wstring>& parts) {
  std::wstring out = L"C:\\";
  for (std::size_t i = 0; i < parts.size(); ++i) {
    if (i > 0) out += L'\\';
    out += parts[i];
  }
  return out;
}

bool SimFileSystem::WriteDenied(const Node* folder) {
  for (; folder != nullptr; folder = folder->parent) {
    if (folder->denyWrites) return true;
  }
  return false;
}

bool SimFileSystem::ShareConflictLocked(const Node* node, std::uint32_t access,
                                        std::uint32_t share) const {
  auto refuses = [](std::uint32_t wanted, std::uint32_t shared) {
    return ((wanted & kRead) != 0 && (shared & file::ShareRead) == 0) ||
           ((wanted & kWrite) != 0 && (shared & file::ShareWrite) == 0) ||
           ((wanted & kDelete) != 0 && (shared & file::ShareDelete) == 0);
  };
  for (const auto& [handle, open] : opens_) {
    if (open.node.get() != node) continue;
    if (refuses(access, open.share) || refuses(open.access, share)) return true;
  }
  return false;
}

// ---------------------------------------------------------------------------------------------
// Ports

SimFileSystem::Found SimFileSystem::FindPathLocked(std::wstring_view path) const {
  const Parsed parsed = ParseLocked(path);
  return parsed.error != 0 ? Found{parsed.error, nullptr, nullptr} : FindLocked(parsed.parts);
}

bool SimFileSystem::GetFileAttributesEx(const wchar_t* path, platform::FileAttributeData* out) {
  if (auto fault = calls_.Enter("GetFileAttributesEx")) {
    errors_.SetThreadError(*fault);
    return false;
  }
  if (path == nullptr || out == nullptr) {
    errors_.SetThreadError(err::InvalidParameter);
    return false;
  }
  std::lock_guard lock(mutex_);
  const Found found = FindPathLocked(path);
  if (found.error != 0 || !found.node) {
    errors_.SetThreadError(found.error != 0 ? found.error : err::FileNotFound);
    return false;
  }
  const Node& node = *found.node;
  out->attributes = node.folder ? (node.attributes | file::AttributeDirectory)
                                : (node.attributes != 0 ? node.attributes : file::AttributeNormal);
  out->creationTime = node.created;
  out->lastAccessTime = node.accessed;
  out->lastWriteTime = node.written;
  out->fileSize = node.folder ? 0 : node.bytes.size();
  return true;
}

FileHandle SimFileSystem::CreateFile(const wchar_t* path, std::uint32_t desiredAccess,
                                     std::uint32_t shareMode, std::uint32_t creationDisposition,
                                     std::uint32_t flagsAndAttributes) {
  if (auto fault = calls_.Enter("CreateFile")) {
    errors_.SetThreadError(*fault);
    return kInvalidFile;
  }
  std::lock_guard lock(mutex_);
  std::uint32_t error = 0;
  const FileHandle handle = OpenLocked(path == nullptr ? L"" : path, desiredAccess, shareMode,
                                       creationDisposition, flagsAndAttributes, error);
  errors_.SetThreadError(error);
  return handle;
}

FileHandle SimFileSystem::OpenLocked(std::wstring_view path, std::uint32_t access,
                                     std::uint32_t share, std::uint32_t disposition,
                                     std::uint32_t flags, std::uint32_t& error) {
  if (disposition < file::CreateNew || disposition > file::TruncateExisting) {
    error = err::InvalidParameter;
    return kInvalidFile;
  }
  const Parsed parsed = ParseLocked(path);
  if (parsed.error != 0) {
    error = parsed.error;
    return kInvalidFile;
  }
  if (parsed.parts.empty()) {  // the drive's root folder
    error = err::AccessDenied;
    return kInvalidFile;
  }
  const Found found = FindLocked(parsed.parts);
  if (found.error != 0) {
    error = found.error;
    return kInvalidFile;
  }
  const std::uint32_t wants = Decode(access);
  const platform::FileTime now = clock_.Now();
  std::shared_ptr<Node> node = found.node;
  if (node) {
    const bool truncates =
        disposition == file::CreateAlways || disposition == file::TruncateExisting;
    if (node->folder) {
      error = err::AccessDenied;
    } else if (node->held) {
      error = err::SharingViolation;
    } else if (disposition == file::CreateNew) {
      error = err::FileExists;
    } else if (disposition == file::TruncateExisting && (wants & kWrite) == 0) {
      error = err::InvalidParameter;
    } else if (((wants & kWrite) != 0 || truncates) &&
               (WriteDenied(found.parent) || (node->attributes & file::AttributeReadOnly) != 0)) {
      error = err::AccessDenied;
    } else if (ShareConflictLocked(node.get(), wants, share)) {
      error = err::SharingViolation;
    }
    if (error != 0) return kInvalidFile;
    if (truncates) {
      node->bytes.clear();
      node->written = now;
    }
    error = disposition == file::OpenAlways || disposition == file::CreateAlways
                ? err::AlreadyExists
                : err::Success;
  } else {
    if (disposition == file::OpenExisting || disposition == file::TruncateExisting) {
      error = err::FileNotFound;
      return kInvalidFile;
    }
    if (WriteDenied(found.parent)) {
      error = err::AccessDenied;
      return kInvalidFile;
    }
    node = std::make_shared<Node>();
    node->name = parsed.parts.back();
    node->parent = found.parent;
    node->attributes = (flags & kKeptAttributes) | file::AttributeArchive;
    node->created = node->accessed = node->written = now;
    found.parent->children[platform::ToLowerOrdinal(node->name)] = node;
    found.parent->written = now;
    error = err::Success;
  }
  const FileHandle handle = calls_.NextHandle();
  opens_[handle] = Open{node, wants, share, 0};
  return handle;
}

std::uint32_t SimFileSystem::SetFilePointer(FileHandle handle, std::int32_t distance,
                                            std::uint32_t moveMethod) {
  if (auto fault = calls_.Enter("SetFilePointer")) {
    errors_.SetThreadError(*fault);
    return file::InvalidSetFilePointer;
  }
  std::lock_guard lock(mutex_);
  auto it = opens_.find(handle);
  if (it == opens_.end()) {
    errors_.SetThreadError(err::InvalidHandle);
    return file::InvalidSetFilePointer;
  }
  Open& open = it->second;
  std::int64_t base = 0;
  switch (moveMethod) {
    case file::Begin:
      break;
    case file::Current:
      base = static_cast<std::int64_t>(open.position);
      break;
    case file::End:
      base = static_cast<std::int64_t>(open.node->bytes.size());
      break;
    default:
      errors_.SetThreadError(err::InvalidParameter);
      return file::InvalidSetFilePointer;
  }
  const std::int64_t target = base + distance;
  if (target < 0) {
    errors_.SetThreadError(simerr::NegativeSeek);
    return file::InvalidSetFilePointer;
  }
  open.position = static_cast<std::uint64_t>(target);
  return static_cast<std::uint32_t>(open.position & 0xFFFFFFFFu);
}

bool SimFileSystem::WriteFile(FileHandle handle, const void* data, std::uint32_t bytes,
                              std::uint32_t* written) {
  if (auto fault = calls_.Enter("WriteFile")) {
    errors_.SetThreadError(*fault);
    return false;
  }
  std::lock_guard lock(mutex_);
  if (written != nullptr) *written = 0;
  auto it = opens_.find(handle);
  if (it == opens_.end()) {
    errors_.SetThreadError(err::InvalidHandle);
    return false;
  }
  Open& open = it->second;
  if ((open.access & kWrite) == 0) {
    errors_.SetThreadError(err::AccessDenied);
    return false;
  }
  if (data == nullptr && bytes != 0) {
    errors_.SetThreadError(simerr::NoAccess);
    return false;
  }
  auto& content = open.node->bytes;
  const std::uint64_t end = open.position + bytes;
  if (end > content.size()) content.resize(end);
  if (bytes != 0) std::memcpy(content.data() + open.position, data, bytes);
  open.position = end;
  open.node->written = open.node->accessed = clock_.Now();
  if (written != nullptr) *written = bytes;
  return true;
}

bool SimFileSystem::ReadFile(FileHandle handle, void* data, std::uint32_t bytes,
                             std::uint32_t* read) {
  if (auto fault = calls_.Enter("ReadFile")) {
    errors_.SetThreadError(*fault);
    return false;
  }
  std::lock_guard lock(mutex_);
  if (read != nullptr) *read = 0;
  auto it = opens_.find(handle);
  if (it == opens_.end()) {
    errors_.SetThreadError(err::InvalidHandle);
    return false;
  }
  Open& open = it->second;
  if ((open.access & kRead) == 0) {
    errors_.SetThreadError(err::AccessDenied);
    return false;
  }
  if (data == nullptr && bytes != 0) {
    errors_.SetThreadError(simerr::NoAccess);
    return false;
  }
  const auto& content = open.node->bytes;
  const std::uint64_t left = open.position < content.size() ? content.size() - open.position : 0;
  const auto count = static_cast<std::uint32_t>(std::min<std::uint64_t>(bytes, left));
  if (count != 0) std::memcpy(data, content.data() + open.position, count);
  open.position += count;
  if (read != nullptr) *read = count;
  return true;
}

bool SimFileSystem::CloseHandle(FileHandle handle) {
  if (auto fault = calls_.Enter("CloseHandle")) {
    errors_.SetThreadError(*fault);
    return false;
  }
  std::lock_guard lock(mutex_);
  if (opens_.erase(handle) == 0) {
    errors_.SetThreadError(err::InvalidHandle);
    return false;
  }
  return true;
}

bool SimFileSystem::SetFileAttributes(const wchar_t* path, std::uint32_t attributes) {
  if (auto fault = calls_.Enter("SetFileAttributes")) {
    errors_.SetThreadError(*fault);
    return false;
  }
  std::lock_guard lock(mutex_);
  const Found found = FindPathLocked(path == nullptr ? L"" : path);
  if (found.error != 0 || !found.node) {
    errors_.SetThreadError(found.error != 0 ? found.error : err::FileNotFound);
    return false;
  }
  constexpr std::uint32_t kKept = file::AttributeReadOnly | file::AttributeHidden |
                                  file::AttributeSystem | file::AttributeArchive;
  found.node->attributes = attributes & kKept;
  return true;
}

bool SimFileSystem::CopyFile(const wchar_t* from, const wchar_t* to, bool failIfExists) {
  if (auto fault = calls_.Enter("CopyFile")) {
    errors_.SetThreadError(*fault);
    return false;
  }
  std::lock_guard lock(mutex_);
  const Found source = FindPathLocked(from == nullptr ? L"" : from);
  std::uint32_t error = source.error;
  if (error == 0 && source.node == nullptr) error = err::FileNotFound;
  if (error == 0 && source.node->folder) error = err::AccessDenied;
  if (error == 0 &&
      (source.node->held || ShareConflictLocked(source.node.get(), kRead, file::ShareRead))) {
    error = err::SharingViolation;
  }
  if (error != 0) {
    errors_.SetThreadError(error);
    return false;
  }
  const std::shared_ptr<Node> copied = source.node;
  const FileHandle target =
      OpenLocked(to == nullptr ? L"" : to, file::GenericWrite, 0,
                 failIfExists ? file::CreateNew : file::CreateAlways, copied->attributes, error);
  if (target == kInvalidFile) {
    errors_.SetThreadError(error);
    return false;
  }
  Node& node = *opens_.at(target).node;
  opens_.erase(target);
  if (&node != copied.get()) {
    node.bytes = copied->bytes;
    node.written = copied->written;
    node.attributes = (copied->attributes & ~file::AttributeNormal) | file::AttributeArchive;
  }
  errors_.SetThreadError(err::Success);
  return true;
}

bool SimFileSystem::DeleteFile(const wchar_t* path) {
  if (auto fault = calls_.Enter("DeleteFile")) {
    errors_.SetThreadError(*fault);
    return false;
  }
  std::lock_guard lock(mutex_);
  const Found found = FindPathLocked(path == nullptr ? L"" : path);
  std::uint32_t error = found.error;
  if (error == 0) {
    const Node* node = found.node.get();
    if (node == nullptr) {
      error = err::FileNotFound;
    } else if (node->folder) {
      error = err::AccessDenied;
    } else if (node->held ||
               ShareConflictLocked(node, kDelete,
                                   file::ShareRead | file::ShareWrite | file::ShareDelete)) {
      error = err::SharingViolation;
    } else if (WriteDenied(found.parent) || (node->attributes & file::AttributeReadOnly) != 0) {
      error = err::AccessDenied;
    }
  }
  if (error != 0) {
    errors_.SetThreadError(error);
    return false;
  }
  found.parent->children.erase(platform::ToLowerOrdinal(found.node->name));
  found.parent->written = clock_.Now();
  return true;
}

bool SimFileSystem::CreateDirectory(const wchar_t* path) {
  if (auto fault = calls_.Enter("CreateDirectory")) {
    errors_.SetThreadError(*fault);
    return false;
  }
  std::lock_guard lock(mutex_);
  const Parsed parsed = ParseLocked(path == nullptr ? L"" : path);
  Found found =
      parsed.error != 0 ? Found{parsed.error, nullptr, nullptr} : FindLocked(parsed.parts);
  std::uint32_t error = found.error;
  if (error == 0 && !parsed.extended && FullText(parsed.parts).size() > kMaxFolderPath) {
    error = kFilenameExcedRange;
  } else if (error == 0 && (parsed.parts.empty() || found.node)) {
    error = err::AlreadyExists;
  } else if (error == 0 && WriteDenied(found.parent)) {
    error = err::AccessDenied;
  }
  if (error != 0) {
    errors_.SetThreadError(error);
    return false;
  }
  MakeFoldersLocked(parsed.parts);
  return true;
}

std::uint32_t SimFileSystem::GetTempFileName(const wchar_t* pathName, const wchar_t* prefix,
                                             std::uint32_t unique, wchar_t* tempFileName) {
  if (auto fault = calls_.Enter("GetTempFileName")) {
    errors_.SetThreadError(*fault);
    return 0;
  }
  if (pathName == nullptr || tempFileName == nullptr) {
    errors_.SetThreadError(err::InvalidParameter);
    return 0;
  }
  std::wstring base(pathName);
  if (base.size() > kMaxPath - 14) {
    errors_.SetThreadError(simerr::BufferOverflow);
    return 0;
  }
  if (base.empty() || (base.back() != L'\\' && base.back() != L'/')) base += L'\\';
  if (prefix != nullptr) base += std::wstring_view(prefix).substr(0, 3);
  auto name = [&base](std::uint32_t number) {
    char hex[16];
    std::snprintf(hex, sizeof hex, "%X", static_cast<unsigned>(number));
    return base + platform::WidenUtf8(hex) + L".tmp";
  };
  auto answer = [&](std::uint32_t number) {
    const std::wstring text = name(number);
    std::copy(text.begin(), text.end(), tempFileName);
    tempFileName[text.size()] = L'\0';
    return number;
  };
  if (unique != 0) return answer(unique & 0xFFFFu);

  std::lock_guard lock(mutex_);
  std::uint32_t number = clock_.Tick() & 0xFFFFu;
  if (number == 0) number = 1;
  const std::uint32_t first = number;
  do {
    std::uint32_t error = 0;
    const FileHandle handle = OpenLocked(name(number), file::GenericWrite, 0, file::CreateNew,
                                         file::AttributeNormal, error);
    if (handle != kInvalidFile) {
      opens_.erase(handle);
      errors_.SetThreadError(err::Success);
      return answer(number);
    }
    if (error != err::FileExists && error != err::SharingViolation) {
      errors_.SetThreadError(error);
      return 0;
    }
    number = (number & 0xFFFFu) == 0xFFFFu ? 1 : number + 1;
  } while (number != first);
  errors_.SetThreadError(err::FileExists);
  return 0;
}

std::uint32_t SimFileSystem::GetLongPathName(const wchar_t* shortPath, wchar_t* longPath,
                                             std::uint32_t chars) {
  if (auto fault = calls_.Enter("GetLongPathName")) {
    errors_.SetThreadError(*fault);
    return 0;
  }
  if (shortPath == nullptr) {
    errors_.SetThreadError(err::InvalidParameter);
    return 0;
  }
  std::lock_guard lock(mutex_);
  std::wstring text(shortPath);
  std::replace(text.begin(), text.end(), L'/', L'\\');
  // The answer keeps the form of the question (absolute or relative, the drive as written) and
  // gives each named component its stored case.
  std::size_t pos = 0;
  if (text.rfind(L"\\\\?\\", 0) == 0) pos = 4;
  const Node* node = root_.get();
  bool fromRoot = false;
  if (text.size() >= pos + 2 && text[pos + 1] == L':') {
    if (platform::ToLowerOrdinal(text[pos]) != L'c') {
      errors_.SetThreadError(err::FileNotFound);
      return 0;
    }
    pos += 2;
    fromRoot = pos < text.size() && text[pos] == L'\\';
  } else {
    fromRoot = pos < text.size() && text[pos] == L'\\';
  }
  if (fromRoot) ++pos;
  if (!fromRoot) node = FindLocked(current_).node.get();
  std::wstring out = text.substr(0, pos);
  bool first = true;
  while (pos < text.size()) {
    std::size_t next = text.find(L'\\', pos);
    if (next == std::wstring::npos) next = text.size();
    const std::wstring part = text.substr(pos, next - pos);
    pos = next + 1;
    if (part.empty()) continue;
    if (node == nullptr) break;
    std::wstring shown = part;
    if (part == L"..") {
      if (node->parent != nullptr) node = node->parent;
    } else if (part != L".") {
      auto it = node->children.find(platform::ToLowerOrdinal(part));
      node = it == node->children.end() ? nullptr : it->second.get();
      if (node == nullptr) break;
      shown = node->name;
    }
    if (!first) out += L'\\';
    out += shown;
    first = false;
  }
  if (node == nullptr) {
    errors_.SetThreadError(err::FileNotFound);
    return 0;
  }
  if (!first && !text.empty() && text.back() == L'\\') out += L'\\';
  return CopyOrNeeded(out, longPath, chars);
}

std::uint32_t SimFileSystem::SearchPath(const wchar_t* path, const wchar_t* fileName,
                                        const wchar_t* extension, std::uint32_t chars,
                                        wchar_t* buffer) {
  if (auto fault = calls_.Enter("SearchPath")) {
    errors_.SetThreadError(*fault);
    return 0;
  }
  if (fileName == nullptr || *fileName == L'\0') {
    errors_.SetThreadError(err::InvalidParameter);
    return 0;
  }
  std::lock_guard lock(mutex_);
  std::wstring name(fileName);
  // The extension is added only to a name that has none.
  if (extension != nullptr && platform::PathFindExtension(name).empty()) name += extension;

  std::vector<std::wstring> candidates;
  const bool located = name.find(L':') != std::wstring::npos || name.rfind(L'\\', 0) == 0 ||
                       name.rfind(L".\\", 0) == 0 || name.rfind(L"..\\", 0) == 0;
  if (located) {
    candidates.push_back(name);
  } else {
    std::vector<std::wstring> folders;
    if (path == nullptr) {
      folders = {FullText(current_), L"C:\\Windows\\System32", L"C:\\Windows"};
    } else {
      const std::wstring_view list(path);
      std::size_t pos = 0;
      while (pos <= list.size()) {
        std::size_t next = list.find(L';', pos);
        if (next == std::wstring_view::npos) next = list.size();
        if (next > pos) folders.emplace_back(list.substr(pos, next - pos));
        pos = next + 1;
      }
    }
    for (const auto& folder : folders) {
      const bool separated = !folder.empty() && (folder.back() == L'\\' || folder.back() == L'/');
      std::wstring candidate = folder;
      if (!separated) candidate += L'\\';
      candidate += name;
      candidates.push_back(std::move(candidate));
    }
  }
  for (const auto& candidate : candidates) {
    const Parsed parsed = ParseLocked(candidate);
    if (parsed.error != 0) continue;
    const Found found = FindLocked(parsed.parts);
    if (found.error == 0 && found.node) return CopyOrNeeded(FullText(parsed.parts), buffer, chars);
  }
  errors_.SetThreadError(err::FileNotFound);
  return 0;
}

platform::HResult SimFileSystem::GetFolderPath(int csidl, wchar_t* path) {
  if (auto fault = calls_.Enter("GetFolderPath")) return platform::hr::FromWin32(*fault);
  if (path == nullptr) return platform::hr::InvalidArg;
  path[0] = L'\0';
  const int folder = csidl & ~kCsidlFlagMask;
  const auto* known = std::find_if(std::begin(kKnownFolders), std::end(kKnownFolders),
                                   [folder](const KnownFolder& k) { return k.csidl == folder; });
  if (known == std::end(kKnownFolders)) return platform::hr::InvalidArg;
  std::lock_guard lock(mutex_);
  // 32-bit Windows has one program folder, and no WOW64 system folder.
  std::wstring knownPath = known->path;
  if (!wow64_ &&
      (folder == platform::csidl::ProgramFiles || folder == platform::csidl::ProgramFilesX86)) {
    knownPath = L"C:\\Program Files";
  }
  const Parsed parsed = ParseLocked(knownPath);
  const Found found = FindLocked(parsed.parts);
  if ((csidl & kCsidlFlagDontVerify) == 0 &&
      !(found.error == 0 && found.node && found.node->folder)) {
    if ((csidl & platform::csidl::FlagCreate) == 0) {
      return platform::hr::FromWin32(err::FileNotFound);
    }
    // Every missing folder on the way is made, unless one of them may not be written.
    const Node* existing = root_.get();
    for (const auto& part : parsed.parts) {
      auto it = existing->children.find(platform::ToLowerOrdinal(part));
      if (it == existing->children.end()) break;
      if (!it->second->folder) return platform::hr::FromWin32(err::FileExists);
      existing = it->second.get();
    }
    if (WriteDenied(existing)) return platform::hr::FromWin32(err::AccessDenied);
    MakeFoldersLocked(parsed.parts);
  }
  std::copy(knownPath.begin(), knownPath.end(), path);
  path[knownPath.size()] = L'\0';
  return platform::hr::Ok;
}

FileHandle SimFileSystem::FindFirstFile(const wchar_t* pattern, platform::FindData* out) {
  if (auto fault = calls_.Enter("FindFirstFile")) {
    errors_.SetThreadError(*fault);
    return kInvalidFile;
  }
  if (pattern == nullptr || out == nullptr) {
    errors_.SetThreadError(err::InvalidParameter);
    return kInvalidFile;
  }
  const std::wstring_view text(pattern);
  const std::size_t split = text.find_last_of(L"\\/");
  const std::wstring_view mask = split == std::wstring_view::npos ? text : text.substr(split + 1);
  const std::wstring_view folderText =
      split == std::wstring_view::npos ? std::wstring_view(L".") : text.substr(0, split + 1);
  std::lock_guard lock(mutex_);
  const Parsed parsed = ParseLocked(folderText);
  const Found found =
      parsed.error != 0 ? Found{parsed.error, nullptr, nullptr} : FindLocked(parsed.parts);
  if (found.error != 0 || !found.node || !found.node->folder) {
    errors_.SetThreadError(
        found.error != 0 && found.error != err::FileNotFound ? found.error : err::PathNotFound);
    return kInvalidFile;
  }
  Listing listing;
  const auto add = [&](const std::wstring& name, const Node& node) {
    if (!platform::MatchesFileMask(name, mask)) return;
    platform::FindData entry;
    entry.fileName = name;
    entry.attributes = node.folder
                           ? (node.attributes | file::AttributeDirectory)
                           : (node.attributes != 0 ? node.attributes : file::AttributeNormal);
    listing.entries.push_back(std::move(entry));
  };
  if (!parsed.parts.empty()) {  // a drive's root has no "." and ".."
    add(L".", *found.node);
    add(L"..", *found.node->parent);
  }
  for (const auto& [key, child] : found.node->children) add(child->name, *child);
  if (listing.entries.empty()) {
    errors_.SetThreadError(err::FileNotFound);
    return kInvalidFile;
  }
  *out = listing.entries.front();
  listing.next = 1;
  const FileHandle handle = calls_.NextHandle();
  finds_[handle] = std::move(listing);
  errors_.SetThreadError(err::Success);
  return handle;
}

bool SimFileSystem::FindNextFile(FileHandle find, platform::FindData* out) {
  if (Faulted(calls_, errors_, "FindNextFile")) return false;
  std::lock_guard lock(mutex_);
  auto it = finds_.find(find);
  if (it == finds_.end() || out == nullptr) {
    errors_.SetThreadError(err::InvalidHandle);
    return false;
  }
  Listing& listing = it->second;
  if (listing.next >= listing.entries.size()) {
    errors_.SetThreadError(err::NoMoreFiles);
    return false;
  }
  *out = listing.entries[listing.next++];
  return true;
}

bool SimFileSystem::FindClose(FileHandle find) {
  if (Faulted(calls_, errors_, "FindClose")) return false;
  std::lock_guard lock(mutex_);
  if (finds_.erase(find) == 0) {
    errors_.SetThreadError(err::InvalidHandle);
    return false;
  }
  return true;
}

// ---------------------------------------------------------------------------------------------
// Set-up and inspection

SimFileSystem::Node& SimFileSystem::MakeFoldersLocked(const std::vector<std::wstring>& parts) {
  Node* folder = root_.get();
  const platform::FileTime now = clock_.Now();
  for (const auto& part : parts) {
    auto& slot = folder->children[platform::ToLowerOrdinal(part)];
    if (!slot) {
      slot = std::make_shared<Node>();
      slot->name = part;
      slot->folder = true;
      slot->parent = folder;
      slot->attributes = file::AttributeDirectory;
      slot->created = slot->accessed = slot->written = now;
      folder->written = now;
    } else if (!slot->folder) {
      throw std::invalid_argument("sim file system: a file is in the way of a folder");
    }
    folder = slot.get();
  }
  return *folder;
}

SimFileSystem::Node& SimFileSystem::ExistingLocked(std::wstring_view path, bool folder) const {
  const Parsed parsed = ParseLocked(path);
  if (parsed.error != 0) throw std::invalid_argument("sim file system: not a path");
  const Found found = FindLocked(parsed.parts);
  if (found.error != 0 || !found.node || found.node->folder != folder) {
    throw std::invalid_argument(folder ? "sim file system: no such folder"
                                       : "sim file system: no such file");
  }
  return *found.node;
}

void SimFileSystem::PutFile(std::wstring_view path, std::vector<std::uint8_t> bytes) {
  std::lock_guard lock(mutex_);
  Parsed parsed = ParseLocked(path);
  if (parsed.error != 0 || parsed.parts.empty()) {
    throw std::invalid_argument("sim file system: not a file path");
  }
  const std::wstring name = parsed.parts.back();
  parsed.parts.pop_back();
  Node& folder = MakeFoldersLocked(parsed.parts);
  auto& slot = folder.children[platform::ToLowerOrdinal(name)];
  const platform::FileTime now = clock_.Now();
  if (!slot) {
    slot = std::make_shared<Node>();
    slot->name = name;
    slot->parent = &folder;
    slot->attributes = file::AttributeArchive;
    slot->created = now;
    folder.written = now;
  } else if (slot->folder) {
    throw std::invalid_argument("sim file system: a folder is in the way of a file");
  }
  slot->bytes = std::move(bytes);
  slot->written = slot->accessed = now;
}

void SimFileSystem::PutFolder(std::wstring_view path) {
  std::lock_guard lock(mutex_);
  const Parsed parsed = ParseLocked(path);
  if (parsed.error != 0) throw std::invalid_argument("sim file system: not a folder path");
  MakeFoldersLocked(parsed.parts);
}

void SimFileSystem::Remove(std::wstring_view path) {
  std::lock_guard lock(mutex_);
  const Parsed parsed = ParseLocked(path);
  const Found found =
      parsed.error != 0 ? Found{parsed.error, nullptr, nullptr} : FindLocked(parsed.parts);
  if (found.error != 0 || !found.node || found.parent == nullptr) {
    throw std::invalid_argument("sim file system: nothing to remove");
  }
  found.parent->children.erase(platform::ToLowerOrdinal(found.node->name));
}

void SimFileSystem::SetWriteTime(std::wstring_view path, platform::FileTime written) {
  std::lock_guard lock(mutex_);
  const Parsed parsed = ParseLocked(path);
  const Found found =
      parsed.error != 0 ? Found{parsed.error, nullptr, nullptr} : FindLocked(parsed.parts);
  if (found.error != 0 || !found.node) {
    throw std::invalid_argument("sim file system: no such file");
  }
  found.node->written = written;
}

std::optional<std::vector<std::uint8_t>> SimFileSystem::GetFile(std::wstring_view path) const {
  std::lock_guard lock(mutex_);
  const Parsed parsed = ParseLocked(path);
  if (parsed.error != 0) return std::nullopt;
  const Found found = FindLocked(parsed.parts);
  if (found.error != 0 || !found.node || found.node->folder) return std::nullopt;
  return found.node->bytes;
}

bool SimFileSystem::Exists(std::wstring_view path) const {
  std::lock_guard lock(mutex_);
  const Parsed parsed = ParseLocked(path);
  if (parsed.error != 0) return false;
  const Found found = FindLocked(parsed.parts);
  return found.error == 0 && found.node != nullptr;
}

void SimFileSystem::DenyWrites(std::wstring_view folder) {
  std::lock_guard lock(mutex_);
  ExistingLocked(folder, true).denyWrites = true;
}

void SimFileSystem::HoldExclusively(std::wstring_view path) {
  std::lock_guard lock(mutex_);
  ExistingLocked(path, false).held = true;
}

void SimFileSystem::ReleaseHold(std::wstring_view path) {
  std::lock_guard lock(mutex_);
  ExistingLocked(path, false).held = false;
}

std::vector<std::wstring> SimFileSystem::List(std::wstring_view folder) const {
  std::lock_guard lock(mutex_);
  const Node& node = ExistingLocked(folder, true);
  std::vector<std::wstring> names;
  for (const auto& [key, child] : node.children) names.push_back(child->name);
  return names;
}

void SimFileSystem::SetCurrentFolder(std::wstring_view folder) {
  std::lock_guard lock(mutex_);
  // Kept in the stored case, so that full paths made from it match GetLongPathName's answers.
  std::vector<std::wstring> parts;
  const Node* node = &ExistingLocked(folder, true);
  for (; node->parent != nullptr; node = node->parent) parts.insert(parts.begin(), node->name);
  current_ = std::move(parts);
}

std::wstring SimFileSystem::CurrentFolder() const {
  std::lock_guard lock(mutex_);
  return FullText(current_);
}

std::size_t SimFileSystem::OpenHandleCount() const {
  std::lock_guard lock(mutex_);
  return opens_.size() + finds_.size();  // listings are handles too
}

}  // namespace kvd::sim
