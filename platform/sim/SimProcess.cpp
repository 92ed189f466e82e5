#include "platform/sim/SimProcess.h"

#include <algorithm>
#include <cstring>

#include "platform/api/Text.h"
#include "platform/sim/SimFileSystem.h"

namespace kvd::sim {

namespace err = platform::err;
using platform::ModuleHandle;

SimProcess::SimProcess(SimCalls& calls, SimErrors& errors, SimFileSystem& files)
    : calls_(calls), errors_(errors), files_(files) {
  const std::wstring exe = L"C:\\Program Files (x86)\\Quvari\\Kavid\\kavid.exe";
  modules_.push_back(Module{kExecutableHandle, exe});
  commandLines_.push_back(L"\"" + exe + L"\"");
  // A WoW64 process's system modules come from SysWOW64.
  modules_.push_back(Module{0x77C10000, L"C:\\Windows\\SysWOW64\\ntdll.dll"});
  modules_.push_back(Module{0x75F40000, L"C:\\Windows\\SysWOW64\\kernel32.dll"});
  modules_.push_back(Module{0x75A30000, L"C:\\Windows\\SysWOW64\\KERNELBASE.dll"});
}

std::uint32_t SimProcess::GetModuleFileName(ModuleHandle module, wchar_t* buffer,
                                            std::uint32_t chars) {
  if (auto fault = calls_.Enter("GetModuleFileName")) {
    errors_.SetThreadError(*fault);
    return 0;
  }
  std::lock_guard lock(mutex_);
  if (module == 0) module = kExecutableHandle;
  auto it = std::find_if(modules_.begin(), modules_.end(),
                         [module](const Module& m) { return m.handle == module; });
  if (it == modules_.end()) {
    errors_.SetThreadError(simerr::ModNotFound);
    return 0;
  }
  const std::wstring& path = it->path;
  if (buffer == nullptr || chars == 0) {
    errors_.SetThreadError(err::InsufficientBuffer);
    return 0;
  }
  if (path.size() >= chars) {
    // Windows 7: the text is cut to chars - 1 and terminated, and chars is answered.
    std::copy(path.begin(), path.begin() + (chars - 1), buffer);
    buffer[chars - 1] = L'\0';
    errors_.SetThreadError(err::InsufficientBuffer);
    return chars;
  }
  std::copy(path.begin(), path.end(), buffer);
  buffer[path.size()] = L'\0';
  errors_.SetThreadError(err::Success);
  return static_cast<std::uint32_t>(path.size());
}

bool SimProcess::GetModuleHandleEx(std::uint32_t flags, const void* address, ModuleHandle* result) {
  if (auto fault = calls_.Enter("GetModuleHandleEx")) {
    errors_.SetThreadError(*fault);
    if (result != nullptr) *result = 0;
    return false;
  }
  if (result == nullptr) {
    errors_.SetThreadError(err::InvalidParameter);
    return false;
  }
  std::lock_guard lock(mutex_);
  if ((flags & platform::modflag::FromAddress) != 0 || address == nullptr) {
    *result = kExecutableHandle;
    return true;
  }
  // By name: the file name of a loaded module, ".dll" implied when the name has no extension.
  std::wstring name(static_cast<const wchar_t*>(address));
  if (platform::PathFindExtension(name).empty()) name += L".dll";
  const bool withFolder = !platform::PathIsFileSpec(name);
  for (const Module& module : modules_) {
    const std::wstring_view candidate =
        withFolder ? std::wstring_view(module.path) : platform::PathFindFileName(module.path);
    if (platform::EqualsNoCase(candidate, name)) {
      *result = module.handle;
      return true;
    }
  }
  *result = 0;
  errors_.SetThreadError(simerr::ModNotFound);
  return false;
}

const wchar_t* SimProcess::GetCommandLine() {
  calls_.Enter("GetCommandLine");
  std::lock_guard lock(mutex_);
  return commandLines_.back().c_str();
}

std::uint32_t SimProcess::GetCurrentProcessId() {
  calls_.Enter("GetCurrentProcessId");
  std::lock_guard lock(mutex_);
  return processId_;
}

std::uint32_t SimProcess::GetCurrentThreadId() {
  calls_.Enter("GetCurrentThreadId");
  std::lock_guard lock(mutex_);
  std::uint32_t& id = threadIds_.Slot(0);
  if (id == 0) {
    id = nextThreadId_;
    nextThreadId_ += 4;
  }
  return id;
}

bool SimProcess::EnumProcessModules(ModuleHandle* modules, std::uint32_t bytes,
                                    std::uint32_t* bytesNeeded) {
  if (auto fault = calls_.Enter("EnumProcessModules")) {
    errors_.SetThreadError(*fault);
    return false;
  }
  if (bytesNeeded == nullptr || (modules == nullptr && bytes != 0)) {
    errors_.SetThreadError(simerr::NoAccess);
    return false;
  }
  std::lock_guard lock(mutex_);
  *bytesNeeded = static_cast<std::uint32_t>(modules_.size() * sizeof(ModuleHandle));
  const std::size_t fit = std::min<std::size_t>(bytes / sizeof(ModuleHandle), modules_.size());
  for (std::size_t i = 0; i < fit; ++i) modules[i] = modules_[i].handle;
  return true;
}

const std::vector<std::uint8_t>* SimProcess::FindBlockLocked(const wchar_t* path) {
  if (path == nullptr || *path == L'\0') {
    errors_.SetThreadError(err::InvalidParameter);
    return nullptr;
  }
  auto it = versions_.find(platform::ToLowerOrdinal(path));
  if (it != versions_.end()) return &it->second;
  errors_.SetThreadError(files_.Exists(path) ? err::ResourceTypeNotFound : err::FileNotFound);
  return nullptr;
}

std::uint32_t SimProcess::GetFileVersionInfoSize(const wchar_t* path) {
  if (auto fault = calls_.Enter("GetFileVersionInfoSize")) {
    errors_.SetThreadError(*fault);
    return 0;
  }
  std::lock_guard lock(mutex_);
  const auto* block = FindBlockLocked(path);
  if (block == nullptr) return 0;
  // Shorter than a block's header (length, value length, type): a resource that cannot be read.
  if (block->size() < 6) {
    errors_.SetThreadError(err::ResourceTypeNotFound);
    return 0;
  }
  errors_.SetThreadError(err::Success);
  const std::size_t size = block->size();
  return static_cast<std::uint32_t>(
      std::max(size, size > kFixedFileInfoBytes ? (size - kFixedFileInfoBytes) * 4 : size));
}

bool SimProcess::GetFileVersionInfo(const wchar_t* path, std::uint32_t bytes, void* data) {
  if (auto fault = calls_.Enter("GetFileVersionInfo")) {
    errors_.SetThreadError(*fault);
    return false;
  }
  if (data == nullptr) {
    errors_.SetThreadError(err::InvalidParameter);
    return false;
  }
  std::lock_guard lock(mutex_);
  const auto* block = FindBlockLocked(path);
  if (block == nullptr) return false;
  auto* out = static_cast<std::uint8_t*>(data);
  const std::size_t copied = std::min<std::size_t>(bytes, block->size());
  std::memcpy(out, block->data(), copied);
  std::memset(out + copied, 0, bytes - copied);
  // A buffer shorter than the block, or a block shorter than it says it is, gets a block that
  // says what it holds, so no reader walks past it.
  const std::size_t declared = copied >= 2 ? static_cast<std::size_t>(out[0] | (out[1] << 8)) : 0;
  if (copied >= 2 && (copied < block->size() || declared > copied)) {
    out[0] = static_cast<std::uint8_t>(copied & 0xFF);
    out[1] = static_cast<std::uint8_t>((copied >> 8) & 0xFF);
  }
  return true;
}

bool SimProcess::VerQueryValue(const void* block, const wchar_t* subBlock,
                               const std::uint8_t** value, std::uint32_t* length) {
  if (auto fault = calls_.Enter("VerQueryValue")) {
    errors_.SetThreadError(*fault);
    return false;
  }
  if (block == nullptr || subBlock == nullptr || value == nullptr) {
    errors_.SetThreadError(err::InvalidParameter);
    return false;
  }
  if (!FindVersionValue(static_cast<const std::uint8_t*>(block), subBlock, value, length)) {
    errors_.SetThreadError(err::ResourceTypeNotFound);
    return false;
  }
  return true;
}

void SimProcess::SetModulePath(std::wstring_view path) {
  std::lock_guard lock(mutex_);
  modules_.front().path = path;
}

std::wstring SimProcess::ModulePath() const {
  std::lock_guard lock(mutex_);
  return modules_.front().path;
}

void SimProcess::SetCommandLine(std::wstring_view commandLine) {
  std::lock_guard lock(mutex_);
  commandLines_.emplace_back(commandLine);
}

void SimProcess::SetProcessId(std::uint32_t id) {
  std::lock_guard lock(mutex_);
  processId_ = id;
}

ModuleHandle SimProcess::AddModule(std::wstring_view path) {
  std::lock_guard lock(mutex_);
  const ModuleHandle handle = nextModule_;
  nextModule_ += 0x100000;
  modules_.push_back(Module{handle, std::wstring(path)});
  return handle;
}

void SimProcess::PutVersionInfo(std::wstring_view path, const VersionResource& info) {
  PutVersionBlock(path, BuildVersionBlock(info));
}

void SimProcess::PutVersionBlock(std::wstring_view path, std::vector<std::uint8_t> block) {
  std::lock_guard lock(mutex_);
  versions_[platform::ToLowerOrdinal(path)] = std::move(block);
}

void SimProcess::ExitProcess(std::uint32_t code) {
  calls_.Enter("ExitProcess");
  std::lock_guard lock(mutex_);
  if (!exitCode_) exitCode_ = code;
}

namespace {
std::wstring FileNameOf(std::wstring_view path) {
  const auto slash = path.find_last_of(L"\\/");
  return std::wstring(slash == std::wstring_view::npos ? path : path.substr(slash + 1));
}
}  // namespace

platform::SyncHandle SimProcess::CreateProcessSnapshot() {
  if (auto fault = calls_.Enter("CreateToolhelp32Snapshot")) {
    errors_.SetThreadError(*fault);
    return 0;
  }
  std::lock_guard lock(mutex_);
  Handle snapshot;
  snapshot.snapshot = true;
  snapshot.entries.push_back({processId_, FileNameOf(modules_.front().path)});
  for (const Running& other : running_) snapshot.entries.push_back({other.id, other.exeFile});
  const platform::SyncHandle handle = nextHandle_;
  nextHandle_ += 4;
  handles_[handle] = std::move(snapshot);
  return handle;
}

SimProcess::Handle* SimProcess::FindHandleLocked(platform::SyncHandle handle, bool snapshot) {
  auto it = handles_.find(handle);
  if (it == handles_.end() || it->second.snapshot != snapshot) {
    errors_.SetThreadError(platform::err::InvalidHandle);
    return nullptr;
  }
  return &it->second;
}

bool SimProcess::NextEntry(platform::SyncHandle snapshot, platform::ProcessEntry* entry,
                           bool first) {
  std::lock_guard lock(mutex_);
  Handle* found = FindHandleLocked(snapshot, true);
  if (found == nullptr) return false;
  if (first) found->next = 0;
  if (found->next >= found->entries.size()) {
    errors_.SetThreadError(platform::err::NoMoreFiles);
    return false;
  }
  *entry = found->entries[found->next++];
  return true;
}

bool SimProcess::Process32First(platform::SyncHandle snapshot, platform::ProcessEntry* entry) {
  calls_.Enter("Process32First");
  return NextEntry(snapshot, entry, true);
}

bool SimProcess::Process32Next(platform::SyncHandle snapshot, platform::ProcessEntry* entry) {
  calls_.Enter("Process32Next");
  return NextEntry(snapshot, entry, false);
}

platform::SyncHandle SimProcess::OpenProcess(std::uint32_t access, std::uint32_t processId) {
  if (auto fault = calls_.Enter("OpenProcess")) {
    errors_.SetThreadError(*fault);
    return 0;
  }
  std::lock_guard lock(mutex_);
  const bool runs = processId == processId_ || std::any_of(running_.begin(), running_.end(),
                                                           [processId](const Running& other) {
                                                             return other.id == processId;
                                                           });
  if (!runs) {
    errors_.SetThreadError(platform::err::InvalidParameter);
    return 0;
  }
  Handle opened;
  opened.processId = processId;
  opened.access = access;
  const platform::SyncHandle handle = nextHandle_;
  nextHandle_ += 4;
  handles_[handle] = opened;
  return handle;
}

bool SimProcess::QueryFullProcessImageName(platform::SyncHandle process, std::wstring* path) {
  calls_.Enter("QueryFullProcessImageName");
  std::lock_guard lock(mutex_);
  const Handle* opened = FindHandleLocked(process, false);
  if (opened == nullptr) return false;
  if ((opened->access & platform::processaccess::QueryLimitedInformation) == 0) {
    errors_.SetThreadError(platform::err::AccessDenied);
    return false;
  }
  if (opened->processId == processId_) {
    *path = modules_.front().path;
    return true;
  }
  for (const Running& other : running_) {
    if (other.id == opened->processId) {
      *path = other.imagePath;
      return true;
    }
  }
  // Windows still names the image of a process that has ended while a handle holds it.
  errors_.SetThreadError(platform::err::AccessDenied);
  return false;
}

bool SimProcess::TerminateProcess(platform::SyncHandle process, std::uint32_t) {
  if (auto fault = calls_.Enter("TerminateProcess")) {
    errors_.SetThreadError(*fault);
    return false;
  }
  std::lock_guard lock(mutex_);
  const Handle* opened = FindHandleLocked(process, false);
  if (opened == nullptr) return false;
  const auto it = std::find_if(running_.begin(), running_.end(), [opened](const Running& other) {
    return other.id == opened->processId;
  });
  if ((opened->access & platform::processaccess::Terminate) == 0 || it == running_.end()) {
    errors_.SetThreadError(platform::err::AccessDenied);
    return false;
  }
  terminated_.push_back(it->id);
  running_.erase(it);
  return true;
}

bool SimProcess::CloseProcessHandle(platform::SyncHandle handle) {
  calls_.Enter("CloseProcessHandle");
  std::lock_guard lock(mutex_);
  if (handles_.erase(handle) == 0) {
    errors_.SetThreadError(platform::err::InvalidHandle);
    return false;
  }
  return true;
}

std::uint32_t SimProcess::StartProcess(std::wstring_view imagePath, std::uint32_t id,
                                       std::wstring_view exeFile) {
  std::lock_guard lock(mutex_);
  if (id == 0) {
    id = nextOtherId_;
    nextOtherId_ += 8;
  }
  running_.push_back({id, std::wstring(imagePath),
                      exeFile.empty() ? FileNameOf(imagePath) : std::wstring(exeFile)});
  return id;
}

void SimProcess::EndProcess(std::uint32_t id) {
  std::lock_guard lock(mutex_);
  std::erase_if(running_, [id](const Running& other) { return other.id == id; });
}

std::vector<SimProcess::Running> SimProcess::Processes() const {
  std::lock_guard lock(mutex_);
  return running_;
}

std::vector<std::uint32_t> SimProcess::Terminated() const {
  std::lock_guard lock(mutex_);
  return terminated_;
}

std::size_t SimProcess::OpenProcessHandles() const {
  std::lock_guard lock(mutex_);
  return handles_.size();
}

std::optional<std::uint32_t> SimProcess::ExitCode() const {
  std::lock_guard lock(mutex_);
  return exitCode_;
}

}  // namespace kvd::sim
