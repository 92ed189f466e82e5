#include "platform/sim/SimSystemFacts.h"

#include "platform/api/Text.h"

#include <algorithm>
#include <tuple>
#include <utility>

namespace kvd::sim {

namespace err = platform::err;
using platform::MsiHandle;

namespace {
constexpr std::uint32_t kErrorNoneMapped = 1332;
constexpr std::uint32_t kErrorUnknownProduct = 1605;
constexpr std::uint32_t kErrorUnknownProperty = 1608;
constexpr std::uint32_t kErrorInstallFailure = 1603;
constexpr std::uint32_t kErrorDirectory = 267;  // ERROR_DIRECTORY: no such folder in the product
constexpr std::uint32_t kSeGroupEnabled = 0x7;  // mandatory, enabled by default, enabled

// The installer's text convention: copy when it fits, else ERROR_MORE_DATA; either way *chars
// becomes the length without the NUL.
std::uint32_t CopyInstallerText(const std::wstring& text, wchar_t* buffer, std::uint32_t* chars) {
  if (chars == nullptr) return err::InvalidParameter;
  const auto length = static_cast<std::uint32_t>(text.size());
  if (buffer == nullptr || *chars <= length) {
    *chars = length;
    return buffer == nullptr ? err::Success : err::MoreData;
  }
  text.copy(buffer, text.size());
  buffer[text.size()] = L'\0';
  *chars = length;
  return err::Success;
}

std::vector<std::uint8_t> UsersSid() { return {1, 2, 0, 0, 0, 0, 0, 5, 32, 0, 0, 0, 33, 2, 0, 0}; }
}  // namespace

// ---- system information ---------------------------------------------------------------------

SimSystemInfo::SimSystemInfo(SimCalls& calls, SimErrors& errors) : calls_(calls), errors_(errors) {
  version_.majorVersion = 6;
  version_.minorVersion = 1;
  version_.buildNumber = 7601;
  version_.platformId = platform::os::PlatformWin32Nt;
  version_.csdVersion = L"Service Pack 1";
  version_.servicePackMajor = 1;
  version_.productType = platform::os::NtWorkstation;
}

std::uint16_t SimSystemInfo::GetSystemDefaultLangID() {
  std::lock_guard lock(mutex_);
  return language_;
}

bool SimSystemInfo::GetVersionEx(platform::OsVersionInfo* out) {
  if (auto fault = calls_.Enter("GetVersionEx")) {
    errors_.SetThreadError(*fault);
    return false;
  }
  std::lock_guard lock(mutex_);
  *out = version_;
  return true;
}

bool SimSystemInfo::VerifyVersionAtLeast(std::uint32_t major, std::uint32_t minor,
                                         std::uint16_t servicePackMajor,
                                         std::uint16_t servicePackMinor) {
  if (auto fault = calls_.Enter("VerifyVersionAtLeast")) {
    errors_.SetThreadError(*fault);
    return false;
  }
  std::lock_guard lock(mutex_);
  // The four conditions are ordered: a higher major version satisfies any minor version.
  return std::tie(version_.majorVersion, version_.minorVersion, version_.servicePackMajor,
                  version_.servicePackMinor) >=
         std::tie(major, minor, servicePackMajor, servicePackMinor);
}

bool SimSystemInfo::IsWow64Process(bool* wow64) {
  if (auto fault = calls_.Enter("IsWow64Process")) {
    errors_.SetThreadError(*fault);
    return false;
  }
  std::lock_guard lock(mutex_);
  *wow64 = wow64_;
  return true;
}

int SimSystemInfo::GetSystemMetrics(int index) {
  std::lock_guard lock(mutex_);
  const auto found = metrics_.find(index);
  return found != metrics_.end() ? found->second : 0;
}

void SimSystemInfo::SetSystemDefaultLangID(std::uint16_t language) {
  std::lock_guard lock(mutex_);
  language_ = language;
}

void SimSystemInfo::SetVersion(const platform::OsVersionInfo& version) {
  std::lock_guard lock(mutex_);
  version_ = version;
}

platform::OsVersionInfo SimSystemInfo::Version() const {
  std::lock_guard lock(mutex_);
  return version_;
}

void SimSystemInfo::SetWow64(bool wow64) {
  std::function<void(bool)> follower;
  {
    std::lock_guard lock(mutex_);
    wow64_ = wow64;
    follower = wow64Follower_;
  }
  if (follower) follower(wow64);
}

void SimSystemInfo::FollowWow64(std::function<void(bool)> follower) {
  std::lock_guard lock(mutex_);
  wow64Follower_ = std::move(follower);
}

void SimSystemInfo::SetSystemMetric(int index, int value) {
  std::lock_guard lock(mutex_);
  metrics_[index] = value;
}

// ---- security -------------------------------------------------------------------------------

SimSecurity::SimSecurity(SimCalls& calls, SimErrors& errors, SimSync& sync)
    : calls_(calls), errors_(errors), sync_(sync) {
  groups_ = {{UsersSid(), kSeGroupEnabled}, {platform::AdministratorsSid(), kSeGroupEnabled}};
  names_[platform::AdministratorsSid()] = L"Administrators";
  names_[UsersSid()] = L"Users";
}

bool SimSecurity::GetProcessTokenGroups(std::vector<platform::TokenGroup>* groups) {
  if (auto fault = calls_.Enter("GetProcessTokenGroups")) {
    errors_.SetThreadError(*fault);
    return false;
  }
  std::lock_guard lock(mutex_);
  *groups = groups_;
  return true;
}

bool SimSecurity::LookupAccountSid(const std::vector<std::uint8_t>& sid, std::wstring* name,
                                   std::wstring* domain) {
  if (auto fault = calls_.Enter("LookupAccountSid")) {
    errors_.SetThreadError(*fault);
    return false;
  }
  std::lock_guard lock(mutex_);
  const auto found = names_.find(sid);
  if (found == names_.end() || !found->second) {
    errors_.SetThreadError(kErrorNoneMapped);
    return false;
  }
  *name = *found->second;
  *domain = L"BUILTIN";
  return true;
}

namespace {
constexpr std::uint64_t kShutdownLuid = 19;  // SE_SHUTDOWN_PRIVILEGE
}  // namespace

bool SimSecurity::OpenProcessToken(std::uint32_t, platform::SyncHandle* token) {
  if (auto fault = calls_.Enter("OpenProcessToken")) {
    errors_.SetThreadError(*fault);
    return false;
  }
  // A token is a kernel handle like any other: closed with CloseHandle.
  *token = sync_.CreateMutex(false, nullptr);
  return *token != 0;
}

bool SimSecurity::LookupPrivilegeValue(const wchar_t* name, std::uint64_t* luid) {
  if (auto fault = calls_.Enter("LookupPrivilegeValue")) {
    errors_.SetThreadError(*fault);
    return false;
  }
  if (name == nullptr || std::wstring(name) != L"SeShutdownPrivilege") {
    errors_.SetThreadError(1313);  // ERROR_NO_SUCH_PRIVILEGE
    return false;
  }
  *luid = kShutdownLuid;
  return true;
}

bool SimSecurity::AdjustTokenPrivileges(platform::SyncHandle, std::uint64_t luid) {
  if (auto fault = calls_.Enter("AdjustTokenPrivileges")) {
    errors_.SetThreadError(*fault);
    return false;
  }
  std::lock_guard lock(mutex_);
  const bool assigned = luid == kShutdownLuid && holdsShutdown_;
  privilegeEnabled_ = privilegeEnabled_ || assigned;
  errors_.SetThreadError(assigned ? err::Success : platform::token::ErrorNotAllAssigned);
  return true;
}

bool SimSecurity::InitiateSystemShutdownEx(const wchar_t*, std::uint32_t timeoutSeconds,
                                           bool forceAppsClosed, bool reboot,
                                           std::uint32_t reason) {
  if (auto fault = calls_.Enter("InitiateSystemShutdownEx")) {
    errors_.SetThreadError(*fault);
    return false;
  }
  std::lock_guard lock(mutex_);
  if (!privilegeEnabled_ || !shutdownAccepted_) {
    errors_.SetThreadError(privilegeEnabled_ ? 1115 : 1314);  // shutdown in progress / no privilege
    return false;
  }
  shutdowns_.push_back({reboot, forceAppsClosed, timeoutSeconds, reason});
  return true;
}

void SimSecurity::SetHoldsShutdownPrivilege(bool holds) {
  std::lock_guard lock(mutex_);
  holdsShutdown_ = holds;
}

void SimSecurity::SetShutdownAccepted(bool accepted) {
  std::lock_guard lock(mutex_);
  shutdownAccepted_ = accepted;
}

std::vector<SimSecurity::Shutdown> SimSecurity::Shutdowns() const {
  std::lock_guard lock(mutex_);
  return shutdowns_;
}

bool SimSecurity::PrivilegeEnabled() const {
  std::lock_guard lock(mutex_);
  return privilegeEnabled_;
}

void SimSecurity::SetGroups(std::vector<platform::TokenGroup> groups) {
  std::lock_guard lock(mutex_);
  groups_ = std::move(groups);
}

void SimSecurity::SetAdministrator(bool member) {
  std::lock_guard lock(mutex_);
  std::erase_if(groups_, [](const platform::TokenGroup& group) {
    return group.sid == platform::AdministratorsSid();
  });
  if (member) groups_.push_back({platform::AdministratorsSid(), kSeGroupEnabled});
}

void SimSecurity::SetAccountName(const std::vector<std::uint8_t>& sid,
                                 std::optional<std::wstring> name) {
  std::lock_guard lock(mutex_);
  names_[sid] = std::move(name);
}

// ---- shell ----------------------------------------------------------------------------------

SimShell::SimShell(SimCalls& calls, SimErrors& errors, SimFileSystem& files, SimSync& sync,
                   SimProcess& processes)
    : calls_(calls), errors_(errors), files_(files), sync_(sync), processes_(processes) {}

bool SimShell::CreateProcess(const wchar_t* applicationName, const wchar_t* commandLine,
                             platform::ProcessInformation* out) {
  if (auto fault = calls_.Enter("CreateProcess")) {
    errors_.SetThreadError(*fault);
    return false;
  }
  if (applicationName == nullptr || !files_.Exists(applicationName)) {
    errors_.SetThreadError(err::FileNotFound);
    return false;
  }
  Program program;
  {
    std::lock_guard lock(mutex_);
    launches_.push_back({applicationName, commandLine != nullptr
                                              ? std::optional<std::wstring>(commandLine)
                                              : std::nullopt});
    out->process = sync_.CreateMutex(false, nullptr);
    out->thread = sync_.CreateMutex(false, nullptr);
    // It runs on the machine until a behaviour set for it has run.
    out->processId = processes_.StartProcess(applicationName);
    out->threadId = out->processId + 4;
    auto it = programs_.find(platform::ToLowerOrdinal(applicationName));
    if (it != programs_.end()) program = it->second;
  }
  // What the program does happens before the caller goes on, as if it had done it at once.
  if (program) {
    const std::uint32_t code = program(commandLine != nullptr ? commandLine : L"");
    processes_.EndProcess(out->processId);
    std::lock_guard lock(mutex_);
    exitCodes_[out->process] = code;
  }
  return true;
}

int SimShell::MessageBox(std::uintptr_t owner, const wchar_t* text, const wchar_t* caption,
                         std::uint32_t type) {
  if (auto fault = calls_.Enter("MessageBox")) {
    errors_.SetThreadError(*fault);
    return 0;
  }
  std::lock_guard lock(mutex_);
  boxes_.push_back({owner, text != nullptr ? text : L"", caption != nullptr ? caption : L"", type});
  return answer_;
}

std::intptr_t SimShell::ShellExecute(std::uintptr_t owner, const wchar_t* verb, const wchar_t* file,
                                     const wchar_t* parameters, const wchar_t* directory,
                                     int show) {
  if (auto fault = calls_.Enter("ShellExecute")) {
    errors_.SetThreadError(*fault);
    return static_cast<std::intptr_t>(*fault <= 32 ? *fault : 2);
  }
  auto optional = [](const wchar_t* text) {
    return text != nullptr ? std::optional<std::wstring>(text) : std::nullopt;
  };
  const std::wstring_view target = file != nullptr ? file : L"";
  if (target.size() > 2 && target[1] == L':' && !files_.Exists(target)) {
    errors_.SetThreadError(platform::err::FileNotFound);
    return 2;  // SE_ERR_FNF
  }
  std::lock_guard lock(mutex_);
  executed_.push_back({owner, verb != nullptr ? verb : L"", file != nullptr ? file : L"",
                       optional(parameters), optional(directory), show});
  return 42;
}

bool SimShell::ShellExecuteEx(std::uintptr_t owner, const wchar_t* verb, const wchar_t* file,
                              const wchar_t* parameters, int show, platform::SyncHandle* process) {
  *process = 0;
  if (auto fault = calls_.Enter("ShellExecuteEx")) {
    errors_.SetThreadError(*fault);
    return false;
  }
  const std::wstring path = file != nullptr ? file : L"";
  if (!files_.Exists(path)) {
    errors_.SetThreadError(platform::err::FileNotFound);
    return false;
  }
  const std::wstring key = platform::ToLowerOrdinal(path);
  const std::wstring given = parameters != nullptr ? parameters : L"";
  Program program;
  bool hangs = false;
  {
    std::lock_guard lock(mutex_);
    executed_.push_back({owner, verb != nullptr ? verb : L"", path,
                         parameters != nullptr ? std::optional<std::wstring>(given) : std::nullopt,
                         std::nullopt, show});
    if (auto it = programs_.find(key); it != programs_.end()) program = it->second;
    hangs = hanging_.count(key) != 0;
  }
  // The program runs outside the shell's lock: it may use the machine's ports itself.
  constexpr std::uint32_t kStillActive = 259;
  const std::uint32_t code = hangs ? kStillActive : (program ? program(given) : 0);
  const platform::SyncHandle handle = sync_.CreateEvent(true, !hangs, nullptr);
  std::lock_guard lock(mutex_);
  exitCodes_[handle] = code;
  *process = handle;
  return true;
}

bool SimShell::GetExitCodeProcess(platform::SyncHandle process, std::uint32_t* code) {
  if (Faulted(calls_, errors_, "GetExitCodeProcess")) return false;
  std::lock_guard lock(mutex_);
  auto it = exitCodes_.find(process);
  if (it == exitCodes_.end()) {
    errors_.SetThreadError(platform::err::InvalidHandle);
    return false;
  }
  *code = it->second;
  return true;
}

void SimShell::SetProgram(const std::wstring& path, Program program) {
  std::lock_guard lock(mutex_);
  programs_[platform::ToLowerOrdinal(path)] = std::move(program);
}

void SimShell::SetProgramHangs(const std::wstring& path) {
  std::lock_guard lock(mutex_);
  hanging_.insert(platform::ToLowerOrdinal(path));
}

std::vector<SimShell::Execute> SimShell::Executed() const {
  std::lock_guard lock(mutex_);
  return executed_;
}

std::vector<SimShell::Launch> SimShell::Launches() const {
  std::lock_guard lock(mutex_);
  return launches_;
}

std::vector<SimShell::Box> SimShell::Boxes() const {
  std::lock_guard lock(mutex_);
  return boxes_;
}

void SimShell::SetMessageBoxAnswer(int answer) {
  std::lock_guard lock(mutex_);
  answer_ = answer;
}

// ---- installer ------------------------------------------------------------------------------

SimInstaller::SimInstaller(SimCalls& calls) : calls_(calls) {}

const SimInstaller::Product* SimInstaller::FindLocked(const wchar_t* code) const {
  if (code == nullptr) return nullptr;
  for (const auto& product : products_) {
    if (product.code == code) return &product;
  }
  return nullptr;
}

const SimInstaller::Product* SimInstaller::OpenLocked(MsiHandle handle) const {
  const auto found = handles_.find(handle);
  return found != handles_.end() ? &products_[found->second] : nullptr;
}

std::uint32_t SimInstaller::MsiSetInternalUI(std::uint32_t level) {
  calls_.Enter("MsiSetInternalUI");
  std::lock_guard lock(mutex_);
  return std::exchange(uiLevel_, level);
}

std::uint32_t SimInstaller::MsiEnumProducts(std::uint32_t index, wchar_t* productCode) {
  if (auto fault = calls_.Enter("MsiEnumProducts")) return *fault;
  std::lock_guard lock(mutex_);
  if (index >= products_.size()) return err::NoMoreItems;
  std::uint32_t chars = platform::msi::ProductCodeChars;
  return CopyInstallerText(products_[index].code, productCode, &chars);
}

std::uint32_t SimInstaller::MsiGetProductInfo(const wchar_t* product, const wchar_t* property,
                                              wchar_t* buffer, std::uint32_t* chars) {
  if (auto fault = calls_.Enter("MsiGetProductInfo")) return *fault;
  std::lock_guard lock(mutex_);
  const Product* found = FindLocked(product);
  if (found == nullptr) return kErrorUnknownProduct;
  const auto value = found->info.find(property != nullptr ? property : L"");
  if (value == found->info.end()) return kErrorUnknownProperty;
  return CopyInstallerText(value->second, buffer, chars);
}

std::uint32_t SimInstaller::MsiOpenProduct(const wchar_t* product, MsiHandle* handle) {
  *handle = 0;
  if (auto fault = calls_.Enter("MsiOpenProduct")) return *fault;
  std::lock_guard lock(mutex_);
  const Product* found = FindLocked(product);
  if (found == nullptr) return kErrorUnknownProduct;
  *handle = nextHandle_++;
  handles_[*handle] = static_cast<std::size_t>(found - products_.data());
  return err::Success;
}

std::uint32_t SimInstaller::MsiDoAction(MsiHandle handle, const wchar_t* action) {
  if (auto fault = calls_.Enter("MsiDoAction")) return *fault;
  std::lock_guard lock(mutex_);
  const Product* product = OpenLocked(handle);
  if (product == nullptr) return err::InvalidHandle;
  return product->failingActions.count(action != nullptr ? action : L"") != 0 ? kErrorInstallFailure
                                                                              : err::Success;
}

std::uint32_t SimInstaller::MsiGetProductProperty(MsiHandle handle, const wchar_t* property,
                                                  wchar_t* buffer, std::uint32_t* chars) {
  if (auto fault = calls_.Enter("MsiGetProductProperty")) return *fault;
  std::lock_guard lock(mutex_);
  const Product* product = OpenLocked(handle);
  if (product == nullptr) return err::InvalidHandle;
  const auto value = product->properties.find(property != nullptr ? property : L"");
  // An unknown property reads as the empty text, as the installer answers.
  return CopyInstallerText(value != product->properties.end() ? value->second : L"", buffer, chars);
}

std::uint32_t SimInstaller::MsiGetTargetPath(MsiHandle handle, const wchar_t* folder,
                                             wchar_t* buffer, std::uint32_t* chars) {
  if (auto fault = calls_.Enter("MsiGetTargetPath")) return *fault;
  std::lock_guard lock(mutex_);
  const Product* product = OpenLocked(handle);
  if (product == nullptr) return err::InvalidHandle;
  const auto value = product->targetPaths.find(folder != nullptr ? folder : L"");
  if (value == product->targetPaths.end()) return kErrorDirectory;
  return CopyInstallerText(value->second, buffer, chars);
}

std::uint32_t SimInstaller::MsiConfigureProduct(const wchar_t* product, int, int installState) {
  if (auto fault = calls_.Enter("MsiConfigureProduct")) return *fault;
  std::lock_guard lock(mutex_);
  const Product* found = FindLocked(product);
  if (found == nullptr) return kErrorUnknownProduct;
  configured_.emplace_back(product, installState);
  configuredUiLevels_.push_back(uiLevel_);
  const std::uint32_t result = found->configureResult;
  constexpr int kAbsent = 2;
  if (result == err::Success && installState == kAbsent) {
    const auto gone = static_cast<std::size_t>(found - products_.data());
    products_.erase(products_.begin() + static_cast<std::ptrdiff_t>(gone));
    // Handles keep naming the products they were opened on; one of the removed product
    // names nothing any more.
    for (auto it = handles_.begin(); it != handles_.end();) {
      if (it->second == gone) {
        it = handles_.erase(it);
        continue;
      }
      if (it->second > gone) --it->second;
      ++it;
    }
  }
  return result;
}

std::vector<std::uint32_t> SimInstaller::ConfiguredUiLevels() const {
  std::lock_guard lock(mutex_);
  return configuredUiLevels_;
}

std::uint32_t SimInstaller::MsiCloseHandle(MsiHandle handle) {
  if (auto fault = calls_.Enter("MsiCloseHandle")) return *fault;
  std::lock_guard lock(mutex_);
  return handles_.erase(handle) != 0 ? err::Success : err::InvalidHandle;
}

void SimInstaller::AddProduct(Product product) {
  std::lock_guard lock(mutex_);
  products_.push_back(std::move(product));
}

std::uint32_t SimInstaller::UiLevel() const {
  std::lock_guard lock(mutex_);
  return uiLevel_;
}

std::size_t SimInstaller::OpenHandleCount() const {
  std::lock_guard lock(mutex_);
  return handles_.size();
}

std::vector<std::pair<std::wstring, int>> SimInstaller::Configured() const {
  std::lock_guard lock(mutex_);
  return configured_;
}

// ---- initialisation files -------------------------------------------------------------------

namespace {
std::wstring TrimBlanks(std::wstring_view text) {
  std::size_t begin = 0;
  std::size_t end = text.size();
  while (begin < end && (text[begin] == L' ' || text[begin] == L'\t')) ++begin;
  while (end > begin &&
         (text[end - 1] == L' ' || text[end - 1] == L'\t' || text[end - 1] == L'\r')) {
    --end;
  }
  return std::wstring(text.substr(begin, end - begin));
}

// Calls `entry(line)` for every entry line of `section` (blanks trimmed, comments and empty lines
// left out), in file order, until it answers false.
template <class Entry>
void ForEachEntry(const std::wstring& text, const wchar_t* section, Entry&& entry) {
  bool inSection = false;
  std::size_t start = 0;
  while (start <= text.size()) {
    std::size_t end = text.find(L'\n', start);
    if (end == std::wstring::npos) end = text.size();
    const std::wstring line = TrimBlanks(std::wstring_view(text).substr(start, end - start));
    start = end + 1;
    if (line.empty() || line[0] == L';') continue;
    if (line.front() == L'[') {
      const std::size_t close = line.find(L']');
      inSection = close != std::wstring::npos &&
                  platform::EqualsNoCase(TrimBlanks(line.substr(1, close - 1)), section);
      continue;
    }
    if (inSection && !entry(line)) return;
  }
}
}  // namespace

std::uint32_t SimIniFiles::GetPrivateProfileString(const wchar_t* section, const wchar_t* key,
                                                   const wchar_t* defaultValue, wchar_t* buffer,
                                                   std::uint32_t chars, const wchar_t* file) {
  calls_.Enter("GetPrivateProfileString");
  std::wstring value = defaultValue != nullptr ? defaultValue : L"";
  const auto bytes = file != nullptr ? files_.GetFile(file) : std::nullopt;
  if (bytes && section != nullptr && key != nullptr) {
    ForEachEntry(platform::DecodeTextFile(*bytes), section, [&](const std::wstring& line) {
      const std::size_t equals = line.find(L'=');
      if (equals == std::wstring::npos) return true;
      if (!platform::EqualsNoCase(TrimBlanks(line.substr(0, equals)), key)) return true;
      value = TrimBlanks(line.substr(equals + 1));
      if (value.size() >= 2 && (value.front() == L'"' || value.front() == L'\'') &&
          value.back() == value.front()) {
        value = value.substr(1, value.size() - 2);
      }
      return false;
    });
  }
  if (buffer == nullptr || chars == 0) return 0;
  const std::size_t copied = std::min<std::size_t>(value.size(), chars - 1);
  value.copy(buffer, copied);
  buffer[copied] = L'\0';
  return static_cast<std::uint32_t>(copied);
}

std::uint32_t SimIniFiles::GetPrivateProfileSection(const wchar_t* section, wchar_t* buffer,
                                                    std::uint32_t chars, const wchar_t* file) {
  calls_.Enter("GetPrivateProfileSection");
  std::wstring list;
  const auto bytes = file != nullptr ? files_.GetFile(file) : std::nullopt;
  if (bytes && section != nullptr) {
    ForEachEntry(platform::DecodeTextFile(*bytes), section, [&](const std::wstring& line) {
      const std::size_t equals = line.find(L'=');
      list += equals == std::wstring::npos
                  ? line
                  : TrimBlanks(line.substr(0, equals)) + L"=" + TrimBlanks(line.substr(equals + 1));
      list += L'\0';
      return true;
    });
  }
  if (buffer == nullptr || chars < 2) return 0;
  if (list.size() + 1 > chars) {
    // Cut at the end of the last entry that fits, as the profile API does.
    std::size_t cut = 0;
    for (std::size_t at = list.find(L'\0'); at != std::wstring::npos && at + 2 <= chars;
         at = list.find(L'\0', at + 1)) {
      cut = at + 1;
    }
    std::copy(list.begin(), list.begin() + static_cast<std::ptrdiff_t>(cut), buffer);
    std::fill(buffer + cut, buffer + chars, L'\0');
    return chars - 2;
  }
  std::copy(list.begin(), list.end(), buffer);
  buffer[list.size()] = L'\0';
  return static_cast<std::uint32_t>(list.empty() ? 0 : list.size());
}

// ---- network --------------------------------------------------------------------------------

SimNetwork::SimNetwork(SimCalls& calls) : calls_(calls) {
  adapters_.push_back({"{6B29FC40-CA47-1067-B31D-00DD010662DA}", platform::net::IfTypeEthernet,
                       L"Local Area Connection"});
}

std::uint32_t SimNetwork::GetAdaptersAddresses(std::uint32_t, std::uint32_t,
                                               std::vector<platform::AdapterAddress>* adapters,
                                               std::uint32_t* bytes) {
  if (auto fault = calls_.Enter("GetAdaptersAddresses")) return *fault;
  std::lock_guard lock(mutex_);
  if (adapters_.empty()) return platform::net::ErrorNoData;
  const auto needed = static_cast<std::uint32_t>(adapters_.size()) * kBytesPerAdapter;
  if (adapters == nullptr || bytes == nullptr || *bytes < needed) {
    if (bytes != nullptr) *bytes = needed;
    return platform::net::ErrorBufferOverflow;
  }
  *adapters = adapters_;
  return err::Success;
}

bool SimNetwork::QueryPhysicalMedium(const std::wstring& adapterName, std::uint32_t* medium) {
  if (calls_.Enter("QueryPhysicalMedium")) return false;
  std::lock_guard lock(mutex_);
  const auto found = media_.find(adapterName);
  if (found == media_.end()) return false;
  *medium = found->second;
  return true;
}

void SimNetwork::SetAdapters(std::vector<platform::AdapterAddress> adapters) {
  std::lock_guard lock(mutex_);
  adapters_ = std::move(adapters);
}

void SimNetwork::SetPhysicalMedium(const std::wstring& adapterName, std::uint32_t medium) {
  std::lock_guard lock(mutex_);
  media_[adapterName] = medium;
}

}  // namespace kvd::sim
