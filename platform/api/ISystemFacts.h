#pragma once

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/api/Types.h"

namespace kvd::platform {

// OSVERSIONINFOEXW as GetVersionExW fills it.
struct OsVersionInfo {
  std::uint32_t majorVersion = 0;
  std::uint32_t minorVersion = 0;
  std::uint32_t buildNumber = 0;
  std::uint32_t platformId = 0;  // VER_PLATFORM_WIN32_NT = 2
  std::wstring csdVersion;       // the service-pack text, e.g. "Service Pack 1"
  std::uint16_t servicePackMajor = 0;
  std::uint16_t servicePackMinor = 0;
  std::uint16_t suiteMask = 0;
  std::uint8_t productType = 0;  // VER_NT_WORKSTATION 1, DOMAIN_CONTROLLER 2, SERVER 3
};

namespace os {
inline constexpr std::uint32_t PlatformWin32Nt = 2;
inline constexpr std::uint8_t NtWorkstation = 1;
inline constexpr std::uint8_t NtDomainController = 2;
inline constexpr std::uint8_t NtServer = 3;
inline constexpr int SmServerR2 = 89;  // GetSystemMetrics index
}  // namespace os

// Facts about the system as a whole (kernel32, user32).
class ISystemInfo {
 public:
  virtual ~ISystemInfo() = default;
  // GetSystemDefaultLangID: the system's default language (primary in the low 10 bits).
  virtual std::uint16_t GetSystemDefaultLangID() = 0;
  // GetVersionExW with OSVERSIONINFOEXW. false on failure (last error set).
  virtual bool GetVersionEx(OsVersionInfo* out) = 0;
  // VerifyVersionInfoW for VER_MAJORVERSION | VER_MINORVERSION | VER_SERVICEPACKMAJOR |
  // VER_SERVICEPACKMINOR, each VER_GREATER_EQUAL: the system is at least this version.
  virtual bool VerifyVersionAtLeast(std::uint32_t major, std::uint32_t minor,
                                    std::uint16_t servicePackMajor,
                                    std::uint16_t servicePackMinor) = 0;
  // IsWow64Process(GetCurrentProcess(), result). false when the call fails.
  virtual bool IsWow64Process(bool* wow64) = 0;
  // GetSystemMetrics(index).
  virtual int GetSystemMetrics(int index) = 0;
};

// One group of a token: its SID as bytes and its SE_GROUP_* attributes.
struct TokenGroup {
  std::vector<std::uint8_t> sid;
  std::uint32_t attributes = 0;
};

// The SID S-1-5-32-544 (BUILTIN\Administrators), as bytes.
inline const std::vector<std::uint8_t>& AdministratorsSid() {
  static const std::vector<std::uint8_t> sid = {1, 2, 0, 0, 0, 0, 0, 5, 32, 0, 0, 0, 32, 2, 0, 0};
  return sid;
}

// The security of the running process (advapi32).
class ISecurity {
 public:
  virtual ~ISecurity() = default;
  // OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY), GetTokenInformation(TokenGroups) in two
  // steps, CloseHandle. false on failure, with the failing call's last error.
  virtual bool GetProcessTokenGroups(std::vector<TokenGroup>* groups) = 0;
  // LookupAccountSidW(nullptr, sid, name, 128, domain, 128, use). false on failure (last error
  // set; ERROR_NONE_MAPPED 1332 when the SID has no account name).
  virtual bool LookupAccountSid(const std::vector<std::uint8_t>& sid, std::wstring* name,
                                std::wstring* domain) = 0;

  // OpenProcessToken(GetCurrentProcess(), access, token): the token is closed with
  // ISync::CloseHandle. false on failure (last error set).
  virtual bool OpenProcessToken(std::uint32_t access, SyncHandle* token) = 0;
  // LookupPrivilegeValueW(nullptr, name, luid): the LUID as one number.
  virtual bool LookupPrivilegeValue(const wchar_t* name, std::uint64_t* luid) = 0;
  // AdjustTokenPrivileges(token, FALSE, one privilege enabled, 0, nullptr, nullptr). Windows
  // answers TRUE with last error ERROR_NOT_ALL_ASSIGNED (1300) when the token lacks the
  // privilege; the last error is ERROR_SUCCESS when it was really enabled.
  virtual bool AdjustTokenPrivileges(SyncHandle token, std::uint64_t luid) = 0;
  // InitiateSystemShutdownExW(nullptr, message, timeout, forceAppsClosed, reboot, reason).
  virtual bool InitiateSystemShutdownEx(const wchar_t* message, std::uint32_t timeoutSeconds,
                                        bool forceAppsClosed, bool reboot,
                                        std::uint32_t reason) = 0;
};

namespace token {
inline constexpr std::uint32_t Query = 0x0008;
inline constexpr std::uint32_t AdjustPrivileges = 0x0020;
inline constexpr std::uint32_t ErrorNotAllAssigned = 1300;
inline constexpr std::uint32_t ShutdownReasonSoftware = 0x00030000;
}  // namespace token

// PROCESS_INFORMATION: both handles are the caller's to close (ISync::CloseHandle).
struct ProcessInformation {
  SyncHandle process = 0;
  SyncHandle thread = 0;
  std::uint32_t processId = 0;
  std::uint32_t threadId = 0;
};

// Starting programs and asking the user (kernel32, user32).
class IShell {
 public:
  virtual ~IShell() = default;
  // CreateProcessW(applicationName, commandLine (copied; may be null), nullptr, nullptr, FALSE,
  // 0, nullptr, nullptr, default STARTUPINFOW, out). false on failure (last error set).
  virtual bool CreateProcess(const wchar_t* applicationName, const wchar_t* commandLine,
                             ProcessInformation* out) = 0;
  // MessageBoxW(owner, text, caption, type): the button pressed (IDOK 1, IDCANCEL 2, IDYES 6,
  // IDNO 7), 0 on failure.
  virtual int MessageBox(std::uintptr_t owner, const wchar_t* text, const wchar_t* caption,
                         std::uint32_t type) = 0;
  // ShellExecuteW(owner, verb, file, parameters, directory, show): the instance value it
  // returns, greater than 32 on success (an error code up to 32 otherwise).
  virtual std::intptr_t ShellExecute(std::uintptr_t owner, const wchar_t* verb, const wchar_t* file,
                                     const wchar_t* parameters, const wchar_t* directory,
                                     int show) = 0;
  // ShellExecuteExW with SEE_MASK_NOCLOSEPROCESS | SEE_MASK_FLAG_NO_UI (owner, verb, file,
  // parameters, no directory, show): a failure shows no box of the shell's. true when started:
  // *process is the new process (the caller waits on it and closes it through ISync), 0 when the
  // shell started none. false with the last error set.
  virtual bool ShellExecuteEx(std::uintptr_t owner, const wchar_t* verb, const wchar_t* file,
                              const wchar_t* parameters, int show, SyncHandle* process) = 0;
  // GetExitCodeProcess(process, code): STILL_ACTIVE (259) while it runs.
  virtual bool GetExitCodeProcess(SyncHandle process, std::uint32_t* code) = 0;
};

namespace sw {
inline constexpr int Hide = 0;
inline constexpr int ShowNormal = 1;
inline constexpr int Show = 5;
}  // namespace sw

namespace mb {
inline constexpr std::uint32_t Ok = 0x0;
inline constexpr std::uint32_t YesNo = 0x4;
inline constexpr std::uint32_t IconError = 0x10;
inline constexpr std::uint32_t IconQuestion = 0x20;
inline constexpr std::uint32_t IconWarning = 0x30;
inline constexpr std::uint32_t IconInformation = 0x40;
inline constexpr std::uint32_t SetForeground = 0x10000;
inline constexpr int IdOk = 1;
inline constexpr int IdCancel = 2;
inline constexpr int IdYes = 6;
inline constexpr int IdNo = 7;
}  // namespace mb

using MsiHandle = std::uint32_t;  // MSIHANDLE; 0 is none

namespace msi {
inline constexpr std::uint32_t UiLevelNone = 2;
inline constexpr std::uint32_t UiLevelSourceResOnly = 0x100;
inline constexpr std::uint32_t ProductCodeChars = 39;  // a GUID in braces with its NUL
}  // namespace msi

// Windows Installer (msi.dll). Results are the ERROR_* codes the functions return; text
// buffers follow the installer's convention: *chars is the buffer size in characters on entry
// and the text length without the NUL on return; ERROR_MORE_DATA with the length needed
// (without the NUL) when the buffer is too small.
class IInstaller {
 public:
  virtual ~IInstaller() = default;
  // MsiSetInternalUI(level, nullptr): the previous level.
  virtual std::uint32_t MsiSetInternalUI(std::uint32_t level) = 0;
  // MsiEnumProductsW(index, productCode): productCode holds 39 characters.
  virtual std::uint32_t MsiEnumProducts(std::uint32_t index, wchar_t* productCode) = 0;
  // MsiGetProductInfoW(product, property, buffer, chars).
  virtual std::uint32_t MsiGetProductInfo(const wchar_t* product, const wchar_t* property,
                                          wchar_t* buffer, std::uint32_t* chars) = 0;
  // MsiOpenProductW(product, handle).
  virtual std::uint32_t MsiOpenProduct(const wchar_t* product, MsiHandle* handle) = 0;
  // MsiDoActionW(handle, action).
  virtual std::uint32_t MsiDoAction(MsiHandle handle, const wchar_t* action) = 0;
  // MsiGetProductPropertyW(handle, property, buffer, chars).
  virtual std::uint32_t MsiGetProductProperty(MsiHandle handle, const wchar_t* property,
                                              wchar_t* buffer, std::uint32_t* chars) = 0;
  // MsiGetTargetPathW(handle, folder, buffer, chars).
  virtual std::uint32_t MsiGetTargetPath(MsiHandle handle, const wchar_t* folder, wchar_t* buffer,
                                         std::uint32_t* chars) = 0;
  // MsiConfigureProductW(product, installLevel, installState).
  virtual std::uint32_t MsiConfigureProduct(const wchar_t* product, int installLevel,
                                            int installState) = 0;
  // MsiCloseHandle.
  virtual std::uint32_t MsiCloseHandle(MsiHandle handle) = 0;
};

// A text in the installer's convention, read by `call(buffer, &chars)` and grown on
// ERROR_MORE_DATA: the installer call's result; `out` is set on success.
template <class Call>
std::uint32_t InstallerText(std::wstring& out, Call&& call) {
  std::vector<wchar_t> buffer(64);
  for (int round = 0; round < 8; ++round) {
    auto chars = static_cast<std::uint32_t>(buffer.size());
    const std::uint32_t result = call(buffer.data(), &chars);
    if (result == err::MoreData) {
      buffer.assign(static_cast<std::size_t>(chars) + 1, L'\0');
      continue;
    }
    if (result == err::Success)
      out.assign(buffer.data(), std::min<std::size_t>(chars, buffer.size()));
    return result;
  }
  return err::MoreData;
}

// Initialisation files (kernel32 profile API).
class IIniFiles {
 public:
  virtual ~IIniFiles() = default;
  // GetPrivateProfileStringW(section, key, defaultValue, buffer, chars, file): the value of the
  // key (section and key names compare without case; blanks around the value and one pair of
  // quotes around it are dropped), else the default; answers the characters copied without the
  // NUL, truncated to chars - 1. A missing file gives the default.
  virtual std::uint32_t GetPrivateProfileString(const wchar_t* section, const wchar_t* key,
                                                const wchar_t* defaultValue, wchar_t* buffer,
                                                std::uint32_t chars, const wchar_t* file) = 0;
  // GetPrivateProfileSectionW(section, buffer, chars, file): the section's entries as
  // "key=value" texts (key and value without the blanks around them), each ending in a NUL, the
  // list in one more; answers the characters copied without the last NUL. A section that does
  // not fit is cut at the end of an entry and answers chars - 2. A missing file or section
  // gives an empty list (0).
  virtual std::uint32_t GetPrivateProfileSection(const wchar_t* section, wchar_t* buffer,
                                                 std::uint32_t chars, const wchar_t* file) = 0;
};

// One value of an initialisation file through GetPrivateProfileStringW with `chars` of room (the
// empty text by default): what was copied, without its NUL.
inline std::wstring ProfileString(IIniFiles& ini, const wchar_t* section, const wchar_t* key,
                                  const std::wstring& file, std::uint32_t chars = 260) {
  std::vector<wchar_t> buffer(chars, L'\0');
  const std::uint32_t copied =
      ini.GetPrivateProfileString(section, key, L"", buffer.data(), chars, file.c_str());
  return std::wstring(buffer.data(), copied < chars ? copied : chars - 1);
}

// One adapter of GetAdaptersAddresses' list, with the fields the program reads.
struct AdapterAddress {
  std::string adapterName;   // the adapter's GUID name, in the system's ANSI code page
  std::uint32_t ifType = 0;  // IF_TYPE_ETHERNET_CSMACD 6, IF_TYPE_IEEE80211 71, ...
  std::wstring friendlyName;
};

namespace net {
inline constexpr std::uint32_t AfInet = 2;
inline constexpr std::uint32_t GaaFlagIncludePrefix = 0x10;
inline constexpr std::uint32_t IfTypeEthernet = 6;
inline constexpr std::uint32_t IfTypeIeee80211 = 71;
inline constexpr std::uint32_t ErrorBufferOverflow = 111;
inline constexpr std::uint32_t ErrorNoData = 232;
// The medium is a number (1 wireless LAN, 9 native 802.11, ...); the program tests its bit 0.
inline constexpr std::uint32_t NdisPhysicalMediumWirelessLan = 1;
}  // namespace net

// Network adapters (iphlpapi, and the NDIS query through the adapter's device).
class INetwork {
 public:
  virtual ~INetwork() = default;
  // GetAdaptersAddresses(family, flags, nullptr, buffer, bytes). adapters null asks for the
  // size: ERROR_BUFFER_OVERFLOW with *bytes set (ERROR_NO_DATA when there is no adapter). With
  // adapters and *bytes at least the size: ERROR_SUCCESS and the list in order.
  virtual std::uint32_t GetAdaptersAddresses(std::uint32_t family, std::uint32_t flags,
                                             std::vector<AdapterAddress>* adapters,
                                             std::uint32_t* bytes) = 0;
  // CreateFileW("\\\\.\\" + adapterName, 0, FILE_SHARE_READ, OPEN_EXISTING), DeviceIoControl(
  // IOCTL_NDIS_QUERY_GLOBAL_STATS 0x00170002, OID_GEN_PHYSICAL_MEDIUM 0x00010202) into four
  // bytes, CloseHandle. false when the device cannot be opened or the query fails.
  virtual bool QueryPhysicalMedium(const std::wstring& adapterName, std::uint32_t* medium) = 0;
};

}  // namespace kvd::platform
