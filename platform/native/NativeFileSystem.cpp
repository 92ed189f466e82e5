#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <climits>
#include <condition_variable>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "platform/api/Text.h"
#include "platform/native/NativePlatform.h"

namespace kvd::native {

namespace err = platform::err;
namespace file = platform::file;

namespace {
thread_local std::uint32_t tLastError = 0;

std::uint32_t FromErrno(int value) {
  switch (value) {
    case ENOENT:
      return err::FileNotFound;
    case ENOTDIR:
      return err::PathNotFound;
    case EACCES:
    case EPERM:
    case EROFS:
      return err::AccessDenied;
    case EEXIST:
      return err::FileExists;
    case EWOULDBLOCK:
      return err::SharingViolation;
    case ENOMEM:
      return err::NotEnoughMemory;
    default:
      return err::InvalidFunction;
  }
}

std::uint32_t CopyOut(const std::wstring& text, wchar_t* buffer, std::uint32_t chars) {
  if (text.size() + 1 > chars) return static_cast<std::uint32_t>(text.size() + 1);
  text.copy(buffer, text.size());
  buffer[text.size()] = L'\0';
  return static_cast<std::uint32_t>(text.size());
}

int FdOf(platform::FileHandle handle) { return static_cast<int>(handle) - 1; }
}  // namespace

std::string ToNativePath(std::wstring_view windowsPath) {
  std::wstring_view path = windowsPath;
  if (path.size() >= 2 && path[1] == L':') path.remove_prefix(2);
  std::string out = platform::NarrowUtf8(path);
  for (char& c : out) {
    if (c == '\\') c = '/';
  }
  return out;
}

std::uint32_t NativeErrors::GetLastError() { return tLastError; }
void NativeErrors::SetLastError(std::uint32_t code) { tLastError = code; }
std::uint32_t NativeErrors::FormatMessage(std::uint32_t, std::uint32_t, wchar_t*, std::uint32_t) {
  tLastError = err::MrMidNotFound;
  return 0;
}

// The benchmarks set no attributes, and Linux file modes would not mean what the flags mean.
bool NativeFileSystem::SetFileAttributes(const wchar_t*, std::uint32_t) {
  errors_.SetLastError(err::NotSupported);
  return false;
}

bool NativeFileSystem::GetFileAttributesEx(const wchar_t* path, platform::FileAttributeData* out) {
  struct stat info {};
  if (::stat(ToNativePath(path).c_str(), &info) != 0) {
    errors_.SetLastError(FromErrno(errno));
    return false;
  }
  out->attributes = S_ISDIR(info.st_mode) ? file::AttributeDirectory : file::AttributeArchive;
  out->fileSize = static_cast<std::uint64_t>(info.st_size);
  const auto toFileTime = [](std::time_t t) {
    return static_cast<platform::FileTime>(t) * 10000000ull + 116444736000000000ull;
  };
  out->creationTime = toFileTime(info.st_ctime);
  out->lastAccessTime = toFileTime(info.st_atime);
  out->lastWriteTime = toFileTime(info.st_mtime);
  return true;
}

platform::FileHandle NativeFileSystem::CreateFile(const wchar_t* path, std::uint32_t desiredAccess,
                                                  std::uint32_t shareMode,
                                                  std::uint32_t creationDisposition,
                                                  std::uint32_t) {
  int flags = O_CLOEXEC;
  const bool read = (desiredAccess & file::GenericRead) != 0;
  const bool write = (desiredAccess & file::GenericWrite) != 0;
  flags |= read && write ? O_RDWR : write ? O_WRONLY : O_RDONLY;
  switch (creationDisposition) {
    case file::CreateNew:
      flags |= O_CREAT | O_EXCL;
      break;
    case file::CreateAlways:
      flags |= O_CREAT | O_TRUNC;
      break;
    case file::OpenAlways:
      flags |= O_CREAT;
      break;
    case file::TruncateExisting:
      flags |= O_TRUNC;
      break;
    default:
      break;
  }
  const std::string native = ToNativePath(path);
  const bool existed = ::access(native.c_str(), F_OK) == 0;
  const int fd = ::open(native.c_str(), flags, 0644);
  if (fd < 0) {
    errors_.SetLastError(FromErrno(errno));
    return platform::kInvalidFile;
  }
  const int lockMode = shareMode == 0 ? LOCK_EX : LOCK_SH;
  if (::flock(fd, lockMode | LOCK_NB) != 0) {
    ::close(fd);
    errors_.SetLastError(err::SharingViolation);
    return platform::kInvalidFile;
  }
  const bool reportsExisting =
      creationDisposition == file::OpenAlways || creationDisposition == file::CreateAlways;
  errors_.SetLastError(existed && reportsExisting ? err::AlreadyExists : err::Success);
  return static_cast<platform::FileHandle>(fd) + 1;
}

std::uint32_t NativeFileSystem::SetFilePointer(platform::FileHandle handle, std::int32_t distance,
                                               std::uint32_t moveMethod) {
  const int whence = moveMethod == file::End       ? SEEK_END
                     : moveMethod == file::Current ? SEEK_CUR
                                                   : SEEK_SET;
  const off_t position = ::lseek(FdOf(handle), distance, whence);
  if (position < 0) {
    errors_.SetLastError(FromErrno(errno));
    return file::InvalidSetFilePointer;
  }
  return static_cast<std::uint32_t>(position);
}

bool NativeFileSystem::WriteFile(platform::FileHandle handle, const void* data, std::uint32_t bytes,
                                 std::uint32_t* written) {
  const ssize_t done = ::write(FdOf(handle), data, bytes);
  if (done < 0) {
    errors_.SetLastError(FromErrno(errno));
    if (written != nullptr) *written = 0;
    return false;
  }
  if (written != nullptr) *written = static_cast<std::uint32_t>(done);
  return true;
}

bool NativeFileSystem::ReadFile(platform::FileHandle handle, void* data, std::uint32_t bytes,
                                std::uint32_t* read) {
  const ssize_t done = ::read(FdOf(handle), data, bytes);
  if (done < 0) {
    errors_.SetLastError(FromErrno(errno));
    if (read != nullptr) *read = 0;
    return false;
  }
  if (read != nullptr) *read = static_cast<std::uint32_t>(done);
  return true;
}

bool NativeFileSystem::CloseHandle(platform::FileHandle handle) {
  if (handle == platform::kInvalidFile || ::close(FdOf(handle)) != 0) {
    errors_.SetLastError(err::InvalidHandle);
    return false;
  }
  return true;
}

bool NativeFileSystem::DeleteFile(const wchar_t* path) {
  if (::unlink(ToNativePath(path).c_str()) != 0) {
    errors_.SetLastError(FromErrno(errno));
    return false;
  }
  return true;
}

bool NativeFileSystem::CopyFile(const wchar_t* from, const wchar_t* to, bool failIfExists) {
  std::error_code error;
  const auto options = failIfExists ? std::filesystem::copy_options::none
                                    : std::filesystem::copy_options::overwrite_existing;
  if (!std::filesystem::copy_file(ToNativePath(from), ToNativePath(to), options, error)) {
    errors_.SetLastError(error ? FromErrno(error.value()) : err::FileExists);
    return false;
  }
  return true;
}

bool NativeFileSystem::CreateDirectory(const wchar_t* path) {
  if (::mkdir(ToNativePath(path).c_str(), 0755) != 0) {
    errors_.SetLastError(errno == EEXIST ? err::AlreadyExists : FromErrno(errno));
    return false;
  }
  return true;
}

std::uint32_t NativeFileSystem::GetTempFileName(const wchar_t* pathName, const wchar_t* prefix,
                                                std::uint32_t unique, wchar_t* tempFileName) {
  const std::wstring stem = std::wstring(pathName) + L"\\" + std::wstring(prefix).substr(0, 3);
  for (std::uint32_t number = unique != 0 ? unique : 1; number < 0x10000; ++number) {
    wchar_t hex[8] = {};
    std::swprintf(hex, 8, L"%X", number);
    const std::wstring candidate = stem + hex + L".tmp";
    if (unique != 0) {
      CopyOut(candidate, tempFileName, 260);
      return unique;
    }
    const int fd =
        ::open(ToNativePath(candidate).c_str(), O_CREAT | O_EXCL | O_WRONLY | O_CLOEXEC, 0644);
    if (fd >= 0) {
      ::close(fd);
      CopyOut(candidate, tempFileName, 260);
      return number;
    }
    if (errno != EEXIST) break;
  }
  errors_.SetLastError(FromErrno(errno));
  return 0;
}

std::uint32_t NativeFileSystem::GetLongPathName(const wchar_t* shortPath, wchar_t* longPath,
                                                std::uint32_t chars) {
  if (::access(ToNativePath(shortPath).c_str(), F_OK) != 0) {
    errors_.SetLastError(FromErrno(errno));
    return 0;
  }
  return CopyOut(shortPath, longPath, chars);
}

std::uint32_t NativeFileSystem::SearchPath(const wchar_t*, const wchar_t* fileName, const wchar_t*,
                                           std::uint32_t chars, wchar_t* buffer) {
  const std::string native = ToNativePath(fileName);
  if (::access(native.c_str(), F_OK) != 0) {
    errors_.SetLastError(err::FileNotFound);
    return 0;
  }
  std::wstring full = fileName;
  if (!native.empty() && native[0] != '/') {
    char cwd[PATH_MAX] = {};
    if (::getcwd(cwd, sizeof cwd) != nullptr) full = platform::WidenUtf8(cwd) + L"/" + full;
  }
  return CopyOut(full, buffer, chars);
}

platform::HResult NativeFileSystem::GetFolderPath(int, wchar_t* path) {
  CopyOut(L"\\tmp", path, 260);
  return platform::hr::Ok;
}

namespace {
// Listings are read whole when they start; the handle names one in this table.
struct Listings {
  std::mutex mutex;
  std::map<platform::FileHandle, std::pair<std::vector<platform::FindData>, std::size_t>> open;
  platform::FileHandle next = 0x40000000;
};
Listings& TheListings() {
  static Listings listings;
  return listings;
}
}  // namespace

platform::FileHandle NativeFileSystem::FindFirstFile(const wchar_t* pattern,
                                                     platform::FindData* out) {
  const std::wstring_view text(pattern);
  const std::size_t split = text.find_last_of(L"\\/");
  const std::wstring mask(split == std::wstring_view::npos ? text : text.substr(split + 1));
  const std::string folder =
      split == std::wstring_view::npos ? std::string(".") : ToNativePath(text.substr(0, split + 1));
  DIR* dir = ::opendir(folder.c_str());
  if (dir == nullptr) {
    errors_.SetLastError(err::PathNotFound);
    return platform::kInvalidFile;
  }
  std::vector<platform::FindData> entries;
  while (const dirent* entry = ::readdir(dir)) {
    const std::wstring name = platform::WidenUtf8(entry->d_name);
    if (!platform::MatchesFileMask(name, mask)) continue;
    struct stat info {};
    const bool isFolder =
        ::stat((folder + "/" + entry->d_name).c_str(), &info) == 0 && S_ISDIR(info.st_mode);
    entries.push_back({isFolder ? file::AttributeDirectory : file::AttributeArchive, name});
  }
  ::closedir(dir);
  if (entries.empty()) {
    errors_.SetLastError(err::FileNotFound);
    return platform::kInvalidFile;
  }
  *out = entries.front();
  Listings& listings = TheListings();
  std::lock_guard lock(listings.mutex);
  const platform::FileHandle handle = listings.next++;
  listings.open[handle] = {std::move(entries), 1};
  return handle;
}

bool NativeFileSystem::FindNextFile(platform::FileHandle find, platform::FindData* out) {
  Listings& listings = TheListings();
  std::lock_guard lock(listings.mutex);
  auto it = listings.open.find(find);
  if (it == listings.open.end()) {
    errors_.SetLastError(err::InvalidHandle);
    return false;
  }
  auto& [entries, next] = it->second;
  if (next >= entries.size()) {
    errors_.SetLastError(err::NoMoreFiles);
    return false;
  }
  *out = entries[next++];
  return true;
}

bool NativeFileSystem::FindClose(platform::FileHandle find) {
  Listings& listings = TheListings();
  std::lock_guard lock(listings.mutex);
  if (listings.open.erase(find) == 0) {
    errors_.SetLastError(err::InvalidHandle);
    return false;
  }
  return true;
}

std::uint32_t NativeClock::GetTickCount() {
  // GetTickCount is a coarse tick (10 to 16 ms steps) read from memory; the coarse monotonic
  // clock is the same kind of source, where the precise one would cost a counter read.
  timespec now{};
  ::clock_gettime(CLOCK_MONOTONIC_COARSE, &now);
  return static_cast<std::uint32_t>(static_cast<std::uint64_t>(now.tv_sec) * 1000u +
                                    static_cast<std::uint64_t>(now.tv_nsec) / 1000000u);
}

bool NativeClock::QueryPerformanceCounter(std::int64_t* counter) {
  *counter = std::chrono::duration_cast<std::chrono::nanoseconds>(
                 std::chrono::steady_clock::now().time_since_epoch())
                 .count();
  return true;
}

bool NativeClock::QueryPerformanceFrequency(std::int64_t* frequency) {
  *frequency = 1000000000;
  return true;
}

bool NativeClock::GetLocalCalendarTime(platform::CalendarTime* out) {
  // glibc's localtime takes a process-wide lock; the answer changes once a second.
  thread_local std::time_t cachedSecond = -1;
  thread_local platform::CalendarTime cached;
  const std::time_t now = std::time(nullptr);
  if (now != cachedSecond) {
    std::tm local{};
    if (::localtime_r(&now, &local) == nullptr) return false;
    cached = {local.tm_year + 1900, local.tm_mon + 1, local.tm_mday,
              local.tm_hour,        local.tm_min,     local.tm_sec};
    cachedSecond = now;
  }
  *out = cached;
  return true;
}

void NativeClock::Sleep(std::uint32_t milliseconds) {
  std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

namespace {
struct NativeObject {
  virtual ~NativeObject() = default;
};
struct NativeMutex final : NativeObject {
  std::recursive_timed_mutex mutex;
};
struct NativeEvent final : NativeObject {
  std::mutex mutex;
  std::condition_variable changed;
  bool manualReset = false;
  bool signalled = false;
};
NativeObject* ObjectOf(platform::SyncHandle handle) {
  return reinterpret_cast<NativeObject*>(handle);
}
}  // namespace

platform::SyncHandle NativeSync::CreateMutex(bool initialOwner, const wchar_t*) {
  auto* object = new NativeMutex();
  if (initialOwner) object->mutex.lock();
  return reinterpret_cast<platform::SyncHandle>(static_cast<NativeObject*>(object));
}

std::uint32_t NativeSync::WaitForSingleObject(platform::SyncHandle handle,
                                              std::uint32_t milliseconds) {
  NativeObject* object = ObjectOf(handle);
  if (auto* mutex = dynamic_cast<NativeMutex*>(object)) {
    if (mutex->mutex.try_lock()) return platform::wait::Object0;
    if (milliseconds == 0) return platform::wait::Timeout;
    return mutex->mutex.try_lock_for(std::chrono::milliseconds(milliseconds))
               ? platform::wait::Object0
               : platform::wait::Timeout;
  }
  auto* event = dynamic_cast<NativeEvent*>(object);
  if (event == nullptr) return platform::wait::Failed;
  std::unique_lock<std::mutex> lock(event->mutex);
  const auto ready = [event] { return event->signalled; };
  if (milliseconds == platform::wait::Infinite) {
    event->changed.wait(lock, ready);
  } else if (!event->changed.wait_for(lock, std::chrono::milliseconds(milliseconds), ready)) {
    return platform::wait::Timeout;
  }
  if (!event->manualReset) event->signalled = false;
  return platform::wait::Object0;
}

std::uint32_t NativeSync::WaitForMultipleObjects(std::uint32_t count,
                                                 const platform::SyncHandle* handles, bool waitAll,
                                                 std::uint32_t milliseconds) {
  if (handles == nullptr || count == 0 || waitAll) return platform::wait::Failed;
  // The benchmarks wait for a few events at most: looking at each in turn is enough here.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
  for (;;) {
    for (std::uint32_t i = 0; i < count; ++i) {
      auto* event = dynamic_cast<NativeEvent*>(ObjectOf(handles[i]));
      if (event == nullptr) return platform::wait::Failed;
      std::lock_guard<std::mutex> lock(event->mutex);
      if (!event->signalled) continue;
      if (!event->manualReset) event->signalled = false;
      return platform::wait::Object0 + i;
    }
    if (milliseconds != platform::wait::Infinite && std::chrono::steady_clock::now() >= deadline) {
      return platform::wait::Timeout;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
}

bool NativeSync::ReleaseMutex(platform::SyncHandle handle) {
  auto* mutex = dynamic_cast<NativeMutex*>(ObjectOf(handle));
  if (mutex == nullptr) return false;
  mutex->mutex.unlock();
  return true;
}

bool NativeSync::CloseHandle(platform::SyncHandle handle) {
  delete ObjectOf(handle);
  return true;
}

platform::SyncHandle NativeSync::CreateEvent(bool manualReset, bool initialState, const wchar_t*) {
  auto* event = new NativeEvent();
  event->manualReset = manualReset;
  event->signalled = initialState;
  return reinterpret_cast<platform::SyncHandle>(static_cast<NativeObject*>(event));
}

platform::SyncHandle NativeSync::OpenEvent(const wchar_t*) { return 0; }

bool NativeSync::SetEvent(platform::SyncHandle handle) {
  auto* event = dynamic_cast<NativeEvent*>(ObjectOf(handle));
  if (event == nullptr) return false;
  {
    std::lock_guard<std::mutex> lock(event->mutex);
    event->signalled = true;
  }
  event->changed.notify_all();
  return true;
}

bool NativeSync::ResetEvent(platform::SyncHandle handle) {
  auto* event = dynamic_cast<NativeEvent*>(ObjectOf(handle));
  if (event == nullptr) return false;
  std::lock_guard<std::mutex> lock(event->mutex);
  event->signalled = false;
  return true;
}

}  // namespace kvd::native
