#pragma once

#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "platform/api/ISystemFacts.h"
#include "platform/sim/SimCommon.h"
#include "platform/sim/SimFileSystem.h"
#include "platform/sim/SimProcess.h"
#include "platform/sim/SimSync.h"
#include "platform/sim/SimSystem.h"

namespace kvd::sim {

// The system's version and facts: a 64-bit Windows 7 Service Pack 1 workstation by default.
class SimSystemInfo final : public platform::ISystemInfo {
 public:
  SimSystemInfo(SimCalls& calls, SimErrors& errors);
  std::uint16_t GetSystemDefaultLangID() override;
  bool GetVersionEx(platform::OsVersionInfo* out) override;
  bool VerifyVersionAtLeast(std::uint32_t major, std::uint32_t minor,
                            std::uint16_t servicePackMajor,
                            std::uint16_t servicePackMinor) override;
  bool IsWow64Process(bool* wow64) override;
  int GetSystemMetrics(int index) override;

  void SetSystemDefaultLangID(std::uint16_t language);
  void SetVersion(const platform::OsVersionInfo& version);
  platform::OsVersionInfo Version() const;
  // The bitness of the system (WOW64 true: 64-bit Windows); `follower` is told of every change,
  // so that the machine's folders follow it.
  void SetWow64(bool wow64);
  void FollowWow64(std::function<void(bool)> follower);
  void SetSystemMetric(int index, int value);

 private:
  SimCalls& calls_;
  SimErrors& errors_;
  mutable std::mutex mutex_;
  std::uint16_t language_ = 0x0409;
  platform::OsVersionInfo version_;
  bool wow64_ = true;
  std::function<void(bool)> wow64Follower_;
  std::map<int, int> metrics_;
};

// The process token's groups and the names of their accounts: by default the user is a member
// of BUILTIN\Administrators (and of Users).
class SimSecurity final : public platform::ISecurity {
 public:
  SimSecurity(SimCalls& calls, SimErrors& errors, SimSync& sync);
  bool GetProcessTokenGroups(std::vector<platform::TokenGroup>* groups) override;
  bool LookupAccountSid(const std::vector<std::uint8_t>& sid, std::wstring* name,
                        std::wstring* domain) override;

  bool OpenProcessToken(std::uint32_t access, platform::SyncHandle* token) override;
  bool LookupPrivilegeValue(const wchar_t* name, std::uint64_t* luid) override;
  bool AdjustTokenPrivileges(platform::SyncHandle token, std::uint64_t luid) override;
  bool InitiateSystemShutdownEx(const wchar_t* message, std::uint32_t timeoutSeconds,
                                bool forceAppsClosed, bool reboot, std::uint32_t reason) override;

  // Whether the token holds the shutdown privilege (AdjustTokenPrivileges then answers TRUE
  // with ERROR_NOT_ALL_ASSIGNED when it does not), and whether a shutdown request is accepted.
  void SetHoldsShutdownPrivilege(bool holds);
  void SetShutdownAccepted(bool accepted);
  struct Shutdown {
    bool reboot = false;
    bool forceAppsClosed = false;
    std::uint32_t timeoutSeconds = 0;
    std::uint32_t reason = 0;
  };
  std::vector<Shutdown> Shutdowns() const;
  bool PrivilegeEnabled() const;

  void SetGroups(std::vector<platform::TokenGroup> groups);
  void SetAdministrator(bool member);  // adds or removes the Administrators group
  // The account name of a SID; nullopt: LookupAccountSid answers ERROR_NONE_MAPPED.
  void SetAccountName(const std::vector<std::uint8_t>& sid, std::optional<std::wstring> name);

 private:
  SimCalls& calls_;
  SimErrors& errors_;
  mutable std::mutex mutex_;
  std::vector<platform::TokenGroup> groups_;
  std::map<std::vector<std::uint8_t>, std::optional<std::wstring>> names_;
  SimSync& sync_;
  bool holdsShutdown_ = true;
  bool shutdownAccepted_ = true;
  bool privilegeEnabled_ = false;
  std::vector<Shutdown> shutdowns_;
};

// Programs started and message boxes shown. A started program's handles are unnamed sync
// objects of the machine (closable and waitable: a wait answers at once, as for a program that
// has already ended).
class SimShell final : public platform::IShell {
 public:
  struct Launch {
    std::wstring application;
    std::optional<std::wstring> commandLine;
  };
  struct Execute {
    std::uintptr_t owner = 0;
    std::wstring verb;
    std::wstring file;
    std::optional<std::wstring> parameters;
    std::optional<std::wstring> directory;
    int show = 0;
  };
  struct Box {
    std::uintptr_t owner = 0;
    std::wstring text;
    std::wstring caption;
    std::uint32_t type = 0;
  };

  SimShell(SimCalls& calls, SimErrors& errors, SimFileSystem& files, SimSync& sync,
           SimProcess& processes);
  bool CreateProcess(const wchar_t* applicationName, const wchar_t* commandLine,
                     platform::ProcessInformation* out) override;
  int MessageBox(std::uintptr_t owner, const wchar_t* text, const wchar_t* caption,
                 std::uint32_t type) override;
  // Recorded; answers 42 (success) unless a fault is injected, which answers its code, or the
  // file is a full path ("C:\\...") that is not on the machine, which answers
  // SE_ERR_FNF (2), is not recorded, and sets ERROR_FILE_NOT_FOUND. Addresses always open.
  std::intptr_t ShellExecute(std::uintptr_t owner, const wchar_t* verb, const wchar_t* file,
                             const wchar_t* parameters, const wchar_t* directory,
                             int show) override;

  // Starts the program at `file` (a full path that must exist) as ShellExecute does, recorded
  // the same way: what it does is the behaviour set for that path (exit code 0 at once without
  // one). A program that hangs never ends: its process handle stays unsignalled and its exit
  // code STILL_ACTIVE.
  bool ShellExecuteEx(std::uintptr_t owner, const wchar_t* verb, const wchar_t* file,
                      const wchar_t* parameters, int show, platform::SyncHandle* process) override;
  bool GetExitCodeProcess(platform::SyncHandle process, std::uint32_t* code) override;

  // The behaviour of a program started through ShellExecuteEx or CreateProcess: it runs on the
  // caller's thread with the parameters (the command line) it was given and answers its exit
  // code.
  using Program = std::function<std::uint32_t(const std::wstring& parameters)>;
  void SetProgram(const std::wstring& path, Program program);
  void SetProgramHangs(const std::wstring& path);

  std::vector<Launch> Launches() const;
  std::vector<Box> Boxes() const;
  std::vector<Execute> Executed() const;
  void SetMessageBoxAnswer(int answer);

 private:
  SimCalls& calls_;
  SimErrors& errors_;
  SimFileSystem& files_;
  SimSync& sync_;
  SimProcess& processes_;
  mutable std::mutex mutex_;
  std::vector<Launch> launches_;
  std::vector<Box> boxes_;
  std::vector<Execute> executed_;
  int answer_ = platform::mb::IdOk;
  std::map<std::wstring, Program> programs_;  // by lower-case path
  std::set<std::wstring> hanging_;            // lower-case paths
  std::map<platform::SyncHandle, std::uint32_t> exitCodes_;
};

// Installed Windows Installer products.
class SimInstaller final : public platform::IInstaller {
 public:
  struct Product {
    std::wstring code;                                 // "{...}"
    std::map<std::wstring, std::wstring> info;         // MsiGetProductInfo: "Publisher", ...
    std::map<std::wstring, std::wstring> properties;   // MsiGetProductProperty: "ModelName"
    std::map<std::wstring, std::wstring> targetPaths;  // MsiGetTargetPath: "INSTALLDIR"
    std::set<std::wstring> failingActions;             // MsiDoAction answers ERROR_INSTALL_FAILURE
    // What MsiConfigureProduct answers; on success with INSTALLSTATE_ABSENT the product is gone.
    std::uint32_t configureResult = 0;
  };

  explicit SimInstaller(SimCalls& calls);
  std::uint32_t MsiSetInternalUI(std::uint32_t level) override;
  std::uint32_t MsiEnumProducts(std::uint32_t index, wchar_t* productCode) override;
  std::uint32_t MsiGetProductInfo(const wchar_t* product, const wchar_t* property, wchar_t* buffer,
                                  std::uint32_t* chars) override;
  std::uint32_t MsiOpenProduct(const wchar_t* product, platform::MsiHandle* handle) override;
  std::uint32_t MsiDoAction(platform::MsiHandle handle, const wchar_t* action) override;
  std::uint32_t MsiGetProductProperty(platform::MsiHandle handle, const wchar_t* property,
                                      wchar_t* buffer, std::uint32_t* chars) override;
  std::uint32_t MsiGetTargetPath(platform::MsiHandle handle, const wchar_t* folder, wchar_t* buffer,
                                 std::uint32_t* chars) override;
  std::uint32_t MsiConfigureProduct(const wchar_t* product, int installLevel,
                                    int installState) override;
  std::uint32_t MsiCloseHandle(platform::MsiHandle handle) override;

  void AddProduct(Product product);
  std::uint32_t UiLevel() const;
  std::size_t OpenHandleCount() const;
  // MsiConfigureProduct calls, in order: product code and install state.
  // (The UI level in force at each call is in ConfiguredUiLevels.)
  std::vector<std::uint32_t> ConfiguredUiLevels() const;
  std::vector<std::pair<std::wstring, int>> Configured() const;

 private:
  const Product* FindLocked(const wchar_t* code) const;
  const Product* OpenLocked(platform::MsiHandle handle) const;

  SimCalls& calls_;
  mutable std::mutex mutex_;
  std::vector<Product> products_;
  std::map<platform::MsiHandle, std::size_t> handles_;
  platform::MsiHandle nextHandle_ = 0x100;
  std::uint32_t uiLevel_ = 5;  // INSTALLUILEVEL_FULL
  std::vector<std::pair<std::wstring, int>> configured_;
  std::vector<std::uint32_t> configuredUiLevels_;
};

// Initialisation files read from the machine's files (UTF-16LE with a byte-order mark, else
// single-byte text taken as Latin-1).
class SimIniFiles final : public platform::IIniFiles {
 public:
  SimIniFiles(SimCalls& calls, SimFileSystem& files) : calls_(calls), files_(files) {}
  std::uint32_t GetPrivateProfileString(const wchar_t* section, const wchar_t* key,
                                        const wchar_t* defaultValue, wchar_t* buffer,
                                        std::uint32_t chars, const wchar_t* file) override;
  std::uint32_t GetPrivateProfileSection(const wchar_t* section, wchar_t* buffer,
                                         std::uint32_t chars, const wchar_t* file) override;

 private:
  SimCalls& calls_;
  SimFileSystem& files_;
};

// Network adapters: one wired adapter by default.
class SimNetwork final : public platform::INetwork {
 public:
  explicit SimNetwork(SimCalls& calls);
  std::uint32_t GetAdaptersAddresses(std::uint32_t family, std::uint32_t flags,
                                     std::vector<platform::AdapterAddress>* adapters,
                                     std::uint32_t* bytes) override;
  bool QueryPhysicalMedium(const std::wstring& adapterName, std::uint32_t* medium) override;

  void SetAdapters(std::vector<platform::AdapterAddress> adapters);
  // The medium the NDIS query answers for an adapter; absent: the query fails.
  void SetPhysicalMedium(const std::wstring& adapterName, std::uint32_t medium);

  // What one adapter takes in the system's buffer, for the size the first call answers.
  static constexpr std::uint32_t kBytesPerAdapter = 448;

 private:
  SimCalls& calls_;
  mutable std::mutex mutex_;
  std::vector<platform::AdapterAddress> adapters_;
  std::map<std::wstring, std::uint32_t> media_;
};

}  // namespace kvd::sim
