// The system-facts ports over kernel32, user32, advapi32, msi.dll and iphlpapi: the system's
// version, the process token, starting programs and message boxes, installed products and the
// network adapters.
#include "platform/win32/Win32Platform.h"

#include "platform/win32/Windows.h"

#include "platform/win32/Owners.h"

// SDK headers that need <windows.h> before them. WIN32_LEAN_AND_MEAN keeps the old winsock.h out
// of <windows.h>, and Winsock 2 must come before iphlpapi, whose adapter list it declares.
#include <winsock2.h>

#include <iphlpapi.h>
#include <msi.h>
#include <msiquery.h>
#include <ntddndis.h>
#include <winioctl.h>

#include <cstdint>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

#include "platform/api/ISystemFacts.h"
#include "platform/api/UniqueHandle.h"

// As in Windows.h: msi.h maps the installer's names to the A or W function by macro, which would
// rename the port's methods here; the code below calls the W functions by their full names.
#undef MsiConfigureProduct
#undef MsiDoAction
#undef MsiEnumProducts
#undef MsiGetProductInfo
#undef MsiGetProductProperty
#undef MsiGetTargetPath
#undef MsiOpenProduct

namespace kvd::platform::win32 {

static_assert(os::PlatformWin32Nt == VER_PLATFORM_WIN32_NT);
static_assert(os::NtWorkstation == VER_NT_WORKSTATION);
static_assert(os::NtDomainController == VER_NT_DOMAIN_CONTROLLER);
static_assert(os::NtServer == VER_NT_SERVER);
static_assert(os::SmServerR2 == SM_SERVERR2);

static_assert(mb::Ok == MB_OK);
static_assert(mb::YesNo == MB_YESNO);
static_assert(mb::IconError == MB_ICONERROR);
static_assert(mb::IconQuestion == MB_ICONQUESTION);
static_assert(mb::IconWarning == MB_ICONWARNING);
static_assert(mb::IconInformation == MB_ICONINFORMATION);
static_assert(mb::IdOk == IDOK);
static_assert(mb::IdCancel == IDCANCEL);
static_assert(mb::IdYes == IDYES);
static_assert(mb::IdNo == IDNO);

static_assert(msi::UiLevelNone == INSTALLUILEVEL_NONE);
static_assert(msi::UiLevelSourceResOnly == INSTALLUILEVEL_SOURCERESONLY);
static_assert(sizeof(MsiHandle) == sizeof(MSIHANDLE));
// A GUID in braces is 38 characters.
static_assert(msi::ProductCodeChars == 38 + 1);

static_assert(net::AfInet == AF_INET);
static_assert(net::GaaFlagIncludePrefix == GAA_FLAG_INCLUDE_PREFIX);
static_assert(net::IfTypeEthernet == IF_TYPE_ETHERNET_CSMACD);
static_assert(net::IfTypeIeee80211 == IF_TYPE_IEEE80211);
static_assert(net::ErrorBufferOverflow == ERROR_BUFFER_OVERFLOW);
static_assert(net::ErrorNoData == ERROR_NO_DATA);
static_assert(net::NdisPhysicalMediumWirelessLan == NdisPhysicalMediumWirelessLan);

namespace {

constexpr DWORD kIoctlNdisQueryGlobalStats = 0x00170002;
constexpr ULONG kOidGenPhysicalMedium = 0x00010202;
static_assert(kIoctlNdisQueryGlobalStats == IOCTL_NDIS_QUERY_GLOBAL_STATS);
static_assert(kOidGenPhysicalMedium == OID_GEN_PHYSICAL_MEDIUM);

std::uintptr_t FromHandle(HANDLE handle) { return reinterpret_cast<std::uintptr_t>(handle); }

// Token groups and adapter lists hold pointers into the buffer they arrive in, so the buffer is
// aligned for them: whole 8-byte units, never a byte vector.
class AlignedBuffer {
 public:
  explicit AlignedBuffer(std::size_t bytes) : units_((bytes + sizeof(Unit) - 1) / sizeof(Unit)) {}
  template <class T>
  T* as() {
    return units_.empty() ? nullptr : reinterpret_cast<T*>(units_.data());
  }

 private:
  using Unit = std::uint64_t;
  std::vector<Unit> units_;
};

}  // namespace

// --- System information --------------------------------------------------------------------------

std::uint16_t Win32SystemInfo::GetSystemDefaultLangID() { return ::GetSystemDefaultLangID(); }

// Without a compatibility manifest Windows 8.1 and later answer 6.2 here, and so does Wine in a
// prefix set to Windows 10; kavid.exe's manifest declares Windows 7 to 10, so it sees the real
// version (VerifyVersionInfoW follows the same manifest). A fresh Wine 8 prefix is Windows 7 SP1.
bool Win32SystemInfo::GetVersionEx(OsVersionInfo* out) {
  OSVERSIONINFOEXW info{};
  info.dwOSVersionInfoSize = sizeof info;
#ifdef _MSC_VER
#pragma warning(suppress : 4996)  // deprecated in newer SDKs; the manifest makes it truthful
#endif
  if (!::GetVersionExW(reinterpret_cast<OSVERSIONINFOW*>(&info))) return false;
  out->majorVersion = info.dwMajorVersion;
  out->minorVersion = info.dwMinorVersion;
  out->buildNumber = info.dwBuildNumber;
  out->platformId = info.dwPlatformId;
  out->csdVersion = info.szCSDVersion;
  out->servicePackMajor = info.wServicePackMajor;
  out->servicePackMinor = info.wServicePackMinor;
  out->suiteMask = info.wSuiteMask;
  out->productType = info.wProductType;
  return true;
}

bool Win32SystemInfo::VerifyVersionAtLeast(std::uint32_t major, std::uint32_t minor,
                                           std::uint16_t servicePackMajor,
                                           std::uint16_t servicePackMinor) {
  OSVERSIONINFOEXW wanted{};
  wanted.dwOSVersionInfoSize = sizeof wanted;
  wanted.dwMajorVersion = major;
  wanted.dwMinorVersion = minor;
  wanted.wServicePackMajor = servicePackMajor;
  wanted.wServicePackMinor = servicePackMinor;
  DWORDLONG conditions = 0;
  conditions = ::VerSetConditionMask(conditions, VER_MAJORVERSION, VER_GREATER_EQUAL);
  conditions = ::VerSetConditionMask(conditions, VER_MINORVERSION, VER_GREATER_EQUAL);
  conditions = ::VerSetConditionMask(conditions, VER_SERVICEPACKMAJOR, VER_GREATER_EQUAL);
  conditions = ::VerSetConditionMask(conditions, VER_SERVICEPACKMINOR, VER_GREATER_EQUAL);
  return ::VerifyVersionInfoW(
             &wanted,
             VER_MAJORVERSION | VER_MINORVERSION | VER_SERVICEPACKMAJOR | VER_SERVICEPACKMINOR,
             conditions) != FALSE;
}

// kernel32 has exported IsWow64Process since XP SP2 and mingw's import library has it, so it is
// linked directly rather than looked up at run time.
bool Win32SystemInfo::IsWow64Process(bool* wow64) {
  BOOL value = FALSE;
  if (!::IsWow64Process(::GetCurrentProcess(), &value)) return false;
  *wow64 = value != FALSE;
  return true;
}

int Win32SystemInfo::GetSystemMetrics(int index) { return ::GetSystemMetrics(index); }

// --- Security ------------------------------------------------------------------------------------

bool Win32Security::GetProcessTokenGroups(std::vector<TokenGroup>* groups) {
  UniqueKernelHandle token;
  if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, token.put())) return false;
  DWORD bytes = 0;
  if (::GetTokenInformation(token.get(), TokenGroups, nullptr, 0, &bytes)) {
    // An empty buffer can never hold the list; a call that says otherwise has nothing to give.
    ::SetLastError(ERROR_INVALID_DATA);
    return false;
  }
  if (::GetLastError() != ERROR_INSUFFICIENT_BUFFER) return false;
  AlignedBuffer buffer(bytes);
  if (!::GetTokenInformation(token.get(), TokenGroups, buffer.as<void>(), bytes, &bytes)) {
    return false;
  }
  const TOKEN_GROUPS* list = buffer.as<TOKEN_GROUPS>();
  std::vector<TokenGroup> read;
  read.reserve(list->GroupCount);
  for (DWORD i = 0; i < list->GroupCount; ++i) {
    const SID_AND_ATTRIBUTES& group = list->Groups[i];
    const auto* sid = static_cast<const std::uint8_t*>(group.Sid);
    read.push_back({std::vector<std::uint8_t>(sid, sid + ::GetLengthSid(group.Sid)),
                    static_cast<std::uint32_t>(group.Attributes)});
  }
  *groups = std::move(read);
  return true;
}

bool Win32Security::LookupAccountSid(const std::vector<std::uint8_t>& sid, std::wstring* name,
                                     std::wstring* domain) {
  // The call reads as many sub-authorities as the SID's second byte counts: bytes that do not
  // hold them are refused here rather than read past.
  constexpr std::size_t kHeaderBytes = 8;
  if (sid.size() < kHeaderBytes || sid.size() < ::GetSidLengthRequired(sid[1])) {
    ::SetLastError(ERROR_INVALID_SID);
    return false;
  }
  std::vector<std::uint8_t> copy(sid);  // the call takes a non-const PSID
  wchar_t nameBuffer[128] = {};
  wchar_t domainBuffer[128] = {};
  DWORD nameChars = static_cast<DWORD>(std::size(nameBuffer));
  DWORD domainChars = static_cast<DWORD>(std::size(domainBuffer));
  SID_NAME_USE use = SidTypeUnknown;
  if (!::LookupAccountSidW(nullptr, copy.data(), nameBuffer, &nameChars, domainBuffer, &domainChars,
                           &use)) {
    return false;
  }
  name->assign(nameBuffer, nameChars);
  domain->assign(domainBuffer, domainChars);
  return true;
}

bool Win32Security::OpenProcessToken(std::uint32_t access, SyncHandle* token) {
  HANDLE handle = nullptr;
  if (!::OpenProcessToken(::GetCurrentProcess(), access, &handle)) return false;
  *token = FromHandle(handle);
  return true;
}

bool Win32Security::LookupPrivilegeValue(const wchar_t* name, std::uint64_t* luid) {
  LUID value{};
  if (!::LookupPrivilegeValueW(nullptr, name, &value)) return false;
  *luid = (static_cast<std::uint64_t>(static_cast<std::uint32_t>(value.HighPart)) << 32) |
          value.LowPart;
  return true;
}

bool Win32Security::AdjustTokenPrivileges(SyncHandle token, std::uint64_t luid) {
  TOKEN_PRIVILEGES privileges{};
  privileges.PrivilegeCount = 1;
  privileges.Privileges[0].Luid.LowPart = static_cast<DWORD>(luid & 0xFFFFFFFFu);
  privileges.Privileges[0].Luid.HighPart = static_cast<LONG>(luid >> 32);
  privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
  // Success leaves the last error as the call set it (ERROR_NOT_ALL_ASSIGNED when the token
  // lacks the privilege): the caller reads it.
  ::SetLastError(ERROR_SUCCESS);
  return ::AdjustTokenPrivileges(reinterpret_cast<HANDLE>(token), FALSE, &privileges, 0, nullptr,
                                 nullptr) != FALSE;
}

bool Win32Security::InitiateSystemShutdownEx(const wchar_t* message, std::uint32_t timeoutSeconds,
                                             bool forceAppsClosed, bool reboot,
                                             std::uint32_t reason) {
  return ::InitiateSystemShutdownExW(nullptr, const_cast<wchar_t*>(message), timeoutSeconds,
                                     forceAppsClosed ? TRUE : FALSE, reboot ? TRUE : FALSE,
                                     reason) != FALSE;
}

static_assert(token::Query == TOKEN_QUERY);
static_assert(token::AdjustPrivileges == TOKEN_ADJUST_PRIVILEGES);
static_assert(token::ErrorNotAllAssigned == ERROR_NOT_ALL_ASSIGNED);

// --- Shell ---------------------------------------------------------------------------------------

bool Win32Shell::CreateProcess(const wchar_t* applicationName, const wchar_t* commandLine,
                               ProcessInformation* out) {
  // CreateProcessW may write into the command line, so it gets a copy of its own.
  std::wstring line = commandLine != nullptr ? commandLine : L"";
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION started{};
  if (!::CreateProcessW(applicationName, commandLine != nullptr ? line.data() : nullptr, nullptr,
                        nullptr, FALSE, 0, nullptr, nullptr, &startup, &started)) {
    return false;
  }
  out->process = FromHandle(started.hProcess);
  out->thread = FromHandle(started.hThread);
  out->processId = started.dwProcessId;
  out->threadId = started.dwThreadId;
  return true;
}

int Win32Shell::MessageBox(std::uintptr_t owner, const wchar_t* text, const wchar_t* caption,
                           std::uint32_t type) {
  const int pressed = ::MessageBoxW(reinterpret_cast<HWND>(owner), text, caption, type);
  // Windows answers 0 when it cannot show the box; Wine without a display answers its dialog
  // call's -1 (last error ERROR_INVALID_WINDOW_HANDLE). Both are the port's failure.
  return pressed < 0 ? 0 : pressed;
}

std::intptr_t Win32Shell::ShellExecute(std::uintptr_t owner, const wchar_t* verb,
                                       const wchar_t* file, const wchar_t* parameters,
                                       const wchar_t* directory, int show) {
  return reinterpret_cast<std::intptr_t>(
      ::ShellExecuteW(reinterpret_cast<HWND>(owner), verb, file, parameters, directory, show));
}

bool Win32Shell::ShellExecuteEx(std::uintptr_t owner, const wchar_t* verb, const wchar_t* file,
                                const wchar_t* parameters, int show, SyncHandle* process) {
  SHELLEXECUTEINFOW info{};
  info.cbSize = sizeof info;
  // Without SEE_MASK_FLAG_NO_UI a program that is missing gets the shell's own error box, on
  // whichever thread asked (a background rescan too), where nobody expects one: the caller
  // reports the failure itself.
  info.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_FLAG_NO_UI;
  info.hwnd = reinterpret_cast<HWND>(owner);
  info.lpVerb = verb;
  info.lpFile = file;
  info.lpParameters = parameters;
  info.nShow = show;
  const bool started = ::ShellExecuteExW(&info) != FALSE;
  *process = started ? FromHandle(info.hProcess) : 0;
  return started;
}

bool Win32Shell::GetExitCodeProcess(SyncHandle process, std::uint32_t* code) {
  DWORD exitCode = 0;
  if (!::GetExitCodeProcess(reinterpret_cast<HANDLE>(process), &exitCode)) return false;
  *code = exitCode;
  return true;
}

// --- Installer -----------------------------------------------------------------------------------

std::uint32_t Win32Installer::MsiSetInternalUI(std::uint32_t level) {
  return static_cast<std::uint32_t>(
      ::MsiSetInternalUI(static_cast<INSTALLUILEVEL>(level), nullptr));
}

std::uint32_t Win32Installer::MsiEnumProducts(std::uint32_t index, wchar_t* productCode) {
  return ::MsiEnumProductsW(index, productCode);
}

std::uint32_t Win32Installer::MsiGetProductInfo(const wchar_t* product, const wchar_t* property,
                                                wchar_t* buffer, std::uint32_t* chars) {
  InOut<DWORD> count(chars);
  return ::MsiGetProductInfoW(product, property, buffer, count.get());
}

std::uint32_t Win32Installer::MsiOpenProduct(const wchar_t* product, MsiHandle* handle) {
  MSIHANDLE opened = 0;
  const UINT result = ::MsiOpenProductW(product, &opened);
  *handle = opened;
  return result;
}

std::uint32_t Win32Installer::MsiDoAction(MsiHandle handle, const wchar_t* action) {
  return ::MsiDoActionW(handle, action);
}

std::uint32_t Win32Installer::MsiGetProductProperty(MsiHandle handle, const wchar_t* property,
                                                    wchar_t* buffer, std::uint32_t* chars) {
  InOut<DWORD> count(chars);
  return ::MsiGetProductPropertyW(handle, property, buffer, count.get());
}

std::uint32_t Win32Installer::MsiGetTargetPath(MsiHandle handle, const wchar_t* folder,
                                               wchar_t* buffer, std::uint32_t* chars) {
  InOut<DWORD> count(chars);
  return ::MsiGetTargetPathW(handle, folder, buffer, count.get());
}

std::uint32_t Win32Installer::MsiConfigureProduct(const wchar_t* product, int installLevel,
                                                  int installState) {
  return ::MsiConfigureProductW(product, installLevel, static_cast<INSTALLSTATE>(installState));
}

std::uint32_t Win32Installer::MsiCloseHandle(MsiHandle handle) { return ::MsiCloseHandle(handle); }

// --- Network -------------------------------------------------------------------------------------

std::uint32_t Win32Network::GetAdaptersAddresses(std::uint32_t family, std::uint32_t flags,
                                                 std::vector<AdapterAddress>* adapters,
                                                 std::uint32_t* bytes) {
  if (bytes == nullptr) return ERROR_INVALID_PARAMETER;
  ULONG size = adapters != nullptr ? *bytes : 0;
  AlignedBuffer buffer(size);
  IP_ADAPTER_ADDRESSES* first = buffer.as<IP_ADAPTER_ADDRESSES>();
  const ULONG result = ::GetAdaptersAddresses(family, flags, nullptr, first, &size);
  *bytes = size;
  if (result != ERROR_SUCCESS || adapters == nullptr) return result;
  std::vector<AdapterAddress> list;
  for (const IP_ADAPTER_ADDRESSES* adapter = first; adapter != nullptr; adapter = adapter->Next) {
    list.push_back({adapter->AdapterName != nullptr ? adapter->AdapterName : "",
                    static_cast<std::uint32_t>(adapter->IfType),
                    adapter->FriendlyName != nullptr ? adapter->FriendlyName : L""});
  }
  *adapters = std::move(list);
  return result;
}

// Wine opens an adapter's device but does not answer OID_GEN_PHYSICAL_MEDIUM (the query fails
// with ERROR_INVALID_PARAMETER), so there every adapter's medium is unknown.
bool Win32Network::QueryPhysicalMedium(const std::wstring& adapterName, std::uint32_t* medium) {
  const std::wstring device = L"\\\\.\\" + adapterName;
  HANDLE opened =
      ::CreateFileW(device.c_str(), 0, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (opened == INVALID_HANDLE_VALUE) return false;
  UniqueKernelHandle file;
  file.reset(opened);
  ULONG oid = kOidGenPhysicalMedium;
  ULONG value = 0;
  DWORD returned = 0;
  if (!::DeviceIoControl(file.get(), kIoctlNdisQueryGlobalStats, &oid, sizeof oid, &value,
                         sizeof value, &returned, nullptr)) {
    return false;
  }
  // A driver that answers fewer bytes has not said which medium it is.
  if (returned != sizeof value) {
    ::SetLastError(ERROR_INVALID_DATA);
    return false;
  }
  *medium = value;
  return true;
}

}  // namespace kvd::platform::win32

namespace kvd::platform::win32 {

std::uint32_t Win32IniFiles::GetPrivateProfileString(const wchar_t* section, const wchar_t* key,
                                                     const wchar_t* defaultValue, wchar_t* buffer,
                                                     std::uint32_t chars, const wchar_t* file) {
  return ::GetPrivateProfileStringW(section, key, defaultValue, buffer, chars, file);
}

std::uint32_t Win32IniFiles::GetPrivateProfileSection(const wchar_t* section, wchar_t* buffer,
                                                      std::uint32_t chars, const wchar_t* file) {
  return ::GetPrivateProfileSectionW(section, buffer, chars, file);
}

}  // namespace kvd::platform::win32
