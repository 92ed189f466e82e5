#include "platform/win32/Win32Platform.h"

#include "platform/win32/Windows.h"

// SDK headers that need <windows.h> before them.
#include <psapi.h>
#include <shlobj.h>
#include <shlwapi.h>

#include <algorithm>
#include <array>
#include <ctime>
#include <cwchar>
#include <vector>

#include "platform/api/IFileSystem.h"
#include "platform/api/IRegistry.h"
#include "platform/api/ISystem.h"
#include "platform/api/IWindowMessages.h"

namespace kvd::platform::win32 {

// The port constants are the Windows values, so that numbers pass both ways unchanged.

static_assert(err::Success == ERROR_SUCCESS);
static_assert(wait::kMaximumWaitObjects == MAXIMUM_WAIT_OBJECTS);
static_assert(err::InvalidFunction == ERROR_INVALID_FUNCTION);
static_assert(err::FileNotFound == ERROR_FILE_NOT_FOUND);
static_assert(err::PathNotFound == ERROR_PATH_NOT_FOUND);
static_assert(err::NoMoreFiles == ERROR_NO_MORE_FILES);
static_assert(err::AccessDenied == ERROR_ACCESS_DENIED);
static_assert(err::InvalidHandle == ERROR_INVALID_HANDLE);
static_assert(err::NotEnoughMemory == ERROR_NOT_ENOUGH_MEMORY);
static_assert(err::InvalidData == ERROR_INVALID_DATA);
static_assert(err::SharingViolation == ERROR_SHARING_VIOLATION);
static_assert(err::HandleEof == ERROR_HANDLE_EOF);
static_assert(err::NotSupported == ERROR_NOT_SUPPORTED);
static_assert(err::FileExists == ERROR_FILE_EXISTS);
static_assert(err::InvalidParameter == ERROR_INVALID_PARAMETER);
static_assert(err::CallNotImplemented == ERROR_CALL_NOT_IMPLEMENTED);
static_assert(err::InsufficientBuffer == ERROR_INSUFFICIENT_BUFFER);
static_assert(err::InvalidName == ERROR_INVALID_NAME);
static_assert(err::AlreadyExists == ERROR_ALREADY_EXISTS);
static_assert(err::EnvVarNotFound == ERROR_ENVVAR_NOT_FOUND);
static_assert(err::MoreData == ERROR_MORE_DATA);
static_assert(err::NoMoreItems == ERROR_NO_MORE_ITEMS);
static_assert(err::MrMidNotFound == ERROR_MR_MID_NOT_FOUND);
static_assert(err::ResourceDataNotFound == ERROR_RESOURCE_DATA_NOT_FOUND);
static_assert(err::ResourceTypeNotFound == ERROR_RESOURCE_TYPE_NOT_FOUND);
static_assert(err::KeyDeleted == ERROR_KEY_DELETED);
static_assert(err::BadPathname == ERROR_BAD_PATHNAME);
static_assert(err::DirNotEmpty == ERROR_DIR_NOT_EMPTY);

static_assert(hr::Ok == S_OK);
static_assert(hr::Fail == E_FAIL);
static_assert(hr::NotImpl == E_NOTIMPL);
static_assert(hr::InvalidArg == E_INVALIDARG);
static_assert(hr::FromWin32(err::Success) == HRESULT_FROM_WIN32(ERROR_SUCCESS));
static_assert(hr::FromWin32(err::FileNotFound) == HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND));
static_assert(hr::FromWin32(err::DirNotEmpty) == HRESULT_FROM_WIN32(ERROR_DIR_NOT_EMPTY));

static_assert(sam::QueryValue == KEY_QUERY_VALUE);
static_assert(sam::SetValue == KEY_SET_VALUE);
static_assert(sam::CreateSubKey == KEY_CREATE_SUB_KEY);
static_assert(sam::EnumerateSubKeys == KEY_ENUMERATE_SUB_KEYS);
static_assert(sam::Notify == KEY_NOTIFY);
static_assert(sam::Wow64_64Key == KEY_WOW64_64KEY);
static_assert(sam::Wow64_32Key == KEY_WOW64_32KEY);
static_assert(sam::Read == KEY_READ);
static_assert(sam::Write == KEY_WRITE);
static_assert(sam::AllAccess == KEY_ALL_ACCESS);

static_assert(regtype::None == REG_NONE);
static_assert(regtype::Sz == REG_SZ);
static_assert(regtype::ExpandSz == REG_EXPAND_SZ);
static_assert(regtype::Binary == REG_BINARY);
static_assert(regtype::Dword == REG_DWORD);
static_assert(regtype::MultiSz == REG_MULTI_SZ);
static_assert(regtype::Qword == REG_QWORD);
static_assert(kCreatedNewKey == REG_CREATED_NEW_KEY);
static_assert(kOpenedExistingKey == REG_OPENED_EXISTING_KEY);
// kHkeyCurrentUser and kHkeyLocalMachine cannot be checked here: HKEY_CURRENT_USER is a pointer
// cast, never a constant expression. ToHkey/FromHkey below map them, and the Wine tier checks the
// mapping against the real roots.

static_assert(file::GenericRead == GENERIC_READ);
static_assert(file::GenericWrite == GENERIC_WRITE);
static_assert(file::ShareRead == FILE_SHARE_READ);
static_assert(file::ShareWrite == FILE_SHARE_WRITE);
static_assert(file::ShareDelete == FILE_SHARE_DELETE);
static_assert(file::CreateNew == CREATE_NEW);
static_assert(file::CreateAlways == CREATE_ALWAYS);
static_assert(file::OpenExisting == OPEN_EXISTING);
static_assert(file::OpenAlways == OPEN_ALWAYS);
static_assert(file::TruncateExisting == TRUNCATE_EXISTING);
static_assert(file::AttributeReadOnly == FILE_ATTRIBUTE_READONLY);
static_assert(file::AttributeDirectory == FILE_ATTRIBUTE_DIRECTORY);
static_assert(file::AttributeArchive == FILE_ATTRIBUTE_ARCHIVE);
static_assert(file::AttributeNormal == FILE_ATTRIBUTE_NORMAL);
static_assert(file::InvalidAttributes == INVALID_FILE_ATTRIBUTES);
static_assert(file::Begin == FILE_BEGIN);
static_assert(file::Current == FILE_CURRENT);
static_assert(file::End == FILE_END);
static_assert(file::InvalidSetFilePointer == INVALID_SET_FILE_POINTER);

static_assert(csidl::AppData == CSIDL_APPDATA);
static_assert(csidl::LocalAppData == CSIDL_LOCAL_APPDATA);
static_assert(csidl::CommonAppData == CSIDL_COMMON_APPDATA);
static_assert(csidl::Windows == CSIDL_WINDOWS);
static_assert(csidl::System == CSIDL_SYSTEM);
static_assert(csidl::ProgramFiles == CSIDL_PROGRAM_FILES);
static_assert(csidl::ProgramFilesX86 == CSIDL_PROGRAM_FILESX86);
static_assert(csidl::CommonStartup == CSIDL_COMMON_STARTUP);
static_assert(csidl::Startup == CSIDL_STARTUP);
static_assert(csidl::FlagCreate == CSIDL_FLAG_CREATE);

static_assert(wait::Object0 == WAIT_OBJECT_0);
static_assert(wait::Abandoned == WAIT_ABANDONED);
static_assert(wait::Timeout == WAIT_TIMEOUT);
static_assert(wait::Failed == WAIT_FAILED);
static_assert(wait::Infinite == INFINITE);

static_assert(modflag::UnchangedRefcount == GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT);
static_assert(modflag::FromAddress == GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS);
static_assert(kLangNeutralSublangDefault == MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT));

// The handle shapes: kInvalidFile is INVALID_HANDLE_VALUE's bits (~0), a module list is an array
// of handle-sized numbers.
static_assert(sizeof(FileHandle) == sizeof(HANDLE));
static_assert(sizeof(HKey) == sizeof(HKEY));
static_assert(sizeof(ModuleHandle) == sizeof(HMODULE));
static_assert(sizeof(FileTime) == sizeof(FILETIME));

namespace {

// On 64-bit Windows HKEY_CURRENT_USER is the sign-extended 0xFFFFFFFF80000001, while the port
// spells the roots as their 32-bit values: the roots are mapped by name, every other key passes
// through as its bits.
HKEY ToHkey(HKey key) {
  if (key == kHkeyCurrentUser) return HKEY_CURRENT_USER;
  if (key == kHkeyLocalMachine) return HKEY_LOCAL_MACHINE;
  return reinterpret_cast<HKEY>(key);
}

HKey FromHkey(HKEY key) {
  if (key == HKEY_CURRENT_USER) return kHkeyCurrentUser;
  if (key == HKEY_LOCAL_MACHINE) return kHkeyLocalMachine;
  return reinterpret_cast<HKey>(key);
}

HANDLE ToHandle(std::uintptr_t handle) { return reinterpret_cast<HANDLE>(handle); }
std::uintptr_t FromHandle(HANDLE handle) { return reinterpret_cast<std::uintptr_t>(handle); }
HMODULE ToModule(ModuleHandle module) { return reinterpret_cast<HMODULE>(module); }
ModuleHandle FromModule(HMODULE module) { return reinterpret_cast<ModuleHandle>(module); }

FileTime FromFileTime(const FILETIME& time) {
  return (static_cast<FileTime>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
}

FILETIME ToFileTime(FileTime time) {
  FILETIME out;
  out.dwLowDateTime = static_cast<DWORD>(time & 0xFFFFFFFFu);
  out.dwHighDateTime = static_cast<DWORD>(time >> 32);
  return out;
}

}  // namespace

// --- Registry -----------------------------------------------------------------------------------

LStatus Win32Registry::OpenKeyEx(HKey parent, const wchar_t* subKey, std::uint32_t samDesired,
                                 HKey* result) {
  HKEY opened = result ? ToHkey(*result) : nullptr;
  const LSTATUS status =
      ::RegOpenKeyExW(ToHkey(parent), subKey, 0, samDesired, result ? &opened : nullptr);
  if (result) *result = FromHkey(opened);
  return status;
}

LStatus Win32Registry::CreateKeyEx(HKey parent, const wchar_t* subKey, std::uint32_t samDesired,
                                   HKey* result, std::uint32_t* disposition) {
  HKEY created = result ? ToHkey(*result) : nullptr;
  InOut<DWORD> how(disposition);
  const LSTATUS status =
      ::RegCreateKeyExW(ToHkey(parent), subKey, 0, nullptr, REG_OPTION_NON_VOLATILE, samDesired,
                        nullptr, result ? &created : nullptr, how.get());
  if (result) *result = FromHkey(created);
  return status;
}

LStatus Win32Registry::QueryValueEx(HKey key, const wchar_t* valueName, std::uint32_t* type,
                                    std::uint8_t* data, std::uint32_t* dataBytes) {
  InOut<DWORD> valueType(type);
  InOut<DWORD> size(dataBytes);
  return ::RegQueryValueExW(ToHkey(key), valueName, nullptr, valueType.get(), data, size.get());
}

// Windows (and Wine) store one character more than asked for a string type whose counted text
// does not end in NUL while the character after it in memory does: callers that mean to store
// an unterminated text must not have a NUL right behind it.
LStatus Win32Registry::SetValueEx(HKey key, const wchar_t* valueName, std::uint32_t type,
                                  const std::uint8_t* data, std::uint32_t dataBytes) {
  return ::RegSetValueExW(ToHkey(key), valueName, 0, type, data, dataBytes);
}

LStatus Win32Registry::DeleteValue(HKey key, const wchar_t* valueName) {
  return ::RegDeleteValueW(ToHkey(key), valueName);
}

LStatus Win32Registry::DeleteKeyEx(HKey parent, const wchar_t* subKey, std::uint32_t samDesired) {
  return ::RegDeleteKeyExW(ToHkey(parent), subKey, samDesired, 0);
}

LStatus Win32Registry::DeleteTree(HKey parent, const wchar_t* subKey) {
  return static_cast<LStatus>(::SHDeleteKeyW(ToHkey(parent), subKey));
}

LStatus Win32Registry::EnumKeyEx(HKey key, std::uint32_t index, wchar_t* name,
                                 std::uint32_t* nameChars, FileTime* lastWriteTime) {
  InOut<DWORD> chars(nameChars);
  FILETIME written = lastWriteTime ? ToFileTime(*lastWriteTime) : FILETIME{};
  const LSTATUS status = ::RegEnumKeyExW(ToHkey(key), index, name, chars.get(), nullptr, nullptr,
                                         nullptr, lastWriteTime ? &written : nullptr);
  if (lastWriteTime) *lastWriteTime = FromFileTime(written);
  return status;
}

LStatus Win32Registry::EnumValue(HKey key, std::uint32_t index, wchar_t* name,
                                 std::uint32_t* nameChars) {
  InOut<DWORD> chars(nameChars);
  return ::RegEnumValueW(ToHkey(key), index, name, chars.get(), nullptr, nullptr, nullptr, nullptr);
}

LStatus Win32Registry::CloseKey(HKey key) { return ::RegCloseKey(ToHkey(key)); }

// --- Files ---------------------------------------------------------------------------------------

bool Win32FileSystem::GetFileAttributesEx(const wchar_t* path, FileAttributeData* out) {
  WIN32_FILE_ATTRIBUTE_DATA data{};
  if (!::GetFileAttributesExW(path, GetFileExInfoStandard, &data)) return false;
  out->attributes = data.dwFileAttributes;
  out->creationTime = FromFileTime(data.ftCreationTime);
  out->lastAccessTime = FromFileTime(data.ftLastAccessTime);
  out->lastWriteTime = FromFileTime(data.ftLastWriteTime);
  out->fileSize = (static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
  return true;
}

bool Win32FileSystem::SetFileAttributes(const wchar_t* path, std::uint32_t attributes) {
  return ::SetFileAttributesW(path, attributes) != 0;
}

FileHandle Win32FileSystem::CreateFile(const wchar_t* path, std::uint32_t desiredAccess,
                                       std::uint32_t shareMode, std::uint32_t creationDisposition,
                                       std::uint32_t flagsAndAttributes) {
  return FromHandle(::CreateFileW(path, desiredAccess, shareMode, nullptr, creationDisposition,
                                  flagsAndAttributes, nullptr));
}

std::uint32_t Win32FileSystem::SetFilePointer(FileHandle handle, std::int32_t distance,
                                              std::uint32_t moveMethod) {
  return ::SetFilePointer(ToHandle(handle), distance, nullptr, moveMethod);
}

bool Win32FileSystem::WriteFile(FileHandle handle, const void* data, std::uint32_t bytes,
                                std::uint32_t* written) {
  InOut<DWORD> done(written);
  return ::WriteFile(ToHandle(handle), data, bytes, done.get(), nullptr) != FALSE;
}

bool Win32FileSystem::ReadFile(FileHandle handle, void* data, std::uint32_t bytes,
                               std::uint32_t* read) {
  InOut<DWORD> done(read);
  return ::ReadFile(ToHandle(handle), data, bytes, done.get(), nullptr) != FALSE;
}

bool Win32FileSystem::CloseHandle(FileHandle handle) {
  return ::CloseHandle(ToHandle(handle)) != FALSE;
}

bool Win32FileSystem::DeleteFile(const wchar_t* path) { return ::DeleteFileW(path) != FALSE; }

bool Win32FileSystem::CopyFile(const wchar_t* from, const wchar_t* to, bool failIfExists) {
  return ::CopyFileW(from, to, failIfExists ? TRUE : FALSE) != FALSE;
}

bool Win32FileSystem::CreateDirectory(const wchar_t* path) {
  return ::CreateDirectoryW(path, nullptr) != FALSE;
}

std::uint32_t Win32FileSystem::GetTempFileName(const wchar_t* pathName, const wchar_t* prefix,
                                               std::uint32_t unique, wchar_t* tempFileName) {
  return ::GetTempFileNameW(pathName, prefix, unique, tempFileName);
}

std::uint32_t Win32FileSystem::GetLongPathName(const wchar_t* shortPath, wchar_t* longPath,
                                               std::uint32_t chars) {
  return ::GetLongPathNameW(shortPath, longPath, chars);
}

std::uint32_t Win32FileSystem::SearchPath(const wchar_t* path, const wchar_t* fileName,
                                          const wchar_t* extension, std::uint32_t chars,
                                          wchar_t* buffer) {
  return ::SearchPathW(path, fileName, extension, chars, buffer, nullptr);
}

HResult Win32FileSystem::GetFolderPath(int csidl, wchar_t* path) {
  return ::SHGetFolderPathW(nullptr, csidl, nullptr, SHGFP_TYPE_CURRENT, path);
}

namespace {
void FromFindData(const WIN32_FIND_DATAW& data, FindData* out) {
  out->attributes = data.dwFileAttributes;
  out->fileName = data.cFileName;
}
}  // namespace

FileHandle Win32FileSystem::FindFirstFile(const wchar_t* pattern, FindData* out) {
  WIN32_FIND_DATAW data{};
  const HANDLE find = ::FindFirstFileW(pattern, &data);
  if (find != INVALID_HANDLE_VALUE) FromFindData(data, out);
  return FromHandle(find);
}

bool Win32FileSystem::FindNextFile(FileHandle find, FindData* out) {
  WIN32_FIND_DATAW data{};
  if (!::FindNextFileW(ToHandle(find), &data)) return false;
  FromFindData(data, out);
  return true;
}

bool Win32FileSystem::FindClose(FileHandle find) { return ::FindClose(ToHandle(find)) != FALSE; }

// --- Environment, process ------------------------------------------------------------------------

std::uint32_t Win32Environment::ExpandEnvironmentStrings(const wchar_t* source,
                                                         wchar_t* destination,
                                                         std::uint32_t chars) {
  return ::ExpandEnvironmentStringsW(source, destination, chars);
}

bool Win32Environment::SetEnvironmentVariable(const wchar_t* name, const wchar_t* value) {
  return ::SetEnvironmentVariableW(name, value) != FALSE;
}

std::uint32_t Win32Process::GetModuleFileName(ModuleHandle module, wchar_t* buffer,
                                              std::uint32_t chars) {
  return ::GetModuleFileNameW(ToModule(module), buffer, chars);
}

bool Win32Process::GetModuleHandleEx(std::uint32_t flags, const void* address,
                                     ModuleHandle* result) {
  // Without FROM_ADDRESS the pointer is the module's name, as the call itself reads it.
  HMODULE module = result ? ToModule(*result) : nullptr;
  const BOOL ok =
      ::GetModuleHandleExW(flags, static_cast<const wchar_t*>(address), result ? &module : nullptr);
  if (result) *result = FromModule(module);
  return ok != FALSE;
}

const wchar_t* Win32Process::GetCommandLine() { return ::GetCommandLineW(); }

std::uint32_t Win32Process::GetCurrentProcessId() { return ::GetCurrentProcessId(); }

std::uint32_t Win32Process::GetCurrentThreadId() { return ::GetCurrentThreadId(); }

bool Win32Process::EnumProcessModules(ModuleHandle* modules, std::uint32_t bytes,
                                      std::uint32_t* bytesNeeded) {
  // The list is written as HMODULEs and handed on as numbers of the same size; the byte counts
  // are the caller's, so `bytes` and the answer keep their meaning.
  std::vector<HMODULE> list(modules ? bytes / sizeof(HMODULE) : 0);
  DWORD needed = bytesNeeded ? *bytesNeeded : 0;
  const BOOL ok = ::EnumProcessModules(::GetCurrentProcess(), list.empty() ? nullptr : list.data(),
                                       static_cast<DWORD>(list.size() * sizeof(HMODULE)),
                                       bytesNeeded ? &needed : nullptr);
  if (bytesNeeded) *bytesNeeded = needed;
  if (ok) {
    const std::size_t count = std::min<std::size_t>(list.size(), needed / sizeof(HMODULE));
    for (std::size_t i = 0; i < count; ++i) modules[i] = FromModule(list[i]);
  }
  return ok != FALSE;
}

std::uint32_t Win32Process::GetFileVersionInfoSize(const wchar_t* path) {
  return ::GetFileVersionInfoSizeW(path, nullptr);
}

bool Win32Process::GetFileVersionInfo(const wchar_t* path, std::uint32_t bytes, void* data) {
  return ::GetFileVersionInfoW(path, 0, bytes, data) != FALSE;
}

bool Win32Process::VerQueryValue(const void* block, const wchar_t* subBlock,
                                 const std::uint8_t** value, std::uint32_t* length) {
  void* found = nullptr;
  InOut<UINT> size(length);
  const BOOL ok = ::VerQueryValueW(block, subBlock, value ? &found : nullptr, size.get());
  if (value && ok) *value = static_cast<const std::uint8_t*>(found);
  return ok != FALSE;
}

namespace {
HANDLE AsHandle(SyncHandle handle) { return reinterpret_cast<HANDLE>(handle); }

bool ReadProcessEntry(BOOL ok, const PROCESSENTRY32W& raw, ProcessEntry* entry) {
  if (ok == FALSE) return false;
  entry->processId = raw.th32ProcessID;
  entry->exeFile.assign(raw.szExeFile, ::wcsnlen(raw.szExeFile, std::size(raw.szExeFile)));
  return true;
}
}  // namespace

SyncHandle Win32Process::CreateProcessSnapshot() {
  const HANDLE snapshot = ::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  return snapshot == INVALID_HANDLE_VALUE ? 0 : reinterpret_cast<SyncHandle>(snapshot);
}

bool Win32Process::Process32First(SyncHandle snapshot, ProcessEntry* entry) {
  PROCESSENTRY32W raw{};
  raw.dwSize = sizeof(raw);
  return ReadProcessEntry(::Process32FirstW(AsHandle(snapshot), &raw), raw, entry);
}

bool Win32Process::Process32Next(SyncHandle snapshot, ProcessEntry* entry) {
  PROCESSENTRY32W raw{};
  raw.dwSize = sizeof(raw);
  return ReadProcessEntry(::Process32NextW(AsHandle(snapshot), &raw), raw, entry);
}

SyncHandle Win32Process::OpenProcess(std::uint32_t access, std::uint32_t processId) {
  return reinterpret_cast<SyncHandle>(::OpenProcess(access, FALSE, processId));
}

bool Win32Process::QueryFullProcessImageName(SyncHandle process, std::wstring* path) {
  std::vector<wchar_t> buffer(MAX_PATH);
  for (;;) {
    DWORD chars = static_cast<DWORD>(buffer.size());
    if (::QueryFullProcessImageNameW(AsHandle(process), 0, buffer.data(), &chars) != FALSE) {
      path->assign(buffer.data(), chars);
      return true;
    }
    // Paths may be longer than MAX_PATH; past the longest a path can be, the failure is real.
    if (::GetLastError() != ERROR_INSUFFICIENT_BUFFER || buffer.size() >= 32768) return false;
    buffer.resize(buffer.size() * 2);
  }
}

bool Win32Process::TerminateProcess(SyncHandle process, std::uint32_t exitCode) {
  return ::TerminateProcess(AsHandle(process), exitCode) != FALSE;
}

bool Win32Process::CloseProcessHandle(SyncHandle handle) {
  return ::CloseHandle(AsHandle(handle)) != FALSE;
}

void Win32Process::ExitProcess(std::uint32_t code) { ::ExitProcess(code); }

// --- Clock, debug output, errors -----------------------------------------------------------------

std::uint32_t Win32Clock::GetTickCount() { return ::GetTickCount(); }

bool Win32Clock::QueryPerformanceCounter(std::int64_t* counter) {
  LARGE_INTEGER value{};
  const BOOL ok = ::QueryPerformanceCounter(&value);
  if (ok) *counter = value.QuadPart;
  return ok != FALSE;
}

bool Win32Clock::QueryPerformanceFrequency(std::int64_t* frequency) {
  LARGE_INTEGER value{};
  const BOOL ok = ::QueryPerformanceFrequency(&value);
  if (ok) *frequency = value.QuadPart;
  return ok != FALSE;
}

bool Win32Clock::GetLocalCalendarTime(CalendarTime* out) {
  const std::time_t now = std::time(nullptr);
  if (now == static_cast<std::time_t>(-1)) return false;
  // The Windows run-time keeps localtime's result per thread, so this is safe across threads.
  const std::tm* local = std::localtime(&now);
  if (local == nullptr) return false;
  out->year = local->tm_year + 1900;
  out->month = local->tm_mon + 1;
  out->day = local->tm_mday;
  out->hour = local->tm_hour;
  out->minute = local->tm_min;
  out->second = local->tm_sec;
  return true;
}

void Win32Clock::Sleep(std::uint32_t milliseconds) { ::Sleep(milliseconds); }

void Win32DebugOutput::OutputDebugString(const wchar_t* text) { ::OutputDebugStringW(text); }

std::uint32_t Win32Errors::GetLastError() { return ::GetLastError(); }

void Win32Errors::SetLastError(std::uint32_t code) { ::SetLastError(code); }

std::uint32_t Win32Errors::FormatMessage(std::uint32_t code, std::uint32_t languageId,
                                         wchar_t* buffer, std::uint32_t chars) {
  return ::FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code,
                          languageId, buffer, chars, nullptr);
}

// --- Synchronisation -----------------------------------------------------------------------------

SyncHandle Win32Sync::CreateMutex(bool initialOwner, const wchar_t* name) {
  return FromHandle(::CreateMutexW(nullptr, initialOwner ? TRUE : FALSE, name));
}

std::uint32_t Win32Sync::WaitForSingleObject(SyncHandle handle, std::uint32_t milliseconds) {
  return ::WaitForSingleObject(ToHandle(handle), milliseconds);
}

std::uint32_t Win32Sync::WaitForMultipleObjects(std::uint32_t count, const SyncHandle* handles,
                                                bool waitAll, std::uint32_t milliseconds) {
  std::array<HANDLE, MAXIMUM_WAIT_OBJECTS> native{};
  if (handles == nullptr || count == 0 || count > native.size()) {
    ::SetLastError(ERROR_INVALID_PARAMETER);
    return WAIT_FAILED;
  }
  for (std::uint32_t i = 0; i < count; ++i) native[i] = ToHandle(handles[i]);
  return ::WaitForMultipleObjects(count, native.data(), waitAll ? TRUE : FALSE, milliseconds);
}

bool Win32Sync::ReleaseMutex(SyncHandle handle) {
  return ::ReleaseMutex(ToHandle(handle)) != FALSE;
}

SyncHandle Win32Sync::CreateEvent(bool manualReset, bool initialState, const wchar_t* name) {
  return FromHandle(
      ::CreateEventW(nullptr, manualReset ? TRUE : FALSE, initialState ? TRUE : FALSE, name));
}

SyncHandle Win32Sync::OpenEvent(const wchar_t* name) {
  return FromHandle(::OpenEventW(EVENT_ALL_ACCESS, FALSE, name));
}

bool Win32Sync::SetEvent(SyncHandle handle) { return ::SetEvent(ToHandle(handle)) != FALSE; }

bool Win32Sync::ResetEvent(SyncHandle handle) { return ::ResetEvent(ToHandle(handle)) != FALSE; }

bool Win32Sync::CloseHandle(SyncHandle handle) { return ::CloseHandle(ToHandle(handle)) != FALSE; }

// --- Window messages -----------------------------------------------------------------------------

static_assert(sizeof(WindowHandle) == sizeof(HWND));
static_assert(sizeof(std::uintptr_t) == sizeof(WPARAM) && sizeof(std::intptr_t) == sizeof(LPARAM) &&
              sizeof(std::intptr_t) == sizeof(LRESULT));
static_assert(kWmUser == WM_USER);

std::intptr_t Win32Messages::SendMessage(WindowHandle window, std::uint32_t message,
                                         std::uintptr_t wParam, std::intptr_t lParam) {
  return static_cast<std::intptr_t>(::SendMessageW(reinterpret_cast<HWND>(window), message,
                                                   static_cast<WPARAM>(wParam),
                                                   static_cast<LPARAM>(lParam)));
}

bool Win32Messages::PostMessage(WindowHandle window, std::uint32_t message, std::uintptr_t wParam,
                                std::intptr_t lParam) {
  return ::PostMessageW(reinterpret_cast<HWND>(window), message, static_cast<WPARAM>(wParam),
                        static_cast<LPARAM>(lParam)) != FALSE;
}

bool Win32Messages::SetTimer(WindowHandle window, std::uintptr_t id, std::uint32_t milliseconds) {
  return ::SetTimer(reinterpret_cast<HWND>(window), static_cast<UINT_PTR>(id), milliseconds,
                    nullptr) != 0;
}

bool Win32Messages::KillTimer(WindowHandle window, std::uintptr_t id) {
  return ::KillTimer(reinterpret_cast<HWND>(window), static_cast<UINT_PTR>(id)) != FALSE;
}

// --- Fonts ---------------------------------------------------------------------------------------

static_assert(font::AnsiCharset == ANSI_CHARSET);
static_assert(font::DefaultCharset == DEFAULT_CHARSET);
static_assert(font::OutDefaultPrecis == OUT_DEFAULT_PRECIS);
static_assert(font::ClipDefaultPrecis == CLIP_DEFAULT_PRECIS);
static_assert(font::DefaultQuality == DEFAULT_QUALITY);
static_assert(font::FfSwiss == FF_SWISS);
static_assert(font::FwNormal == FW_NORMAL && font::FwMedium == FW_MEDIUM &&
              font::FwBold == FW_BOLD);

namespace {
int CALLBACK CountFace(const LOGFONTW*, const TEXTMETRICW*, DWORD, LPARAM count) {
  ++*reinterpret_cast<int*>(count);
  return 1;
}
}  // namespace

int Win32Gdi::EnumFontFamiliesEx(const wchar_t* faceName, std::uint8_t charSet) {
  LOGFONTW wanted{};
  wanted.lfCharSet = charSet;
  // A name longer than LOGFONTW holds names no installed family.
  if (faceName == nullptr || std::wcslen(faceName) >= std::size(wanted.lfFaceName)) return 0;
  std::wcscpy(wanted.lfFaceName, faceName);
  HDC screen = ::GetDC(nullptr);
  if (screen == nullptr) return 0;
  int count = 0;
  ::EnumFontFamiliesExW(screen, &wanted, CountFace, reinterpret_cast<LPARAM>(&count), 0);
  ::ReleaseDC(nullptr, screen);
  return count;
}

FontHandle Win32Gdi::CreateFont(const FontSpec& spec) {
  return reinterpret_cast<FontHandle>(
      ::CreateFontW(spec.height, spec.width, spec.escapement, spec.orientation, spec.weight,
                    spec.italic ? TRUE : FALSE, spec.underline ? TRUE : FALSE,
                    spec.strikeOut ? TRUE : FALSE, spec.charSet, spec.outPrecision,
                    spec.clipPrecision, spec.quality, spec.pitchAndFamily, spec.faceName.c_str()));
}

bool Win32Gdi::DeleteObject(FontHandle font) {
  return ::DeleteObject(reinterpret_cast<HGDIOBJ>(font)) != FALSE;
}

// --- Services ------------------------------------------------------------------------------------

namespace {
SC_HANDLE ToSc(ScHandle handle) { return reinterpret_cast<SC_HANDLE>(handle); }
ScHandle FromSc(SC_HANDLE handle) { return reinterpret_cast<ScHandle>(handle); }
std::wstring TextOr(const wchar_t* text) { return text != nullptr ? text : L""; }
}  // namespace

ScHandle Win32Services::OpenSCManager(const wchar_t* database, std::uint32_t access) {
  return FromSc(::OpenSCManagerW(nullptr, database, access));
}

ScHandle Win32Services::OpenService(ScHandle manager, const wchar_t* name, std::uint32_t access) {
  return FromSc(::OpenServiceW(ToSc(manager), name, access));
}

bool Win32Services::QueryServiceConfig(ScHandle service, std::uint32_t bytes, ServiceConfig* out,
                                       std::uint32_t* needed) {
  // The caller's size is honoured as given, so that its two-step read meets the same answers
  // as on Windows; the buffer itself is ours, aligned for the structure.
  std::vector<QUERY_SERVICE_CONFIGW> buffer(bytes / sizeof(QUERY_SERVICE_CONFIGW) + 1);
  DWORD required = 0;
  if (!::QueryServiceConfigW(ToSc(service), bytes != 0 ? buffer.data() : nullptr, bytes,
                             &required)) {
    if (needed != nullptr) *needed = required;
    return false;
  }
  const QUERY_SERVICE_CONFIGW& config = buffer.front();
  out->serviceType = config.dwServiceType;
  out->startType = config.dwStartType;
  out->binaryPathName = TextOr(config.lpBinaryPathName);
  out->displayName = TextOr(config.lpDisplayName);
  return true;
}

bool Win32Services::ChangeServiceStartType(ScHandle service, std::uint32_t serviceType,
                                           std::uint32_t startType) {
  return ::ChangeServiceConfigW(ToSc(service), serviceType, startType, SERVICE_NO_CHANGE, nullptr,
                                nullptr, nullptr, nullptr, nullptr, nullptr, nullptr) != FALSE;
}

bool Win32Services::QueryServiceStatus(ScHandle service, std::uint32_t* currentState) {
  SERVICE_STATUS status{};
  if (!::QueryServiceStatus(ToSc(service), &status)) return false;
  *currentState = status.dwCurrentState;
  return true;
}

bool Win32Services::StartService(ScHandle service) {
  return ::StartServiceW(ToSc(service), 0, nullptr) != FALSE;
}

bool Win32Services::CloseServiceHandle(ScHandle handle) {
  return ::CloseServiceHandle(ToSc(handle)) != FALSE;
}

static_assert(svc::ScManagerAllAccess == SC_MANAGER_ALL_ACCESS);
static_assert(svc::ServiceAllAccess == SERVICE_ALL_ACCESS);
static_assert(svc::AutoStart == SERVICE_AUTO_START && svc::Disabled == SERVICE_DISABLED);
static_assert(svc::Stopped == SERVICE_STOPPED && svc::Running == SERVICE_RUNNING);

// --- The whole machine ---------------------------------------------------------------------------

Win32Platform::Win32Platform()
    : ports_{registry_, files_, environment_, process_,  clock_,   debug_,     errors_,
             sync_,     xml_,   system_,      security_, shell_,   installer_, network_,
             messages_, ini_,   devices_,     modules_,  sockets_, icmp_,      gdi_,
             services_, wia_,   crocan_,      twain_,    com_} {}

}  // namespace kvd::platform::win32
