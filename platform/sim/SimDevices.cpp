#include "platform/sim/SimDevices.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>
#include <utility>

#include "platform/api/Text.h"

namespace kvd::sim {

namespace err = platform::err;
namespace cr = platform::cr;
using platform::DevInfoSet;
using platform::DevInst;
using platform::Guid;
using platform::InAddr;
using platform::kHkeyLocalMachine;

namespace {

// The Enum-key value each property is kept in.
const wchar_t* PropertyValueName(std::uint32_t property) {
  switch (property) {
    case platform::spdrp::DeviceDesc:
      return L"DeviceDesc";
    case platform::spdrp::HardwareId:
      return L"HardwareID";
    case platform::spdrp::CompatibleIds:
      return L"CompatibleIDs";
    case platform::spdrp::Service:
      return L"Service";
    case platform::spdrp::Class:
      return L"Class";
    case platform::spdrp::ClassGuid:
      return L"ClassGUID";
    case platform::spdrp::Driver:
      return L"Driver";
    case platform::spdrp::Mfg:
      return L"Mfg";
    case platform::spdrp::FriendlyName:
      return L"FriendlyName";
    default:
      return nullptr;
  }
}

std::wstring TextOf(const SimRegistry::Value& value) {
  return platform::FromUtf16Bytes(value.bytes.data(), value.bytes.size());
}

constexpr std::uint32_t kErrorProcNotFound = 127;
constexpr int kWsaVerNotSupported = 10092;
constexpr int kWsaNotInitialised = 10093;
constexpr std::uint32_t kWsaHostNotFound = 11001;

}  // namespace

// ---- Plug and Play ----------------------------------------------------------------------------

SimDevices::SimDevices(SimCalls& calls, SimErrors& errors, SimRegistry& registry)
    : calls_(calls), errors_(errors), registry_(registry) {}

DevInst SimDevices::InternLocked(const std::wstring& upperId) {
  auto it = devInsts_.find(upperId);
  if (it != devInsts_.end()) return it->second;
  ids_.push_back(upperId);
  const auto devInst = static_cast<DevInst>(ids_.size());
  devInsts_.emplace(upperId, devInst);
  return devInst;
}

std::vector<SimDevices::Node> SimDevices::ListLocked(const Guid* classGuid,
                                                     const wchar_t* enumerator, bool presentOnly,
                                                     bool* enumeratorFound) {
  std::vector<Node> nodes;
  std::vector<std::wstring> enumerators = registry_.SubKeyNames(kHkeyLocalMachine, kEnumRoot);
  *enumeratorFound = true;
  if (enumerator != nullptr && *enumerator != L'\0') {
    auto it = std::find_if(enumerators.begin(), enumerators.end(), [&](const std::wstring& name) {
      return platform::EqualsNoCase(name, enumerator);
    });
    if (it == enumerators.end()) {
      *enumeratorFound = false;
      return nodes;
    }
    enumerators = {*it};
  }
  const std::wstring root = std::wstring(kEnumRoot) + L"\\";
  for (const auto& enumName : enumerators) {
    for (const auto& device : registry_.SubKeyNames(kHkeyLocalMachine, root + enumName)) {
      std::wstring devicePath = enumName;
      devicePath += L'\\';
      devicePath += device;
      for (const auto& instance : registry_.SubKeyNames(kHkeyLocalMachine, root + devicePath)) {
        std::wstring path = devicePath;
        path += L'\\';
        path += instance;
        // A key without a setup class is no device node, as SetupAPI sees it.
        const auto guidValue = registry_.GetValue(kHkeyLocalMachine, root + path, L"ClassGUID");
        if (!guidValue) continue;
        const auto guid = platform::GuidFromText(TextOf(*guidValue));
        if (!guid) continue;
        if (classGuid != nullptr && !(*guid == *classGuid)) continue;
        const std::wstring upper = ToUpperOrdinal(path);
        if (presentOnly) {
          auto state = states_.find(upper);
          if (state != states_.end() && !state->second.present) continue;
        }
        nodes.push_back(Node{path, InternLocked(upper), *guid});
      }
    }
  }
  return nodes;
}

DevInfoSet SimDevices::GetClassDevs(const Guid* classGuid, const wchar_t* enumerator,
                                    std::uint32_t flags) {
  if (Faulted(calls_, errors_, "GetClassDevs")) return platform::kInvalidDevInfoSet;
  if (classGuid == nullptr && (flags & platform::digcf::AllClasses) == 0) {
    errors_.SetThreadError(err::InvalidParameter);
    return platform::kInvalidDevInfoSet;
  }
  std::lock_guard lock(mutex_);
  bool found = true;
  Set set{ListLocked((flags & platform::digcf::AllClasses) != 0 ? nullptr : classGuid, enumerator,
                     (flags & platform::digcf::Present) != 0, &found)};
  if (!found) {
    errors_.SetThreadError(err::InvalidData);
    return platform::kInvalidDevInfoSet;
  }
  const DevInfoSet handle = calls_.NextHandle();
  sets_.emplace(handle, std::move(set));
  errors_.SetThreadError(err::Success);
  return handle;
}

bool SimDevices::EnumDeviceInfo(DevInfoSet set, std::uint32_t index, platform::DevInfoData* out) {
  if (Faulted(calls_, errors_, "EnumDeviceInfo")) return false;
  std::lock_guard lock(mutex_);
  auto it = sets_.find(set);
  if (it == sets_.end()) {
    errors_.SetThreadError(err::InvalidHandle);
    return false;
  }
  if (index >= it->second.nodes.size()) {
    errors_.SetThreadError(err::NoMoreItems);
    return false;
  }
  const Node& node = it->second.nodes[index];
  out->classGuid = node.classGuid;
  out->devInst = node.devInst;
  return true;
}

const SimDevices::Node* SimDevices::ElementLocked(DevInfoSet set,
                                                  const platform::DevInfoData& element) {
  auto it = sets_.find(set);
  if (it == sets_.end()) {
    errors_.SetThreadError(err::InvalidHandle);
    return nullptr;
  }
  for (const Node& node : it->second.nodes) {
    if (node.devInst == element.devInst) return &node;
  }
  errors_.SetThreadError(err::InvalidParameter);
  return nullptr;
}

bool SimDevices::GetDeviceRegistryProperty(DevInfoSet set, const platform::DevInfoData& element,
                                           std::uint32_t property, std::uint32_t* type,
                                           std::uint8_t* buffer, std::uint32_t bytes,
                                           std::uint32_t* required) {
  if (Faulted(calls_, errors_, "GetDeviceRegistryProperty")) return false;
  std::lock_guard lock(mutex_);
  const Node* node = ElementLocked(set, element);
  if (node == nullptr) return false;
  const wchar_t* name = PropertyValueName(property);
  if (name == nullptr) {
    errors_.SetThreadError(err::InvalidParameter);
    return false;
  }
  const auto value =
      registry_.GetValue(kHkeyLocalMachine, std::wstring(kEnumRoot) + L"\\" + node->path, name);
  if (!value) {
    errors_.SetThreadError(err::InvalidData);
    return false;
  }
  std::vector<std::uint8_t> data = value->bytes;
  // Windows 7 stores descriptions as "@oem12.inf,%key%;Text" and answers the text after ';'
  // through this interface. (Wine 8 answers the stored form as it is.)
  if ((property == platform::spdrp::DeviceDesc || property == platform::spdrp::Mfg) &&
      value->type == platform::regtype::Sz) {
    data = platform::ToUtf16Bytes(platform::StoredDisplayText(TextOf(*value)), true);
  }
  const auto size = static_cast<std::uint32_t>(data.size());
  if (type != nullptr) *type = value->type;
  if (required != nullptr) *required = size;
  if (buffer == nullptr || bytes < size) {
    errors_.SetThreadError(err::InsufficientBuffer);
    return false;
  }
  std::copy(data.begin(), data.end(), buffer);
  return true;
}

bool SimDevices::GetDeviceInstanceId(DevInfoSet set, const platform::DevInfoData& element,
                                     wchar_t* buffer, std::uint32_t chars,
                                     std::uint32_t* required) {
  if (Faulted(calls_, errors_, "GetDeviceInstanceId")) return false;
  std::lock_guard lock(mutex_);
  const Node* node = ElementLocked(set, element);
  if (node == nullptr) return false;
  const std::wstring& id = ids_[node->devInst - 1];
  const auto needed = static_cast<std::uint32_t>(id.size() + 1);
  if (required != nullptr) *required = needed;
  if (buffer == nullptr || chars < needed) {
    errors_.SetThreadError(err::InsufficientBuffer);
    return false;
  }
  std::copy(id.begin(), id.end(), buffer);
  buffer[id.size()] = L'\0';
  return true;
}

bool SimDevices::GetDeviceInfoListDetail(DevInfoSet set, platform::DevMachine* machine) {
  if (Faulted(calls_, errors_, "GetDeviceInfoListDetail")) return false;
  std::lock_guard lock(mutex_);
  if (sets_.find(set) == sets_.end()) {
    errors_.SetThreadError(err::InvalidHandle);
    return false;
  }
  *machine = 0;
  return true;
}

bool SimDevices::ClassGuidsFromName(const wchar_t* className, Guid* guids, std::uint32_t size,
                                    std::uint32_t* required) {
  if (Faulted(calls_, errors_, "ClassGuidsFromName")) return false;
  std::vector<Guid> found;
  const std::wstring root = std::wstring(kClassRoot) + L"\\";
  for (const auto& key : registry_.SubKeyNames(kHkeyLocalMachine, kClassRoot)) {
    const auto guid = platform::GuidFromText(key);
    const auto name = registry_.GetValue(kHkeyLocalMachine, root + key, L"Class");
    if (guid && name && platform::EqualsNoCase(TextOf(*name), className)) found.push_back(*guid);
  }
  if (required != nullptr) *required = static_cast<std::uint32_t>(found.size());
  for (std::size_t i = 0; i < found.size() && i < size; ++i) guids[i] = found[i];
  if (found.size() > size) {
    errors_.SetThreadError(err::InsufficientBuffer);
    return false;
  }
  return true;
}

bool SimDevices::DestroyDeviceInfoList(DevInfoSet set) {
  if (Faulted(calls_, errors_, "DestroyDeviceInfoList")) return false;
  std::lock_guard lock(mutex_);
  if (sets_.erase(set) == 0) {
    errors_.SetThreadError(err::InvalidHandle);
    return false;
  }
  return true;
}

std::uint32_t SimDevices::GetDeviceId(DevInst devInst, wchar_t* buffer, std::uint32_t chars) {
  if (auto fault = calls_.Enter("GetDeviceId")) return *fault;
  if (buffer == nullptr) return cr::InvalidPointer;
  std::lock_guard lock(mutex_);
  if (devInst == 0 || devInst > ids_.size()) return cr::InvalidDevNode;
  const std::wstring& id = ids_[devInst - 1];
  // As much of the id as fits; the NUL only when there is room for it.
  const std::size_t copied = std::min<std::size_t>(id.size(), chars);
  std::copy_n(id.begin(), copied, buffer);
  if (copied < chars) buffer[copied] = L'\0';
  return id.size() > chars ? cr::BufferSmall : cr::Success;
}

std::uint32_t SimDevices::GetDevNodeStatus(std::uint32_t* status, std::uint32_t* problem,
                                           DevInst devInst, platform::DevMachine /*machine*/) {
  if (auto fault = calls_.Enter("GetDevNodeStatus")) return *fault;
  if (status == nullptr || problem == nullptr) return cr::InvalidPointer;
  std::lock_guard lock(mutex_);
  if (devInst == 0 || devInst > ids_.size()) return cr::InvalidDevNode;
  State state;
  if (auto it = states_.find(ids_[devInst - 1]); it != states_.end()) state = it->second;
  if (!state.present) return cr::NoSuchDevNode;
  *problem = state.problem;
  *status = state.problem != 0 ? cr::DnHasProblem : (cr::DnStarted | cr::DnDriverLoaded);
  return cr::Success;
}

namespace {
constexpr const wchar_t* kRootId = L"HTREE\\ROOT\\0";
}  // namespace

std::uint32_t SimDevices::LocateRootDevNode(DevInst* devInst) {
  if (auto fault = calls_.Enter("LocateRootDevNode")) return *fault;
  if (devInst == nullptr) return cr::InvalidPointer;
  std::lock_guard lock(mutex_);
  *devInst = InternLocked(kRootId);
  return cr::Success;
}

std::uint32_t SimDevices::ReenumerateDevNode(DevInst devInst, std::uint32_t flags) {
  if (auto fault = calls_.Enter("ReenumerateDevNode")) return *fault;
  std::lock_guard lock(mutex_);
  if (devInst == 0 || devInst > ids_.size()) return cr::InvalidDevNode;
  if (ids_[devInst - 1] == kRootId) rootRescans_.push_back(flags);
  return cr::Success;
}

bool SimDevices::SetPropertyChangeParams(DevInfoSet set, const platform::DevInfoData& element,
                                         std::uint32_t stateChange, std::uint32_t scope,
                                         std::uint32_t /*hwProfile*/) {
  if (Faulted(calls_, errors_, "SetPropertyChangeParams")) return false;
  std::lock_guard lock(mutex_);
  const Node* node = ElementLocked(set, element);
  if (node == nullptr) return false;
  State& state = states_[ids_[node->devInst - 1]];
  state.pendingState = stateChange;
  state.pendingScope = scope;
  return true;
}

bool SimDevices::CallClassInstaller(std::uint32_t installFunction, DevInfoSet set,
                                    const platform::DevInfoData& element) {
  if (Faulted(calls_, errors_, "CallClassInstaller")) return false;
  std::lock_guard lock(mutex_);
  const Node* node = ElementLocked(set, element);
  if (node == nullptr) return false;
  const std::wstring& id = ids_[node->devInst - 1];
  State& state = states_[id];
  if (installFunction != platform::dics::DifPropertyChange || state.pendingState == 0) {
    errors_.SetThreadError(err::InvalidParameter);
    return false;
  }
  if (state.pendingState == platform::dics::Enable && state.problem == platform::cmprob::Disabled) {
    state.problem = 0;
  } else if (state.pendingState == platform::dics::Disable) {
    state.problem = platform::cmprob::Disabled;
  }
  changes_.push_back({id, state.pendingState, state.pendingScope});
  state.changed = true;
  return true;
}

bool SimDevices::GetDeviceInstallFlags(DevInfoSet set, const platform::DevInfoData& element,
                                       std::uint32_t* flags) {
  if (Faulted(calls_, errors_, "GetDeviceInstallFlags")) return false;
  std::lock_guard lock(mutex_);
  const Node* node = ElementLocked(set, element);
  if (node == nullptr) return false;
  const State& state = states_[ids_[node->devInst - 1]];
  *flags = state.changed && state.changeNeedsRestart ? platform::dics::DiNeedRestart : 0;
  return true;
}

void SimDevices::SetChangeNeedsRestart(const std::wstring& instanceId, bool needs) {
  std::lock_guard lock(mutex_);
  states_[ToUpperOrdinal(instanceId)].changeNeedsRestart = needs;
}

std::vector<SimDevices::Change> SimDevices::Changes() const {
  std::lock_guard lock(mutex_);
  return changes_;
}

std::vector<std::uint32_t> SimDevices::RootRescans() const {
  std::lock_guard lock(mutex_);
  return rootRescans_;
}

void SimDevices::SetPresent(const std::wstring& instanceId, bool present) {
  std::lock_guard lock(mutex_);
  states_[ToUpperOrdinal(instanceId)].present = present;
}

void SimDevices::SetProblem(const std::wstring& instanceId, std::uint32_t problem) {
  std::lock_guard lock(mutex_);
  states_[ToUpperOrdinal(instanceId)].problem = problem;
}

std::size_t SimDevices::OpenSetCount() const {
  std::lock_guard lock(mutex_);
  return sets_.size();
}

// ---- libraries --------------------------------------------------------------------------------

SimModules::SimModules(SimCalls& calls, SimErrors& errors, SimFileSystem& files,
                       SimProcess& process)
    : calls_(calls), errors_(errors), files_(files), process_(process) {}

std::uint32_t SimModules::GetSystemDirectory(wchar_t* buffer, std::uint32_t chars) {
  if (Faulted(calls_, errors_, "GetSystemDirectory")) return 0;
  return CopyOrNeeded(kSystemFolder, buffer, chars);
}

std::uint32_t SimModules::GetWindowsDirectory(wchar_t* buffer, std::uint32_t chars) {
  if (Faulted(calls_, errors_, "GetWindowsDirectory")) return 0;
  return CopyOrNeeded(L"C:\\Windows", buffer, chars);
}

void SimModules::AddLibrary(const std::wstring& path, std::vector<std::string> exports) {
  files_.PutFile(path, {'M', 'Z'});
  std::lock_guard lock(mutex_);
  libraries_[platform::ToLowerOrdinal(path)] = Library{path, std::move(exports)};
}

platform::ModuleHandle SimModules::LoadLibrary(const wchar_t* path) {
  if (Faulted(calls_, errors_, "LoadLibrary")) return 0;
  std::vector<std::wstring> candidates;
  if (platform::PathIsFileSpec(path)) {
    candidates = {platform::PathRemoveFileSpec(process_.ModulePath()) + L"\\" + path,
                  std::wstring(kSystemFolder) + L"\\" + path};
  } else {
    candidates = {path};
  }
  std::lock_guard lock(mutex_);
  for (const auto& candidate : candidates) {
    if (!files_.Exists(candidate)) continue;
    const std::wstring key = platform::ToLowerOrdinal(candidate);
    if (libraries_.find(key) == libraries_.end()) {
      // A file that is no library of the machine's: not a valid image.
      errors_.SetThreadError(193);  // ERROR_BAD_EXE_FORMAT
      return 0;
    }
    loadedPaths_.push_back(libraries_[key].path);
    for (auto& [handle, loaded] : loaded_) {
      if (loaded.key == key) {
        ++loaded.references;
        return handle;
      }
    }
    const platform::ModuleHandle handle = calls_.NextHandle();
    loaded_.emplace(handle, Loaded{key, 1});
    return handle;
  }
  errors_.SetThreadError(simerr::ModNotFound);
  return 0;
}

platform::ProcAddress SimModules::GetProcAddress(platform::ModuleHandle module, const char* name) {
  if (Faulted(calls_, errors_, "GetProcAddress")) return 0;
  std::lock_guard lock(mutex_);
  auto it = loaded_.find(module);
  if (it == loaded_.end()) {
    errors_.SetThreadError(simerr::ModNotFound);
    return 0;
  }
  const Library& library = libraries_[it->second.key];
  if (std::find(library.exports.begin(), library.exports.end(), name) == library.exports.end()) {
    errors_.SetThreadError(kErrorProcNotFound);
    return 0;
  }
  for (const auto& [entry, what] : entries_) {
    if (what.first == it->second.key && what.second == name) return entry;
  }
  const platform::ProcAddress entry = nextEntry_;
  nextEntry_ += 0x10;
  entries_.emplace(entry, std::pair{it->second.key, std::string(name)});
  return entry;
}

bool SimModules::FreeLibrary(platform::ModuleHandle module) {
  if (Faulted(calls_, errors_, "FreeLibrary")) return false;
  std::lock_guard lock(mutex_);
  auto it = loaded_.find(module);
  if (it == loaded_.end()) {
    errors_.SetThreadError(simerr::ModNotFound);
    return false;
  }
  if (--it->second.references == 0) loaded_.erase(it);
  return true;
}

void SimModules::CallDevicePropertiesRunDll(platform::ProcAddress entry, const wchar_t* commandLine,
                                            int show) {
  std::function<void(const std::wstring&)> behaviour;
  const std::wstring line = commandLine != nullptr ? commandLine : L"";
  {
    std::lock_guard lock(mutex_);
    auto it = entries_.find(entry);
    sheets_.push_back({it != entries_.end() ? it->second.second : std::string(), line, show});
    behaviour = sheet_;
  }
  if (behaviour) behaviour(line);
}

void SimModules::SetPropertySheet(std::function<void(const std::wstring& commandLine)> behaviour) {
  std::lock_guard lock(mutex_);
  sheet_ = std::move(behaviour);
}

std::vector<SimModules::SheetCall> SimModules::PropertySheets() const {
  std::lock_guard lock(mutex_);
  return sheets_;
}

std::uint32_t SimModules::CallDriverPackageUninstall(platform::ProcAddress entry,
                                                     const wchar_t* infPath, std::uint32_t flags,
                                                     bool* needReboot) {
  std::lock_guard lock(mutex_);
  auto it = entries_.find(entry);
  packageCalls_.push_back({it != entries_.end() ? it->second.second : std::string(),
                           infPath != nullptr ? infPath : L"", flags});
  *needReboot = packageRemoval_.needReboot;
  return packageRemoval_.result;
}

void SimModules::SetDriverPackageUninstall(PackageRemoval answer) {
  std::lock_guard lock(mutex_);
  packageRemoval_ = answer;
}

std::vector<SimModules::PackageCall> SimModules::PackageUninstalls() const {
  std::lock_guard lock(mutex_);
  return packageCalls_;
}

void SimModules::SetScanSettings(const std::wstring& deviceId, ScanSettingsDevice device) {
  std::lock_guard lock(mutex_);
  scanSettingsDevices_[deviceId] = device;
}

std::vector<SimModules::ScanSettingsCall> SimModules::ScanSettingsCalls() const {
  std::lock_guard lock(mutex_);
  return scanSettingsCalls_;
}

int SimModules::LiveScanSettings() const {
  std::lock_guard lock(mutex_);
  return static_cast<int>(scanSettings_.size());
}

int SimModules::OpenScanSettingsSessions() const {
  std::lock_guard lock(mutex_);
  return static_cast<int>(std::count_if(scanSettings_.begin(), scanSettings_.end(),
                                        [](const auto& object) { return object.second.open; }));
}

void SimModules::RecordScanSettings(std::string operation, const std::wstring& deviceId) {
  scanSettingsCalls_.push_back({std::move(operation), deviceId});
}

platform::ScanSettings SimModules::CallCreateScanSettings(platform::ProcAddress entry,
                                                          const std::wstring& deviceId) {
  std::lock_guard lock(mutex_);
  auto it = entries_.find(entry);
  const std::string name = "CreateAiODeviceScanSettings";
  if (it == entries_.end() || it->second.second != name) {
    RecordScanSettings("!" + name, deviceId);
    return 0;
  }
  RecordScanSettings(name, deviceId);
  auto device = scanSettingsDevices_.find(deviceId);
  if (device == scanSettingsDevices_.end() || !device->second.makesObject) return 0;
  const platform::ScanSettings object = nextScanSettings_;
  nextScanSettings_ += 0x10;
  scanSettings_.emplace(object, ScanSettingsObject{deviceId, false});
  return object;
}

void SimModules::CallDestroyScanSettings(platform::ProcAddress entry,
                                         platform::ScanSettings object) {
  std::lock_guard lock(mutex_);
  auto it = entries_.find(entry);
  auto found = scanSettings_.find(object);
  const std::string name = "DestroyAiODeviceScanSettings";
  const bool sound =
      it != entries_.end() && it->second.second == name && found != scanSettings_.end();
  RecordScanSettings(sound ? name : "!" + name,
                     found != scanSettings_.end() ? found->second.deviceId : L"");
  if (sound) scanSettings_.erase(found);
}

bool SimModules::ScanSettingsOpenSession(platform::ScanSettings object) {
  std::lock_guard lock(mutex_);
  auto found = scanSettings_.find(object);
  if (found == scanSettings_.end()) {
    RecordScanSettings("!OpenSession", L"");
    return false;
  }
  RecordScanSettings("OpenSession", found->second.deviceId);
  found->second.open = scanSettingsDevices_[found->second.deviceId].opens;
  return found->second.open;
}

void SimModules::ScanSettingsCloseSession(platform::ScanSettings object) {
  std::lock_guard lock(mutex_);
  auto found = scanSettings_.find(object);
  if (found == scanSettings_.end() || !found->second.open) {
    RecordScanSettings("!CloseSession",
                       found != scanSettings_.end() ? found->second.deviceId : L"");
    return;
  }
  RecordScanSettings("CloseSession", found->second.deviceId);
  found->second.open = false;
}

bool SimModules::ScanSettingsShortcuts(platform::ScanSettings object, std::uint32_t* count) {
  std::lock_guard lock(mutex_);
  auto found = scanSettings_.find(object);
  if (found == scanSettings_.end() || !found->second.open) {
    RecordScanSettings("!GetDeviceShortcutList",
                       found != scanSettings_.end() ? found->second.deviceId : L"");
    return false;
  }
  RecordScanSettings("GetDeviceShortcutList", found->second.deviceId);
  const ScanSettingsDevice& device = scanSettingsDevices_[found->second.deviceId];
  *count = device.lists ? device.shortcuts : 0;
  return device.lists;
}

std::string SimModules::ExportName(platform::ProcAddress entry) const {
  std::lock_guard lock(mutex_);
  auto it = entries_.find(entry);
  return it == entries_.end() ? std::string() : it->second.second;
}

std::wstring SimModules::ExportLibrary(platform::ProcAddress entry) const {
  std::lock_guard lock(mutex_);
  auto it = entries_.find(entry);
  if (it == entries_.end()) return {};
  auto library = libraries_.find(it->second.first);
  return library == libraries_.end() ? std::wstring() : library->second.path;
}

std::vector<std::wstring> SimModules::LoadedPaths() const {
  std::lock_guard lock(mutex_);
  return loadedPaths_;
}

int SimModules::LoadedCount() const {
  std::lock_guard lock(mutex_);
  int count = 0;
  for (const auto& [handle, loaded] : loaded_) count += loaded.references;
  return count;
}

// ---- hosts, sockets and echo requests ---------------------------------------------------------

SimHosts::SimHosts() { names_["localhost"] = {Parse("127.0.0.1")}; }

InAddr SimHosts::Parse(const std::string& dotted) {
  std::uint32_t parts[4] = {};
  int count = 0;
  std::size_t at = 0;
  while (count < 4) {
    std::size_t digits = 0;
    std::uint32_t value = 0;
    while (at < dotted.size() && dotted[at] >= '0' && dotted[at] <= '9' && digits < 4) {
      value = value * 10 + static_cast<std::uint32_t>(dotted[at] - '0');
      ++at;
      ++digits;
    }
    if (digits == 0 || value > 255) return platform::kInaddrNone;
    parts[count++] = value;
    if (count < 4) {
      if (at >= dotted.size() || dotted[at] != '.') return platform::kInaddrNone;
      ++at;
    }
  }
  if (at != dotted.size()) return platform::kInaddrNone;
  // Network byte order in memory, read as a little-endian number.
  return parts[0] | (parts[1] << 8) | (parts[2] << 16) | (parts[3] << 24);
}

void SimHosts::AddHost(const std::string& name, const std::vector<InAddr>& addresses) {
  std::lock_guard lock(mutex_);
  std::string lower = name;
  for (auto& c : lower) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
  names_[lower] = addresses;
}

void SimHosts::SetAnswers(InAddr address, bool answers) {
  std::lock_guard lock(mutex_);
  answers_[address] = answers;
}

std::vector<InAddr> SimHosts::Lookup(const std::string& name) const {
  std::lock_guard lock(mutex_);
  std::string lower = name;
  for (auto& c : lower) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
  auto it = names_.find(lower);
  return it == names_.end() ? std::vector<InAddr>{} : it->second;
}

void SimHosts::SetReverseEntry(InAddr address, bool found) {
  std::lock_guard lock(mutex_);
  if (found) {
    withoutReverse_.erase(address);
  } else {
    withoutReverse_.insert(address);
  }
}

void SimHosts::SetReplyStatus(InAddr address, std::uint32_t status) {
  std::lock_guard lock(mutex_);
  statuses_[address] = status;
}

std::uint32_t SimHosts::ReplyStatus(InAddr address) const {
  std::lock_guard lock(mutex_);
  auto it = statuses_.find(address);
  return it == statuses_.end() ? platform::icmp::IpSuccess : it->second;
}

bool SimHosts::Knows(InAddr address) const {
  std::lock_guard lock(mutex_);
  if (withoutReverse_.count(address) != 0) return false;
  if ((address & 0xFF) == 127) return true;
  if (answers_.count(address) != 0) return true;
  for (const auto& [name, addresses] : names_) {
    if (std::find(addresses.begin(), addresses.end(), address) != addresses.end()) return true;
  }
  return false;
}

bool SimHosts::Answers(InAddr address) const {
  std::lock_guard lock(mutex_);
  auto it = answers_.find(address);
  if (it != answers_.end()) return it->second;
  return (address & 0xFF) == 127;
}

SimSockets::SimSockets(SimCalls& calls, SimErrors& errors, SimHosts& hosts)
    : calls_(calls), errors_(errors), hosts_(hosts) {}

int SimSockets::WSAStartup(std::uint16_t version, platform::WsaData* data) {
  if (auto fault = calls_.Enter("WSAStartup")) return static_cast<int>(*fault);
  // Winsock 2.2 grants what was asked for, from 1.0 up.
  if ((version & 0xFF) == 0) return kWsaVerNotSupported;
  data->version = (version & 0xFF) > 2 ? static_cast<std::uint16_t>(0x0202) : version;
  data->highVersion = 0x0202;
  std::lock_guard lock(mutex_);
  ++started_;
  return 0;
}

int SimSockets::WSACleanup() {
  if (Faulted(calls_, errors_, "WSACleanup")) return -1;
  std::lock_guard lock(mutex_);
  if (started_ == 0) {
    errors_.SetThreadError(static_cast<std::uint32_t>(kWsaNotInitialised));
    return -1;
  }
  --started_;
  return 0;
}

InAddr SimSockets::inet_addr(const char* text) {
  return text == nullptr ? platform::kInaddrNone : SimHosts::Parse(text);
}

bool SimSockets::Started() {
  std::lock_guard lock(mutex_);
  if (started_ > 0) return true;
  errors_.SetThreadError(static_cast<std::uint32_t>(kWsaNotInitialised));
  return false;
}

bool SimSockets::gethostbyname(const char* name, std::vector<InAddr>* addresses) {
  addresses->clear();
  if (Faulted(calls_, errors_, "gethostbyname")) return false;
  if (!Started()) return false;
  if (name == nullptr) return false;
  const InAddr dotted = SimHosts::Parse(name);
  if (dotted != platform::kInaddrNone) {
    *addresses = {dotted};
    return true;
  }
  *addresses = hosts_.Lookup(name);
  if (addresses->empty()) {
    errors_.SetThreadError(kWsaHostNotFound);
    return false;
  }
  return true;
}

bool SimSockets::gethostbyaddr(InAddr address, std::vector<InAddr>* addresses) {
  addresses->clear();
  if (Faulted(calls_, errors_, "gethostbyaddr")) return false;
  if (!Started()) return false;
  if (!hosts_.Knows(address)) {
    errors_.SetThreadError(kWsaHostNotFound);
    return false;
  }
  *addresses = {address};
  return true;
}

int SimSockets::StartedCount() const {
  std::lock_guard lock(mutex_);
  return started_;
}

SimIcmp::SimIcmp(SimCalls& calls, SimErrors& errors, SimClock& clock, SimModules& modules,
                 SimHosts& hosts)
    : calls_(calls), errors_(errors), clock_(clock), modules_(modules), hosts_(hosts) {}

bool SimIcmp::EntryIs(platform::ProcAddress entry, const char* name) const {
  return modules_.ExportName(entry) == name;
}

platform::IcmpHandle SimIcmp::IcmpCreateFile(platform::ProcAddress entry) {
  if (!EntryIs(entry, "IcmpCreateFile")) throw std::logic_error("IcmpCreateFile: wrong entry");
  if (Faulted(calls_, errors_, "IcmpCreateFile")) return platform::kInvalidIcmpHandle;
  std::lock_guard lock(mutex_);
  const platform::IcmpHandle handle = calls_.NextHandle();
  handles_.insert(handle);
  return handle;
}

std::uint32_t SimIcmp::IcmpSendEcho(platform::ProcAddress entry, platform::IcmpHandle handle,
                                    InAddr address, std::uint16_t requestBytes,
                                    const platform::IpOptions& /*options*/,
                                    std::uint32_t replyBytes, std::uint32_t timeoutMs,
                                    platform::EchoReply* reply) {
  if (!EntryIs(entry, "IcmpSendEcho")) throw std::logic_error("IcmpSendEcho: wrong entry");
  if (Faulted(calls_, errors_, "IcmpSendEcho")) return 0;
  {
    std::lock_guard lock(mutex_);
    if (handles_.count(handle) == 0) {
      errors_.SetThreadError(err::InvalidHandle);
      return 0;
    }
    // The documented minimum: one reply, the request's data, and room for an ICMP error.
    if (replyBytes < platform::icmp::kEchoReplyBytes + requestBytes + platform::icmp::kErrorBytes) {
      errors_.SetThreadError(platform::icmp::IpBufTooSmall);
      return 0;
    }
    requests_.push_back(address);
  }
  if (!hosts_.Answers(address)) {
    clock_.Advance(timeoutMs);
    errors_.SetThreadError(platform::icmp::IpReqTimedOut);
    return 0;
  }
  reply->address = address;
  reply->status = hosts_.ReplyStatus(address);
  reply->roundTripMs = 0;
  return 1;
}

bool SimIcmp::IcmpCloseHandle(platform::ProcAddress entry, platform::IcmpHandle handle) {
  if (!EntryIs(entry, "IcmpCloseHandle")) throw std::logic_error("IcmpCloseHandle: wrong entry");
  if (Faulted(calls_, errors_, "IcmpCloseHandle")) return false;
  std::lock_guard lock(mutex_);
  if (handles_.erase(handle) == 0) {
    errors_.SetThreadError(err::InvalidHandle);
    return false;
  }
  return true;
}

std::vector<InAddr> SimIcmp::Requests() const {
  std::lock_guard lock(mutex_);
  return requests_;
}

std::size_t SimIcmp::OpenHandleCount() const {
  std::lock_guard lock(mutex_);
  return handles_.size();
}

}  // namespace kvd::sim
