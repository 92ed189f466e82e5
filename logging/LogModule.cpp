#include <algorithm>
#include <array>

#include "logging/DUDiduzuz.h"
#include "logging/VERidez.h"
#include "platform/api/Handles.h"
#include "platform/api/Text.h"

namespace DUDiduzuz {

using kvd::platform::HKey;
using kvd::platform::kHkeyCurrentUser;
namespace err = kvd::platform::err;
namespace sam = kvd::platform::sam;
namespace regtype = kvd::platform::regtype;
namespace file = kvd::platform::file;

std::atomic<CLogModule*> CLogModule::current_{nullptr};

namespace {

constexpr std::uint32_t kLockTimeoutMs = 50;
constexpr std::uint32_t kOpenAttempts = 3;
constexpr std::uint32_t kSharingRetryMs = 30;
constexpr std::size_t kErrorTextChars = 260;
constexpr std::uint32_t kMaxModules = 256;

// Reads a REG_DWORD of exactly four bytes; anything else leaves `value` as it is.
void ReadDword(kvd::platform::IRegistry& registry, HKey key, const wchar_t* name,
               std::uint32_t& value) {
  std::uint32_t type = 0;
  std::uint32_t bytes = 0;
  if (registry.QueryValueEx(key, name, &type, nullptr, &bytes) != 0) return;
  if (type != regtype::Dword || bytes != 4) return;
  std::array<std::uint8_t, 4> data{};
  bytes = 4;
  if (registry.QueryValueEx(key, name, &type, data.data(), &bytes) != 0) return;
  if (type != regtype::Dword || bytes != 4) return;
  value = static_cast<std::uint32_t>(data[0]) | (static_cast<std::uint32_t>(data[1]) << 8) |
          (static_cast<std::uint32_t>(data[2]) << 16) | (static_cast<std::uint32_t>(data[3]) << 24);
}

// Reads a REG_SZ in two steps. The text ends at its first NUL or at the end of the data, so a
// value stored without its terminator reads no further than its own bytes.
bool ReadString(kvd::platform::IRegistry& registry, HKey key, const wchar_t* name,
                std::wstring& value) {
  std::uint32_t type = 0;
  std::uint32_t bytes = 0;
  if (registry.QueryValueEx(key, name, &type, nullptr, &bytes) != 0) return false;
  if (type != regtype::Sz) return false;
  std::vector<std::uint8_t> data(static_cast<std::size_t>(bytes) + 2, 0);
  std::uint32_t got = bytes;
  if (registry.QueryValueEx(key, name, &type, data.data(), &got) != 0) return false;
  if (type != regtype::Sz) return false;
  value = kvd::platform::FromUtf16Bytes(data.data(), std::min(got, bytes));
  return true;
}

std::wstring TrimLineBreaks(std::wstring text) {
  while (!text.empty() && (text.back() == L'\n' || text.back() == L'\r')) text.pop_back();
  return text;
}

// The text a scope's entry and exit lines show: from just after the second-to-last "::".
std::wstring_view ShownScopeText(std::wstring_view text) {
  const std::size_t last = text.rfind(L"::");
  if (last == std::wstring_view::npos || last == 0) return text;
  const std::size_t before = text.rfind(L"::", last - 1);
  if (before == std::wstring_view::npos) return text;
  return text.substr(before + 2);
}

}  // namespace

// ---- settings store -------------------------------------------------------------------------

SettingsStore::SettingsStore(kvd::platform::ISync& sync) : sync_(sync) {
  lock_ = sync_.CreateMutex(false, nullptr);
}

SettingsStore::~SettingsStore() {
  if (lock_ != 0) sync_.CloseHandle(lock_);
}

bool SettingsStore::Lock(std::uint32_t milliseconds) {
  if (lock_ == 0) return false;
  const std::uint32_t result = sync_.WaitForSingleObject(lock_, milliseconds);
  // An abandoned lock is ours now; its holder died between two consistent states of the store
  // (every change is made under the lock and completes before it is released).
  return result == kvd::platform::wait::Object0 || result == kvd::platform::wait::Abandoned;
}

void SettingsStore::Unlock() { sync_.ReleaseMutex(lock_); }

// ---- logger ---------------------------------------------------------------------------------

CLogModule::CLogModule(kvd::platform::Platform& platform, SettingsStore& store)
    : platform_(platform), store_(store) {
  auto& clock = platform_.clock;
  auto& process = platform_.process;
  startTick_ = clock.GetTickCount();
  lastRecordTick_ = startTick_;
  buildText_ = kvd::platform::WidenUtf8(__DATE__ " " __TIME__);

  kvd::platform::ModuleHandle self = 0;
  process.GetModuleHandleEx(
      kvd::platform::modflag::FromAddress | kvd::platform::modflag::UnchangedRefcount,
      reinterpret_cast<const void*>(&current_), &self);
  std::wstring modulePath;
  kvd::platform::GrowAndRetry(modulePath, [&](wchar_t* buffer, std::uint32_t chars) {
    return process.GetModuleFileName(self, buffer, chars);
  });
  std::wstring_view moduleFile = kvd::platform::PathFindFileName(modulePath);
  moduleFile.remove_suffix(kvd::platform::PathFindExtension(moduleFile).size());
  moduleName_ = std::wstring(moduleFile);

  std::int64_t counter = 0;
  if (clock.QueryPerformanceCounter(&counter)) startCounter_ = counter;
  processIdText_ = kvd::fmt::Format(L"[%ld] ", process.GetCurrentProcessId());

  kvd::platform::GrowAndRetry(executablePath_, [&](wchar_t* buffer, std::uint32_t chars) {
    return process.GetModuleFileName(0, buffer, chars);
  });
  executableName_ = std::wstring(kvd::platform::PathFindFileName(executablePath_));

  if (store_.Lock(kLockTimeoutMs)) {
    ++store_.referenceCount;
    store_.Unlock();
  }
}

CLogModule::~CLogModule() {
  if (current_.load(std::memory_order_acquire) == this) SetCurrent(nullptr);
  if (store_.Lock(kLockTimeoutMs)) {
    if (store_.referenceCount > 0 && --store_.referenceCount == 0) {
      store_.overrides.clear();
      store_.logFiles.clear();
      store_.indentation.clear();
    }
    store_.Unlock();
  }
}

void CLogModule::ResetDefaultSettings() {
  defaultSettings_.lastWriteTime = 0;
  defaultSettings_.detailLevel = 0;
  defaultSettings_.categories = 0;
  defaultSettings_.options = 0;
  defaultSettings_.logFile = nullptr;
}

void CLogModule::LogSimple(CLogFunction* scope, std::uint32_t kind, std::wstring_view text,
                           bool scoped) {
  try {
    std::lock_guard<std::recursive_mutex> guard(lock_);
    SettingsRecord* settings = Filter(scope, kind);
    if (settings != nullptr) InternalLogSimpleString(*settings, scope, kind, text, scoped);
  } catch (...) {
    // A record that cannot be written is lost; the function that wrote it carries on.
    DiscardRecord(scope);
  }
}

void CLogModule::LogFormatted(CLogFunction* scope, std::uint32_t kind, Renderer renderer) {
  try {
    std::lock_guard<std::recursive_mutex> guard(lock_);
    SettingsRecord* settings = Filter(scope, kind);
    if (settings != nullptr) InternalLogFormattedString(scope, *settings, kind, renderer);
  } catch (...) {
    DiscardRecord(scope);
  }
}

void CLogModule::DiscardRecord(CLogFunction* scope) noexcept {
  // What the lost record had put into the scope's text must not lead the scope's next record.
  if (scope != nullptr) scope->text_.clear();
}

SettingsRecord* CLogModule::Filter(const CLogFunction* scope, std::uint32_t kind) {
  // The store lock is re-entrant for this logger: the flag is only touched under lock_.
  const bool alreadyLocked = storeLocked_;
  if (!alreadyLocked) {
    if (!store_.Lock(kLockTimeoutMs)) return nullptr;
    storeLocked_ = true;
  }
  struct Release {
    CLogModule& self;
    bool owned;
    ~Release() {
      if (owned) {
        self.storeLocked_ = false;
        self.store_.Unlock();
      }
    }
  } release{*this, !alreadyLocked};

  Poll();
  SettingsRecord* settings = &defaultSettings_;
  if (scope != nullptr && !store_.overrides.empty()) {
    const auto found = store_.overrides.find(scope->Source().Name());
    if (found != store_.overrides.end()) settings = found->second.get();
  }
  return (kind & settings->categories) != 0 ? settings : nullptr;
}

void CLogModule::Poll() {
  const std::uint32_t now = platform_.clock.GetTickCount();
  const bool needsStart = defaultSettings_.logFile != nullptr ? defaultSettings_.logFile->needsStart
                                                              : defaultSettings_.needsStart;
  if (!needsStart && now - store_.lastPoll <= pollInterval_) return;
  store_.lastPoll = now;
  ResetDefaultSettings();

  auto& registry = platform_.registry;
  auto root = kvd::platform::MakeUniqueHkey(registry);
  if (registry.OpenKeyEx(kHkeyCurrentUser, kRootKey, sam::Read, root.put()) == 0) {
    std::uint32_t seconds = pollInterval_ / 1000;
    ReadDword(registry, root.get(), L"LogParmsPollTime", seconds);
    if (seconds == 0) seconds = 30;
    pollInterval_ = static_cast<std::uint32_t>(
        std::min<std::uint64_t>(static_cast<std::uint64_t>(seconds) * 1000u, 0xFFFFFFFFu));

    ReadKey(root.get(), defaultSettings_, nullptr);

    const std::wstring executableKeyPath = std::wstring(kRootKey) + L"\\" + executableName_;
    std::wstring_view executableStem = executableName_;
    executableStem.remove_suffix(kvd::platform::PathFindExtension(executableStem).size());
    std::wstring moduleKeyPath = executableKeyPath;
    if (!kvd::platform::EqualsNoCase(moduleName_, executableStem)) {
      moduleKeyPath += L"\\" + moduleName_;
    }

    auto moduleKey = kvd::platform::MakeUniqueHkey(registry);
    if ((defaultSettings_.categories & category::CreateModuleKey) != 0) {
      registry.CreateKeyEx(kHkeyCurrentUser, moduleKeyPath.c_str(), sam::Read, moduleKey.put(),
                           nullptr);
    } else {
      registry.OpenKeyEx(kHkeyCurrentUser, moduleKeyPath.c_str(), sam::Read, moduleKey.put());
    }

    auto executableKey = kvd::platform::MakeUniqueHkey(registry);
    if (registry.OpenKeyEx(kHkeyCurrentUser, executableKeyPath.c_str(), sam::Read,
                           executableKey.put()) == 0) {
      ReadKey(executableKey.get(), defaultSettings_, nullptr);
      // The external monitor's values are read here once it exists.
      if (moduleKey.valid()) {
        ReadKey(moduleKey.get(), defaultSettings_, nullptr);
        ReadOverrides(moduleKey.get(), moduleKeyPath);
      }
    }
  }
  store_.lastPoll = platform_.clock.GetTickCount();
}

void CLogModule::ReadKey(HKey key, SettingsRecord& record, const SettingsRecord* parent) {
  auto& registry = platform_.registry;
  ReadDword(registry, key, L"LogInfoDetailLevel", record.detailLevel);
  ReadDword(registry, key, L"LogCategories", record.categories);
  record.categories |= category::AlwaysOn;
  ReadDword(registry, key, L"LogOptions", record.options);

  std::wstring path = record.logFile != nullptr ? record.logFile->configuredPath : std::wstring();
  ReadString(registry, key, L"LogFileName", path);
  if (path.empty()) {
    record.logFile = parent != nullptr ? parent->logFile : nullptr;
    return;
  }
  std::wstring expanded;
  if (!kvd::platform::ExpandEnvironment(platform_.environment, path.c_str(), expanded)) {
    expanded = path;
  }
  record.logFile = FindOrAddLogFile(kvd::platform::ToLowerOrdinal(expanded));
}

LogFileRecord* CLogModule::FindOrAddLogFile(const std::wstring& configuredPath) {
  for (const auto& logFile : store_.logFiles) {
    // Matched by the configured path, not by the file's current path: a file started under a
    // unique temporary name must not look like a new configuration at every poll.
    if (kvd::platform::EqualsNoCase(logFile->configuredPath, configuredPath)) return logFile.get();
  }
  auto added = std::make_unique<LogFileRecord>();
  added->configuredPath = configuredPath;
  added->path = configuredPath;
  store_.logFiles.push_back(std::move(added));
  return store_.logFiles.back().get();
}

void CLogModule::ReadOverrides(HKey moduleKey, const std::wstring& moduleKeyPath) {
  auto& registry = platform_.registry;
  for (std::uint32_t index = 0;; ++index) {
    std::array<wchar_t, 256> name{};  // registry key names have at most 255 characters
    auto nameChars = static_cast<std::uint32_t>(name.size());
    kvd::platform::FileTime lastWrite = 0;
    if (registry.EnumKeyEx(moduleKey, index, name.data(), &nameChars, &lastWrite) != 0) break;
    const std::wstring lowered =
        kvd::platform::ToLowerOrdinal(std::wstring_view(name.data(), nameChars));

    std::unique_ptr<SettingsRecord> created;
    SettingsRecord* record = nullptr;
    const auto found = store_.overrides.find(lowered);
    if (found == store_.overrides.end()) {
      created = std::make_unique<SettingsRecord>(defaultSettings_);
      record = created.get();
    } else {
      if (lastWrite <= found->second->lastWriteTime) continue;
      record = found->second.get();
    }

    auto subKey = kvd::platform::MakeUniqueHkey(registry);
    const std::wstring subKeyPath = moduleKeyPath + L"\\" + std::wstring(name.data(), nameChars);
    if (registry.OpenKeyEx(kHkeyCurrentUser, subKeyPath.c_str(), sam::Read, subKey.put()) != 0) {
      continue;
    }
    ReadKey(subKey.get(), *record, &defaultSettings_);
    record->lastWriteTime = lastWrite;
    if (created) store_.overrides.emplace(lowered, std::move(created));
  }
}

// ---- writing --------------------------------------------------------------------------------

std::wstring& CLogModule::IndentationOf(SettingsRecord& settings) {
  return settings.logFile != nullptr ? settings.logFile->indentation : store_.indentation;
}

void CLogModule::InternalLogFormattedString(CLogFunction* scope, SettingsRecord& settings,
                                            std::uint32_t kind, Renderer renderer) {
  std::lock_guard<std::recursive_mutex> guard(lock_);
  try {
    // Information above the detail level is dropped before any text is made for it.
    if ((kind & kind::Info) != 0 && (kind & 0xFu) > settings.detailLevel) return;
    scratch_.clear();
    renderer.render(renderer.context, scratch_);
    // Nothing that writes the record formats into scratch_ again, so it is passed as it is.
    InternalLogSimpleString(settings, scope, kind, scratch_, true);
  } catch (const VERidez::CWin32Exception& e) {
    DiscardRecord(scope);
    const std::wstring message =
        L"Exception Exit: InternalLogFormattedString (" + e.Description() + L")\r\n";
    platform_.debug.OutputDebugString(message.c_str());
  } catch (const std::exception&) {
    DiscardRecord(scope);
  }
}

void CLogModule::InternalLogSimpleString(SettingsRecord& settings, CLogFunction* scope,
                                         std::uint32_t kind, std::wstring_view text, bool scoped) {
  std::lock_guard<std::recursive_mutex> guard(lock_);
  try {
    if ((kind & kind::Info) != 0 && (kind & 0xFu) > settings.detailLevel) return;
    if (scope == nullptr) return;
    scope->text_.append(text);

    const bool needsStart =
        settings.logFile != nullptr ? settings.logFile->needsStart : settings.needsStart;
    if (needsStart) StartLogFile(settings);
    if (!scoped) return;

    const bool entry = (kind & kind::Entry) != 0;
    const bool exit = (kind & kind::Exit) != 0;
    const bool indent = (settings.options & option::Indent) != 0;
    std::wstring& indentation = IndentationOf(settings);

    if (exit) {
      if ((settings.options & option::Durations) != 0) {
        kvd::fmt::FormatTo(scope->text_, L" (Dur: %ld ms) ",
                           platform_.clock.GetTickCount() - scope->startTick_);
      }
      if (scope->exceptionState_ == CLogFunction::ExceptionState::Handled) {
        scope->text_ += L"(handled exception) ";
      } else if (scope->exceptionState_ == CLogFunction::ExceptionState::Unhandled) {
        scope->text_ += L"(*unhandled exception*) ";
      }
      if (indent) indentation.resize(indentation.size() >= 2 ? indentation.size() - 2 : 0);
    }

    const std::wstring_view shown =
        entry || exit ? ShownScopeText(scope->text_) : std::wstring_view(scope->text_);
    WriteRecordLine(settings, kind & settings.categories, scope->line_, shown);
    scope->text_.clear();

    if (entry && indent) indentation += L"  ";
    if (exit && scope->resultCode_ != 0) {
      const std::wstring errorText = ErrorText(scope->resultCode_);
      if (!errorText.empty()) {
        WriteRecordLine(settings, settings.categories & kind::ResultCode, 0, errorText);
      }
    }
  } catch (const VERidez::CWin32Exception& e) {
    DiscardRecord(scope);
    const std::wstring message =
        L"Exception Exit: InternalLogSimpleString (" + e.Description() + L")\r\n";
    platform_.debug.OutputDebugString(message.c_str());
  } catch (const std::exception&) {
    DiscardRecord(scope);
  }
}

void CLogModule::StartLogFile(SettingsRecord& settings) {
  LogFileRecord* logFile = settings.logFile;
  if (logFile == nullptr || logFile->path.empty()) {
    // Nothing to start: without a file, records only reach the debugger output.
    settings.needsStart = false;
    return;
  }
  auto& files = platform_.files;
  std::wstring folder;
  std::wstring name;
  if (kvd::platform::PathIsFileSpec(logFile->path)) {
    std::array<wchar_t, 260> buffer{};
    if (kvd::platform::hr::Succeeded(files.GetFolderPath(
            kvd::platform::csidl::CommonAppData | kvd::platform::csidl::FlagCreate,
            buffer.data()))) {
      folder = buffer.data();
    }
    name = logFile->path;
  } else {
    folder = kvd::platform::PathRemoveFileSpec(logFile->path);
    name = std::wstring(kvd::platform::PathFindFileName(logFile->path));
  }

  if ((settings.options & option::UniqueName) != 0) {
    std::array<wchar_t, 260> temporary{};
    if (files.GetTempFileName(folder.c_str(), name.c_str(), 0, temporary.data()) != 0) {
      std::wstring longName;
      if (!kvd::platform::GrowAndRetry(longName, [&](wchar_t* buffer, std::uint32_t chars) {
            return files.GetLongPathName(temporary.data(), buffer, chars);
          })) {
        longName = temporary.data();
      }
      logFile->path = longName;
    }
  }

  const std::uint32_t disposition =
      (settings.options & option::Truncate) != 0 ? file::CreateAlways : file::OpenAlways;
  auto handle = kvd::platform::MakeUniqueFile(
      files, files.CreateFile(logFile->path.c_str(), file::GenericWrite, 0, disposition,
                              file::AttributeNormal));
  if (handle.valid()) {
    std::wstring fullPath;
    if (kvd::platform::GrowAndRetry(fullPath, [&](wchar_t* buffer, std::uint32_t chars) {
          return files.SearchPath(nullptr, logFile->path.c_str(), nullptr, chars, buffer);
        })) {
      logFile->path = fullPath;
    }
    if (disposition == file::CreateAlways) logFile->size = 0;
  }
  handle.reset();

  if ((settings.categories & category::WriteHeader) != 0) WriteHeader(settings);
  logFile->needsStart = false;
}

void CLogModule::WriteHeader(SettingsRecord& settings) {
  auto& files = platform_.files;
  auto& process = platform_.process;
  std::wstring text = L"Module File Name: " + executablePath_;
  kvd::platform::FileAttributeData attributes;
  if (files.GetFileAttributesEx(executablePath_.c_str(), &attributes)) {
    kvd::fmt::FormatTo(text, L" (%ld bytes)", attributes.fileSize);
  }
  WriteRecordLine(settings, kind::Header, 0, text);

  const wchar_t* commandLine = process.GetCommandLine();
  WriteRecordLine(
      settings, kind::Header, 0,
      std::wstring(L"    Command Line: ") + (commandLine != nullptr ? commandLine : L""));

  std::wstring version = VERidez::CFileVersionInfo(process, executablePath_).FileVersion();
  if (version.empty()) version = L"<no version info>";
  WriteRecordLine(settings, kind::Header, 0, L"    File Version: " + version);
  WriteRecordLine(settings, kind::Header, 0, L"      Process ID: " + processIdText_);
  WriteRecordLine(settings, kind::Header, 0, L"        Built on: " + buildText_);
  WriteRecordLine(
      settings, kind::Header, 0,
      L"   Log File Name: <" + (settings.logFile ? settings.logFile->path : L"") + L">");

  if ((settings.options & option::ListModules) != 0) {
    std::vector<kvd::platform::ModuleHandle> modules(kMaxModules);
    std::uint32_t needed = 0;
    if (process.EnumProcessModules(
            modules.data(),
            static_cast<std::uint32_t>(modules.size() * sizeof(kvd::platform::ModuleHandle)),
            &needed)) {
      const std::size_t count =
          std::min<std::size_t>(needed / sizeof(kvd::platform::ModuleHandle), modules.size());
      for (std::size_t i = 0; i < count; ++i) {
        std::wstring path;
        if (kvd::platform::GrowAndRetry(path, [&](wchar_t* buffer, std::uint32_t chars) {
              return process.GetModuleFileName(modules[i], buffer, chars);
            })) {
          WriteRecordLine(settings, kind::Header, 0, L"   Loaded Module: " + path);
        }
      }
    }
  }
}

void CLogModule::BuildPrefix(const SettingsRecord& settings, std::uint32_t kind, int line) {
  auto& clock = platform_.clock;
  const std::uint32_t options = settings.options;
  prefix_.clear();
  const bool compact = (options & option::CompactDateTime) != 0;
  if ((options & (option::Date | option::Time)) != 0) {
    kvd::platform::CalendarTime now;
    if (clock.GetLocalCalendarTime(&now)) {
      const bool date = (options & option::Date) != 0;
      const bool time = (options & option::Time) != 0;
      if (compact && date && time) {
        // The start-up options' form, in one go.
        kvd::fmt::FormatTo(prefix_, L"%04d%02d%02d%02d%02d%02d", now.year, now.month, now.day,
                           now.hour, now.minute, now.second);
      } else {
        if (date) {
          if (compact) {
            kvd::fmt::FormatTo(prefix_, L"%04d%02d%02d", now.year, now.month, now.day);
          } else {
            kvd::fmt::FormatTo(prefix_, L"%04d/%02d/%02d ", now.year, now.month, now.day);
          }
        }
        if (time) {
          if (compact) {
            kvd::fmt::FormatTo(prefix_, L"%02d%02d%02d", now.hour, now.minute, now.second);
          } else {
            kvd::fmt::FormatTo(prefix_, L"%02d:%02d:%02d ", now.hour, now.minute, now.second);
          }
        }
      }
    }
  }
  if ((options & option::CounterAndLine) != 0) {
    if (compact) prefix_ += L':';
    std::int64_t counter = 0;
    std::int64_t frequency = 0;
    clock.QueryPerformanceCounter(&counter);
    if (!clock.QueryPerformanceFrequency(&frequency) || frequency <= 0) frequency = 1000000000;
    // A counter slower than 1 MHz still counts whole microseconds per tick, never divides by 0.
    const std::int64_t ticksPerMicrosecond = std::max<std::int64_t>(frequency / 1000000, 1);
    const auto micro = static_cast<std::uint64_t>((counter - startCounter_) / ticksPerMicrosecond);
    kvd::fmt::FormatTo(prefix_, L"%9.9I64X ", micro % 10000000u);
  }
  if ((options & option::SinceLast) != 0) {
    kvd::fmt::FormatTo(prefix_, L"(%6ld ms) ", clock.GetTickCount() - lastRecordTick_);
  }
  if ((options & option::ProcessId) != 0) prefix_ += processIdText_;
  if ((options & option::ThreadId) != 0) {
    kvd::fmt::FormatTo(prefix_, L"{tid: 0x%04X} ", platform_.process.GetCurrentThreadId());
  }
  if ((options & option::CounterAndLine) != 0) {
    if (line == 0) {
      prefix_ += L"      ";
    } else {
      kvd::fmt::FormatTo(prefix_, L"%04d: ", line);
    }
  }
  if ((kind & kind::Exception) != 0) prefix_ += L"(EX) ";
  if ((kind & kind::Error) != 0) prefix_ += L"(##) ";
  if ((kind & kind::Warning) != 0) prefix_ += L"(WN) ";
  if ((kind & kind::Header) != 0) prefix_ += L"(++) ";
  if ((kind & kind::Info) != 0) kvd::fmt::FormatTo(prefix_, L"(I%d) ", kind & 0xFu);
  if ((kind & kind::St) != 0) prefix_ += L"(ST) ";
  if ((kind & kind::Debug) != 0) prefix_ += L"(DB) ";
  if ((kind & kind::Entry) != 0) prefix_ += L"(->) ";
  if ((kind & kind::Exit) != 0) prefix_ += L"(<-) ";
  if ((kind & kind::ResultCode) != 0) prefix_ += L"(**) ";
  if ((kind & kind::Lk) != 0) prefix_ += L"(LK) ";
  if ((kind & kind::EntryParams) != 0) prefix_ += L"(IP) ";
  if ((kind & kind::ModuleMask) != 0) kvd::fmt::FormatTo(prefix_, L"(M%d) ", (kind >> 12) & 0xFu);
}

void CLogModule::WriteRecordLine(SettingsRecord& settings, std::uint32_t kind, int line,
                                 std::wstring_view text) {
  BuildPrefix(settings, kind, line);
  const std::wstring& indentation = IndentationOf(settings);
  if ((kind & kind::ToDebugger) != 0 || (settings.options & option::ToDebugger) != 0) {
    auto& debug = platform_.debug;
    debug.OutputDebugString(prefix_.c_str());
    debug.OutputDebugString(indentation.c_str());
    debug.OutputDebugString(std::wstring(text).c_str());
    debug.OutputDebugString(L"\r\n");
  }
  if (settings.logFile != nullptr && !settings.logFile->path.empty()) {
    AppendToFile(settings, indentation, text);
  }
  lastRecordTick_ = platform_.clock.GetTickCount();
}

void CLogModule::AppendToFile(SettingsRecord& settings, std::wstring_view indentation,
                              std::wstring_view text) {
  LogFileRecord& logFile = *settings.logFile;
  const std::uint32_t limit = (settings.options & option::SizeLimitKb) * 1024u;
  if (limit != 0 && logFile.size >= limit) return;

  auto& files = platform_.files;
  auto handle = kvd::platform::MakeUniqueFile(files);
  std::uint32_t lastError = 0;
  for (std::uint32_t attempt = 1; attempt <= kOpenAttempts; ++attempt) {
    handle.reset(files.CreateFile(logFile.path.c_str(), file::GenericWrite, 0, file::OpenAlways,
                                  file::AttributeNormal));
    if (handle.valid()) break;
    lastError = platform_.errors.GetLastError();
    if (lastError != err::SharingViolation || attempt == kOpenAttempts) break;
    platform_.clock.Sleep(kSharingRetryMs);
  }
  if (!handle.valid()) {
    const std::wstring message =
        L"Unable to open log file:\r\n<" + logFile.path + L">\r\n" + ErrorText(lastError) + L"\r\n";
    platform_.debug.OutputDebugString(message.c_str());
    return;
  }

  std::uint32_t size = files.SetFilePointer(handle.get(), 0, file::End);
  if (size == file::InvalidSetFilePointer) size = logFile.size;

  bytes_.clear();
  kvd::platform::AppendUtf16Bytes(prefix_, bytes_);
  kvd::platform::AppendUtf16Bytes(indentation, bytes_);
  kvd::platform::AppendUtf16Bytes(text, bytes_);
  kvd::platform::AppendUtf16Bytes(L"\r\n", bytes_);
  std::uint32_t written = 0;
  files.WriteFile(handle.get(), bytes_.data(), static_cast<std::uint32_t>(bytes_.size()), &written);
  size += written;

  if (limit != 0 && size >= limit) {
    const std::wstring notice = kvd::fmt::Format(
        L"*** FILE SIZE LIMIT REACHED, LOGGING DISABLED FOR %s MODULE ***", moduleName_);
    bytes_.clear();
    kvd::platform::AppendUtf16Bytes(notice, bytes_);
    written = 0;
    files.WriteFile(handle.get(), bytes_.data(), static_cast<std::uint32_t>(bytes_.size()),
                    &written);
    size += written;
    if ((settings.options & (option::Truncate | option::UniqueName)) ==
        (option::Truncate | option::UniqueName)) {
      logFile.needsStart = true;
      size = 0;
    }
  }
  logFile.size = size;
}

std::wstring CLogModule::ErrorText(std::uint32_t code) {
  if (code == 0) return {};
  std::wstring text = kvd::fmt::Format(L"[Err: 0x%08X] ", code);
  std::uint32_t hooked = 0;
  if (errorTextHook_ != nullptr) {
    std::wstring extra;
    hooked = errorTextHook_(code, extra, static_cast<std::uint32_t>(kErrorTextChars - text.size()));
    text += extra.substr(0, kErrorTextChars - text.size());
  }
  if (hooked == 0) {
    auto& errors = platform_.errors;
    auto message = [&errors](std::uint32_t which) {
      std::wstring out;
      kvd::platform::GrowAndRetry(out, [&](wchar_t* buffer, std::uint32_t chars) {
        return errors.FormatMessage(which, kvd::platform::kLangNeutralSublangDefault, buffer,
                                    chars);
      });
      return TrimLineBreaks(std::move(out));
    };
    const std::wstring first = message(code);
    const std::uint32_t lastError = errors.GetLastError();
    std::wstring second;
    if (lastError != code) second = message(lastError);
    text += first;
    if (!second.empty()) {
      kvd::fmt::FormatTo(text, L", [GLE: 0x%08X] ", lastError);
      text += second;
    }
  }
  if (text.size() > kErrorTextChars) text.resize(kErrorTextChars);
  return text;
}

}  // namespace DUDiduzuz
