#pragma once

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <tuple>
#include <type_traits>
#include <vector>

#include "logging/Format.h"
#include "platform/api/Platform.h"

namespace DUDiduzuz {

// Record kind bits: they select the tags of a record line and are what LogCategories masks.
namespace kind {
inline constexpr std::uint32_t Info = 0x10;  // detail level in the low four bits
inline constexpr std::uint32_t Exception = 0x20;
inline constexpr std::uint32_t Warning = 0x40;
inline constexpr std::uint32_t Error = 0x80;
inline constexpr std::uint32_t St = 0x100;
inline constexpr std::uint32_t Debug = 0x200;
inline constexpr std::uint32_t Entry = 0x400;
inline constexpr std::uint32_t Exit = 0x800;
inline constexpr std::uint32_t ModuleMask = 0xF000;
inline constexpr std::uint32_t Lk = 0x2000000;
inline constexpr std::uint32_t EntryParams = 0x4000000;
inline constexpr std::uint32_t ToDebugger = 0x8000000;
inline constexpr std::uint32_t ResultCode = 0x20000000;
inline constexpr std::uint32_t Header = 0x40000000;
}  // namespace kind

// LogCategories bits that also act as switches.
namespace category {
inline constexpr std::uint32_t AlwaysOn = 0xF;
inline constexpr std::uint32_t CreateModuleKey = 0x1000000;
inline constexpr std::uint32_t ResultCodeTag = 0x20000000;
inline constexpr std::uint32_t WriteHeader = 0x40000000;
}  // namespace category

// LogOptions bits.
namespace option {
inline constexpr std::uint32_t SizeLimitKb = 0x0000FFFF;
inline constexpr std::uint32_t Truncate = 0x00010000;
inline constexpr std::uint32_t UniqueName = 0x00020000;
inline constexpr std::uint32_t ToDebugger = 0x00080000;
inline constexpr std::uint32_t ListModules = 0x00100000;
inline constexpr std::uint32_t Indent = 0x00200000;
inline constexpr std::uint32_t Durations = 0x00400000;
inline constexpr std::uint32_t CompactDateTime = 0x00800000;
inline constexpr std::uint32_t Date = 0x01000000;
inline constexpr std::uint32_t Time = 0x02000000;
inline constexpr std::uint32_t ProcessId = 0x04000000;
inline constexpr std::uint32_t ThreadId = 0x08000000;
inline constexpr std::uint32_t SinceLast = 0x10000000;
inline constexpr std::uint32_t CounterAndLine = 0x20000000;
}  // namespace option

// The registry root of the configuration, under HKEY_CURRENT_USER.
inline constexpr const wchar_t* kRootKey = L"Software\\QV\\NG\\Logging";

// One log file, shared by every settings record that names the same path.
struct LogFileRecord {
  bool needsStart = true;
  std::wstring configuredPath;  // expanded, lower-cased LogFileName: what settings are matched by
  std::wstring path;            // the same, until started: then the file's full path
  std::uint32_t size = 0;       // bytes the file held after our last write
  std::wstring indentation;     // spaces only
};

// What a record is filtered by and where it goes: the module defaults, or one source file's.
struct SettingsRecord {
  kvd::platform::FileTime lastWriteTime = 0;
  std::uint32_t detailLevel = 0;
  std::uint32_t categories = 0;
  std::uint32_t options = 0;
  LogFileRecord* logFile = nullptr;
  bool needsStart = true;  // used only while no log-file record is attached
};

// Settings shared by the loggers of a process: per-source overrides, log files, the last poll.
// Guarded by its lock, which is taken with a 50 ms limit.
class SettingsStore {
 public:
  explicit SettingsStore(kvd::platform::ISync& sync);
  ~SettingsStore();
  SettingsStore(const SettingsStore&) = delete;
  SettingsStore& operator=(const SettingsStore&) = delete;

  // The lock: true when had within `milliseconds`.
  bool Lock(std::uint32_t milliseconds);
  void Unlock();

  std::uint32_t referenceCount = 0;
  std::wstring indentation;
  std::uint32_t lastPoll = 0;
  std::map<std::wstring, std::unique_ptr<SettingsRecord>, std::less<>> overrides;
  std::vector<std::unique_ptr<LogFileRecord>> logFiles;

 private:
  kvd::platform::ISync& sync_;
  kvd::platform::SyncHandle lock_ = 0;
};

class CLogFunction;

// The logger of one module: filters, formats and writes every record of that module's scopes.
class CLogModule {
 public:
  // `store` may be shared by several loggers; it must outlive them.
  CLogModule(kvd::platform::Platform& platform, SettingsStore& store);
  virtual ~CLogModule();
  CLogModule(const CLogModule&) = delete;
  CLogModule& operator=(const CLogModule&) = delete;

  // The module's logger that scopes bind to when none is named: set by the program's wiring.
  static CLogModule* Current() { return current_.load(std::memory_order_acquire); }
  static void SetCurrent(CLogModule* logger) { current_.store(logger, std::memory_order_release); }

  // Zeroes the default settings (last write time, level, categories, options, log file); the
  // needs-start byte stays.
  virtual void ResetDefaultSettings();

  // The two entry points every record passes through. Nothing they meet propagates to the caller.
  void LogSimple(CLogFunction* scope, std::uint32_t kind, std::wstring_view text, bool scoped);
  struct Renderer {
    const void* context;
    void (*render)(const void* context, std::wstring& out);
  };
  void LogFormatted(CLogFunction* scope, std::uint32_t kind, Renderer renderer);

  const std::wstring& ModuleName() const { return moduleName_; }
  const std::wstring& ExecutableName() const { return executableName_; }
  std::uint32_t PollInterval() const { return pollInterval_; }
  kvd::platform::Platform& Ports() { return platform_; }

  // The error text of a code: "[Err: 0x%08X] " and the system's message ("" for 0).
  std::wstring ErrorText(std::uint32_t code);

  // Optional: appends text for a code into `out` (at most `room` characters) and returns how
  // many it wrote. Never installed by the program itself.
  using ErrorTextHook = std::uint32_t (*)(std::uint32_t code, std::wstring& out,
                                          std::uint32_t room);
  void SetErrorTextHook(ErrorTextHook hook) { errorTextHook_ = hook; }

 private:
  friend class CLogFunction;

  SettingsRecord* Filter(const CLogFunction* scope, std::uint32_t kind);
  void Poll();
  void ReadKey(kvd::platform::HKey key, SettingsRecord& record, const SettingsRecord* parent);
  void ReadOverrides(kvd::platform::HKey moduleKey, const std::wstring& moduleKeyPath);
  LogFileRecord* FindOrAddLogFile(const std::wstring& configuredPath);

  void InternalLogSimpleString(SettingsRecord& settings, CLogFunction* scope, std::uint32_t kind,
                               std::wstring_view text, bool scoped);
  void InternalLogFormattedString(CLogFunction* scope, SettingsRecord& settings, std::uint32_t kind,
                                  Renderer renderer);
  void StartLogFile(SettingsRecord& settings);
  void WriteHeader(SettingsRecord& settings);
  void WriteRecordLine(SettingsRecord& settings, std::uint32_t kind, int line,
                       std::wstring_view text);
  void BuildPrefix(const SettingsRecord& settings, std::uint32_t kind, int line);
  void AppendToFile(SettingsRecord& settings, std::wstring_view indentation,
                    std::wstring_view text);
  std::wstring& IndentationOf(SettingsRecord& settings);
  static void DiscardRecord(CLogFunction* scope) noexcept;

  static std::atomic<CLogModule*> current_;

  kvd::platform::Platform& platform_;
  SettingsStore& store_;
  bool storeLocked_ = false;
  std::wstring moduleName_;
  std::wstring executableName_;
  std::wstring executablePath_;
  std::wstring buildText_;
  std::uint32_t pollInterval_ = 30000;
  std::wstring processIdText_;
  std::uint32_t startTick_ = 0;
  std::int64_t startCounter_ = 0;
  SettingsRecord defaultSettings_;
  std::uint32_t lastRecordTick_ = 0;
  ErrorTextHook errorTextHook_ = nullptr;
  std::recursive_mutex lock_;
  // Reused under lock_ so that writing a record does not allocate once they have grown.
  std::wstring scratch_;
  std::wstring prefix_;
  std::vector<std::uint8_t> bytes_;
};

// One static object per source file: the file's lower-cased name, which per-source overrides use.
class CLogSourceFile {
 public:
  explicit CLogSourceFile(const char* path);
  explicit CLogSourceFile(std::wstring_view path);
  virtual ~CLogSourceFile() = default;
  const std::wstring& Name() const { return name_; }

 private:
  std::wstring name_;
};

// The scope of one running function: writes its entry record on construction and its exit
// record on destruction, and the function's own records in between.
class CLogFunction {
 public:
  enum class ExceptionState : std::uint8_t { None = 0, Handled = 2, Unhandled = 3 };

  // Binds to CLogModule::Current(); without a current logger the scope records nothing.
  CLogFunction(const CLogSourceFile& source, const wchar_t* name, int line,
               std::uint32_t resultCode = 0, bool unhandled = false);
  CLogFunction(CLogModule* logger, const CLogSourceFile& source, const wchar_t* name, int line,
               std::uint32_t resultCode = 0, bool unhandled = false);
  // With parameters: the entry record (kind 0x4000400) reads name, ", " and the formatted
  // parameters.
  template <class... Args>
  CLogFunction(CLogModule* logger, const CLogSourceFile& source, const wchar_t* name, int line,
               std::uint32_t resultCode, bool unhandled,
               kvd::fmt::FormatString<std::type_identity_t<Args>...> parameters,
               const Args&... args)
      : CLogFunction(NoEntryRecord{}, logger, source, name, line, resultCode, unhandled) {
    if (logger_ == nullptr) return;
    struct Bound {
      const wchar_t* name;
      kvd::fmt::FormatString<std::type_identity_t<Args>...> format;
      std::tuple<const Args&...> args;
    } bound{name_, parameters, std::tuple<const Args&...>(args...)};
    logger_->LogFormatted(
        this, kind::Entry | kind::EntryParams,
        CLogModule::Renderer{
            &bound, [](const void* context, std::wstring& out) {
              const auto& b = *static_cast<const Bound*>(context);
              out += b.name;
              out += L", ";
              std::apply([&](const Args&... a) { kvd::fmt::FormatTo(out, b.format, a...); },
                         b.args);
            }});
  }
  virtual ~CLogFunction();
  CLogFunction(const CLogFunction&) = delete;
  CLogFunction& operator=(const CLogFunction&) = delete;

  // A record whose text is the format with its arguments. The format is checked against the
  // arguments at compile time; data (names, paths, values) always travels as an argument, so
  // that a '%' in it is printed, never interpreted.
  template <class... Args>
  void Log(int line, std::uint32_t kind,
           kvd::fmt::FormatString<std::type_identity_t<Args>...> format, const Args&... args) {
    line_ = line;
    if (logger_ == nullptr) return;
    struct Bound {
      kvd::fmt::FormatString<std::type_identity_t<Args>...> format;
      std::tuple<const Args&...> args;
    } bound{format, std::tuple<const Args&...>(args...)};
    logger_->LogFormatted(
        this, kind, CLogModule::Renderer{&bound, [](const void* context, std::wstring& out) {
                                           const auto& b = *static_cast<const Bound*>(context);
                                           std::apply(
                                               [&](const Args&... a) {
                                                 kvd::fmt::FormatTo(out, b.format, a...);
                                               },
                                               b.args);
                                         }});
  }

  // A record of ready text, written exactly as given.
  void LogText(int line, std::uint32_t kind, std::wstring_view text);

  void SetResultCode(std::uint32_t code) { resultCode_ = code; }
  void SetExceptionState(ExceptionState state) { exceptionState_ = state; }

  const CLogSourceFile& Source() const { return source_; }
  const wchar_t* Name() const { return name_; }
  int Line() const { return line_; }

 private:
  friend class CLogModule;
  struct NoEntryRecord {};
  CLogFunction(NoEntryRecord, CLogModule* logger, const CLogSourceFile& source, const wchar_t* name,
               int line, std::uint32_t resultCode, bool unhandled);

  std::uint32_t resultCode_ = 0;
  const CLogSourceFile& source_;
  ExceptionState exceptionState_ = ExceptionState::None;
  int line_ = 0;
  CLogModule* logger_ = nullptr;
  const wchar_t* name_ = nullptr;
  std::uint32_t startTick_ = 0;
  std::wstring text_;
};

}  // namespace DUDiduzuz
