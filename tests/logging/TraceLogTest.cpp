// The trace log against each tier's machine: the simulated one natively, the real registry and
// files under Wine. Time comes from a manual clock on both, so every line can be compared whole.
#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <thread>

#include "logging/DUDiduzuz.h"
#include "logging/VERidez.h"
#include "tests/support/ManualClock.h"
#include "tests/support/PortHelpers.h"
#include "tests/support/TestMachine.h"

namespace {

using DUDiduzuz::CLogFunction;
using DUDiduzuz::CLogModule;
using DUDiduzuz::CLogSourceFile;
using DUDiduzuz::SettingsStore;
using kvd::platform::kHkeyCurrentUser;
namespace kind = DUDiduzuz::kind;
namespace option = DUDiduzuz::option;
namespace file = kvd::platform::file;

const std::wstring kRoot = L"Software\\QV\\NG\\Logging";

// The options the program writes at start-up, without the debugger copy unless a test wants it.
constexpr std::uint32_t kStartupCategories = 0x3F00FFF0;
constexpr std::uint32_t kStartupOptions = 0x7FF80000;
constexpr std::uint32_t kPlainOptions = 0;  // no prefix, no indentation: lines are text alone

std::wstring Hex(std::uint32_t value, int digits) {
  static const wchar_t kDigits[] = L"0123456789ABCDEF";
  std::wstring out;
  do {
    out.insert(out.begin(), kDigits[value & 0xF]);
    value >>= 4;
  } while (value != 0);
  while (static_cast<int>(out.size()) < digits) out.insert(out.begin(), L'0');
  return out;
}

// Forwards to the machine's files; can be told to fault in the middle of a write.
class FaultingFiles : public kvd::platform::IFileSystem {
 public:
  explicit FaultingFiles(kvd::platform::IFileSystem& inner) : inner_(inner) {}
  std::atomic<bool> faultOnWrite{false};
  std::atomic<bool> throwBadAlloc{false};

  bool GetFileAttributesEx(const wchar_t* p, kvd::platform::FileAttributeData* o) override {
    return inner_.GetFileAttributesEx(p, o);
  }
  bool SetFileAttributes(const wchar_t* p, std::uint32_t a) override {
    return inner_.SetFileAttributes(p, a);
  }
  kvd::platform::FileHandle CreateFile(const wchar_t* p, std::uint32_t a, std::uint32_t s,
                                       std::uint32_t d, std::uint32_t f) override {
    return inner_.CreateFile(p, a, s, d, f);
  }
  std::uint32_t SetFilePointer(kvd::platform::FileHandle h, std::int32_t d,
                               std::uint32_t m) override {
    return inner_.SetFilePointer(h, d, m);
  }
  bool WriteFile(kvd::platform::FileHandle h, const void* d, std::uint32_t b,
                 std::uint32_t* w) override {
    if (faultOnWrite) throw VERidez::CAccessViolation(nullptr, true, d);
    if (throwBadAlloc) throw std::bad_alloc();
    return inner_.WriteFile(h, d, b, w);
  }
  bool ReadFile(kvd::platform::FileHandle h, void* d, std::uint32_t b, std::uint32_t* r) override {
    return inner_.ReadFile(h, d, b, r);
  }
  bool CloseHandle(kvd::platform::FileHandle h) override { return inner_.CloseHandle(h); }
  bool DeleteFile(const wchar_t* p) override { return inner_.DeleteFile(p); }
  bool CopyFile(const wchar_t* from, const wchar_t* to, bool failIfExists) override {
    return inner_.CopyFile(from, to, failIfExists);
  }
  bool CreateDirectory(const wchar_t* p) override { return inner_.CreateDirectory(p); }
  std::uint32_t GetTempFileName(const wchar_t* p, const wchar_t* x, std::uint32_t u,
                                wchar_t* t) override {
    return inner_.GetTempFileName(p, x, u, t);
  }
  kvd::platform::FileHandle FindFirstFile(const wchar_t* p, kvd::platform::FindData* o) override {
    return inner_.FindFirstFile(p, o);
  }
  bool FindNextFile(kvd::platform::FileHandle h, kvd::platform::FindData* o) override {
    return inner_.FindNextFile(h, o);
  }
  bool FindClose(kvd::platform::FileHandle h) override { return inner_.FindClose(h); }
  std::uint32_t GetLongPathName(const wchar_t* s, wchar_t* l, std::uint32_t c) override {
    return inner_.GetLongPathName(s, l, c);
  }
  std::uint32_t SearchPath(const wchar_t* p, const wchar_t* f, const wchar_t* e, std::uint32_t c,
                           wchar_t* b) override {
    return inner_.SearchPath(p, f, e, c, b);
  }
  kvd::platform::HResult GetFolderPath(int c, wchar_t* p) override {
    return inner_.GetFolderPath(c, p);
  }

 private:
  kvd::platform::IFileSystem& inner_;
};

const CLogSourceFile kManagerSource(L".\\DiagnosticMgr.cpp");
const CLogSourceFile kOtherSource("/src/issues/KVDConnectionIssue.cpp");

class TraceLog : public ::testing::TestWithParam<kvd::test::TargetFactory> {
 protected:
  void SetUp() override {
    machine_ = GetParam().make();
    auto& p = machine_->Ports();
    files_ = std::make_unique<FaultingFiles>(p.files);
    ports_.emplace(kvd::platform::Overridden(p, {.files = files_.get(), .clock = &clock_}));
    std::wstring exe;
    kvd::platform::GrowAndRetry(
        exe, [&](wchar_t* b, std::uint32_t c) { return p.process.GetModuleFileName(0, b, c); });
    exeName_ = std::wstring(kvd::platform::PathFindFileName(exe));
    exeKey_ = kRoot + L"\\" + exeName_;
    kvd::test::DeleteTree(p.registry, kHkeyCurrentUser, kRoot);
    logPath_ = machine_->ScratchFolder() + L"\\qv_kvd.log";
    machine_->TakeDebugOutput();
  }

  void TearDown() override {
    logger_.reset();
    store_.reset();
    kvd::test::DeleteTree(ports_->registry, kHkeyCurrentUser, kRoot);
  }

  kvd::platform::IRegistry& Registry() { return ports_->registry; }

  void Configure(std::uint32_t categories, std::uint32_t options, std::uint32_t level,
                 const std::wstring& path, const std::wstring& key = {}) {
    const std::wstring& at = key.empty() ? exeKey_ : key;
    ASSERT_TRUE(
        kvd::test::PutDword(Registry(), kHkeyCurrentUser, at, L"LogCategories", categories));
    ASSERT_TRUE(kvd::test::PutDword(Registry(), kHkeyCurrentUser, at, L"LogOptions", options));
    ASSERT_TRUE(
        kvd::test::PutDword(Registry(), kHkeyCurrentUser, at, L"LogInfoDetailLevel", level));
    ASSERT_TRUE(kvd::test::PutString(Registry(), kHkeyCurrentUser, at, L"LogFileName", path));
  }

  CLogModule& Logger() {
    if (!logger_) {
      store_ = std::make_unique<SettingsStore>(ports_->sync);
      logger_ = std::make_unique<CLogModule>(*ports_, *store_);
    }
    return *logger_;
  }

  std::vector<std::wstring> Lines(const std::wstring& path) {
    const auto bytes = kvd::test::ReadWholeFile(ports_->files, path);
    if (!bytes) return {};
    return kvd::test::SplitLines(kvd::test::DecodeUtf16(*bytes));
  }
  std::vector<std::wstring> Lines() { return Lines(logPath_); }

  std::wstring Joined(const std::vector<std::wstring>& pieces) {
    std::wstring all;
    for (const auto& piece : pieces) all += piece;
    return all;
  }

  std::unique_ptr<kvd::test::TestMachine> machine_;
  kvd::test::ManualClock clock_;
  std::unique_ptr<FaultingFiles> files_;
  std::optional<kvd::platform::Platform> ports_;
  std::unique_ptr<SettingsStore> store_;
  std::unique_ptr<CLogModule> logger_;
  std::wstring exeName_;
  std::wstring exeKey_;
  std::wstring logPath_;
};

TEST_P(TraceLog, StartupOptionsGiveTheDocumentedLineFormat) {
  Configure(kStartupCategories, kStartupOptions, 0, logPath_);
  auto& logger = Logger();
  auto& process = ports_->process;
  const std::wstring pid = L"[" + std::to_wstring(process.GetCurrentProcessId()) + L"] ";
  const std::wstring tid = L"{tid: 0x" + Hex(process.GetCurrentThreadId(), 4) + L"} ";
  machine_->TakeDebugOutput();
  {
    clock_.Advance(2);
    CLogFunction scope(&logger, kManagerSource, L"CDiagnosticMgr::FillIssueList", 100);
    clock_.Advance(3);
    scope.Log(109, kind::Debug, L"Filling up the issue list.");
    clock_.Advance(4);
  }
  const std::vector<std::wstring> expected = {
      L"20261210093005:0000007D0 (     2 ms) " + pid + tid +
          L"0100: (->) CDiagnosticMgr::FillIssueList",
      L"20261210093005:000001388 (     3 ms) " + pid + tid +
          L"0109: (DB)   Filling up the issue list.",
      L"20261210093005:000002328 (     4 ms) " + pid + tid +
          L"      (<-) CDiagnosticMgr::FillIssueList (Dur: 7 ms) ",
  };
  EXPECT_EQ(Lines(), expected);

  // UTF-16LE without a byte-order mark, every line ended by CR LF.
  const auto bytes = kvd::test::ReadWholeFile(ports_->files, logPath_);
  ASSERT_TRUE(bytes.has_value());
  ASSERT_GE(bytes->size(), 4u);
  EXPECT_EQ((*bytes)[0], '2');
  EXPECT_EQ((*bytes)[1], 0);
  EXPECT_EQ((*bytes)[bytes->size() - 4], '\r');
  EXPECT_EQ((*bytes)[bytes->size() - 2], '\n');

  // Option 0x80000 copies each line to the debugger output in four pieces.
  const auto debug = machine_->TakeDebugOutput();
  ASSERT_EQ(debug.size(), 12u);
  EXPECT_EQ(debug[4], expected[1].substr(0, expected[1].size() - 28));
  EXPECT_EQ(debug[5], L"  ");
  EXPECT_EQ(debug[6], L"Filling up the issue list.");
  EXPECT_EQ(debug[7], L"\r\n");
}

TEST_P(TraceLog, PrefixFieldsFollowTheirOptions) {
  struct Case {
    const char* name;
    std::uint32_t options;
    int line;
    std::wstring expected;
  };
  const std::vector<Case> cases = {
      {"date and time", option::Date | option::Time, 7, L"2026/12/10 09:30:05 (I0) text"},
      {"compact", option::Date | option::Time | option::CompactDateTime, 7,
       L"20261210093005(I0) text"},
      {"line of five digits", option::CounterAndLine, 12345, L"000000000 12345: (I0) text"},
      {"line zero is six blanks", option::CounterAndLine, 0, L"000000000       (I0) text"},
      {"since last record", option::SinceLast, 1, L"(     0 ms) (I0) text"},
      {"nothing", 0, 1, L"(I0) text"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::wstring path =
        machine_->ScratchFolder() + L"\\prefix-" + std::to_wstring(&c - cases.data()) + L".log";
    Configure(0x10, c.options, 0, path);
    logger_.reset();
    CLogFunction scope(&Logger(), kManagerSource, L"F", 1);
    scope.Log(c.line, kind::Info, L"text");
    const auto lines = Lines(path);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0], c.expected);
  }
}

TEST_P(TraceLog, TagsAppearInTheirFixedOrder) {
  // Every category, so the header block (0x40000000) comes first: six lines.
  Configure(0xFFFFFFFF & ~kind::ToDebugger, kPlainOptions, 15, logPath_);
  CLogFunction scope(&Logger(), kManagerSource, L"F", 1);
  scope.Log(1, kind::Exception | kind::Error | kind::Warning, L"a");
  scope.Log(1, kind::Info | 3, L"b");
  scope.Log(1, kind::St | kind::Debug | kind::Lk | 0x3000, L"c");
  scope.Log(1, kind::ResultCode | kind::Header | kind::EntryParams, L"d");
  const auto lines = Lines();
  ASSERT_EQ(lines.size(), 11u);
  EXPECT_EQ(lines[6], L"(->) F");
  EXPECT_EQ(lines[7], L"(EX) (##) (WN) a");
  EXPECT_EQ(lines[8], L"(I3) b");
  EXPECT_EQ(lines[9], L"(ST) (DB) (LK) (M3) c");
  EXPECT_EQ(lines[10], L"(++) (**) (IP) d");
}

TEST_P(TraceLog, FilterByCategoryAndDetailLevel) {
  struct Case {
    const char* name;
    std::uint32_t categories;
    std::uint32_t level;
    std::uint32_t kind;
    bool written;
  };
  const Case cases[] = {
      {"level 0 with 0x10", 0x10, 0, kind::Info, true},
      {"level 1 above detail 0", 0x10, 0, kind::Info | 1, false},
      {"level 1 within detail 1", 0x10, 1, kind::Info | 1, true},
      {"level 0 without 0x10", 0x200, 0, kind::Info, false},
      {"level 2 passes the mask without 0x10", 0x200, 2, kind::Info | 2, true},
      {"debug masked off", 0x10, 0, kind::Debug, false},
      {"error kept", 0x80, 0, kind::Error, true},
  };
  int n = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::wstring path = machine_->ScratchFolder() + L"\\f" + std::to_wstring(++n) + L".log";
    Configure(c.categories, kPlainOptions, c.level, path);
    logger_.reset();
    CLogFunction scope(&Logger(), kManagerSource, L"F", 1);
    scope.Log(1, c.kind, L"x");
    EXPECT_EQ(Lines(path).size(), c.written ? 1u : 0u);
  }
}

TEST_P(TraceLog, RegistryChangesTakeEffectAtTheNextPoll) {
  Configure(0x10, kPlainOptions, 0, logPath_);
  ASSERT_TRUE(kvd::test::PutDword(Registry(), kHkeyCurrentUser, kRoot, L"LogParmsPollTime", 5));
  CLogFunction scope(&Logger(), kManagerSource, L"F", 1);
  // Until a record has started the file, every record polls; this one starts it.
  scope.Log(1, kind::Info, L"started");
  scope.Log(1, kind::Info | 1, L"dropped");
  EXPECT_EQ(Logger().PollInterval(), 5000u);

  ASSERT_TRUE(kvd::test::PutDword(Registry(), kHkeyCurrentUser, exeKey_, L"LogInfoDetailLevel", 1));
  clock_.Advance(5000);  // not past the interval yet
  scope.Log(1, kind::Info | 1, L"still dropped");
  clock_.Advance(1);
  scope.Log(1, kind::Info | 1, L"written");
  EXPECT_EQ(Lines(), (std::vector<std::wstring>{L"(I0) started", L"(I1) written"}));

  ASSERT_TRUE(kvd::test::PutDword(Registry(), kHkeyCurrentUser, kRoot, L"LogParmsPollTime", 0));
  clock_.Advance(5001);
  scope.Log(1, kind::Info, L"poll");
  EXPECT_EQ(Logger().PollInterval(), 30000u);
}

TEST_P(TraceLog, EntryAndExitRecordsAndIndentation) {
  Configure(0xFFF0, option::Indent | option::Durations, 0, logPath_);
  {
    CLogFunction outer(&Logger(), kManagerSource, L"Ns::CDiagnosticMgr::Diagnose", 1);
    outer.Log(2, kind::Info, L"in outer");
    {
      CLogFunction inner(&Logger(), kManagerSource, L"Helper", 3);
      clock_.Advance(12);
      inner.Log(4, kind::Info, L"in inner");
    }
    CLogFunction two(&Logger(), kManagerSource, L"CUtil::IsAdmin", 5);
  }
  const std::vector<std::wstring> expected = {
      L"(->) CDiagnosticMgr::Diagnose",
      L"(I0)   in outer",
      L"(->)   Helper",
      L"(I0)     in inner",
      L"(<-)   Helper (Dur: 12 ms) ",
      L"(->)   CUtil::IsAdmin",
      L"(<-)   CUtil::IsAdmin (Dur: 0 ms) ",
      L"(<-) CDiagnosticMgr::Diagnose (Dur: 12 ms) ",
  };
  EXPECT_EQ(Lines(), expected);
}

TEST_P(TraceLog, WithoutEntryAndExitKindsIndentationNeverChanges) {
  Configure(0x10, option::Indent, 0, logPath_);
  {
    CLogFunction outer(&Logger(), kManagerSource, L"A::B", 1);
    CLogFunction inner(&Logger(), kManagerSource, L"A::C", 1);
    inner.Log(2, kind::Info, L"flat");
  }
  EXPECT_EQ(Lines(), std::vector<std::wstring>{L"(I0) flat"});
}

TEST_P(TraceLog, DataIsNeverReadAsAFormat) {
  Configure(0x10, kPlainOptions, 0, logPath_);
  CLogFunction scope(&Logger(), kManagerSource, L"F", 1);
  const std::wstring name = L"Quvari 100%s %n %d %%";
  scope.Log(2, kind::Info, L"Scanner found : %s", name);
  scope.LogText(3, kind::Info, L"ready %s text");
  EXPECT_EQ(Lines(), (std::vector<std::wstring>{L"(I0) Scanner found : Quvari 100%s %n %d %%",
                                                L"(I0) ready %s text"}));
}

TEST_P(TraceLog, PerSourceOverrides) {
  Configure(0x10 | kind::Debug, kPlainOptions, 1, logPath_);
  const std::wstring overrideKey = exeKey_ + L"\\DiagnosticMgr.cpp";
  ASSERT_TRUE(kvd::test::PutDword(Registry(), kHkeyCurrentUser, overrideKey, L"LogCategories", 0));
  {
    CLogFunction manager(&Logger(), kManagerSource, L"M", 1);
    manager.Log(1, kind::Info, L"manager level 0");  // silenced
    manager.Log(1, kind::Debug, L"manager debug");   // silenced
    manager.Log(1, kind::Info | 1, L"manager level 1");
    CLogFunction other(&Logger(), kOtherSource, L"O", 1);
    other.Log(1, kind::Info, L"other level 0");
  }
  // The line's tags are those of (kind AND categories): with the override's categories 0xF the
  // level-1 record keeps no "(I1) " tag.
  EXPECT_EQ(Lines(), (std::vector<std::wstring>{L"manager level 1", L"(I0) other level 0"}));

  // A different file for the overridden source: its own file, with its own header and indentation.
  const std::wstring second = machine_->ScratchFolder() + L"\\second.log";
  ASSERT_TRUE(
      kvd::test::PutString(Registry(), kHkeyCurrentUser, overrideKey, L"LogFileName", second));
  // An override is re-read only when its key's last-write time moved forward: let the machine's
  // own time pass (the simulated clock advances at once, the real one waits 20 ms).
  machine_->Ports().clock.Sleep(20);
  ASSERT_TRUE(kvd::test::PutDword(Registry(), kHkeyCurrentUser, overrideKey, L"LogCategories",
                                  0x40000000u | 0x10u));
  clock_.Advance(31000);
  {
    CLogFunction manager(&Logger(), kManagerSource, L"M", 1);
    manager.Log(1, kind::Info, L"to the second file");
  }
  const auto lines = Lines(second);
  ASSERT_EQ(lines.size(), 7u);
  EXPECT_EQ(lines[0].rfind(L"(++) Module File Name: ", 0), 0u);
  EXPECT_EQ(lines[6], L"(I0) to the second file");
  EXPECT_EQ(Lines().size(), 2u);  // the defaults' file got nothing more
}

TEST_P(TraceLog, OverrideWithEmptyFileNameUsesTheDefaultsFile) {
  Configure(0x10, kPlainOptions, 0, logPath_);
  const std::wstring overrideKey = exeKey_ + L"\\diagnosticmgr.cpp";
  ASSERT_TRUE(kvd::test::PutString(Registry(), kHkeyCurrentUser, overrideKey, L"LogFileName", L""));
  ASSERT_TRUE(
      kvd::test::PutDword(Registry(), kHkeyCurrentUser, overrideKey, L"LogInfoDetailLevel", 2));
  CLogFunction manager(&Logger(), kManagerSource, L"M", 1);
  manager.Log(1, kind::Info | 2, L"level 2 from the manager");
  EXPECT_EQ(Lines(), std::vector<std::wstring>{L"(I2) level 2 from the manager"});
}

TEST_P(TraceLog, HeaderBlock) {
  Configure(0x40000010, kPlainOptions, 0, logPath_);
  CLogFunction scope(&Logger(), kManagerSource, L"F", 1);
  scope.Log(1, kind::Info, L"after the header");
  const auto lines = Lines();
  ASSERT_EQ(lines.size(), 7u);
  std::wstring exePath;
  kvd::platform::GrowAndRetry(exePath, [&](wchar_t* b, std::uint32_t c) {
    return ports_->process.GetModuleFileName(0, b, c);
  });
  EXPECT_EQ(lines[0].rfind(L"(++) Module File Name: " + exePath, 0), 0u);
  kvd::platform::FileAttributeData attributes;
  if (ports_->files.GetFileAttributesEx(exePath.c_str(), &attributes)) {
    EXPECT_EQ(lines[0], L"(++) Module File Name: " + exePath + L" (" +
                            std::to_wstring(static_cast<std::uint32_t>(attributes.fileSize)) +
                            L" bytes)");
  }
  EXPECT_EQ(lines[1], std::wstring(L"(++)     Command Line: ") + ports_->process.GetCommandLine());
  EXPECT_EQ(lines[2].rfind(L"(++)     File Version: ", 0), 0u);
  EXPECT_EQ(lines[3], L"(++)       Process ID: [" +
                          std::to_wstring(ports_->process.GetCurrentProcessId()) + L"] ");
  EXPECT_EQ(lines[4].rfind(L"(++)         Built on: ", 0), 0u);
  EXPECT_GT(lines[4].size(), 25u);
  EXPECT_TRUE(kvd::platform::EqualsNoCase(lines[5], L"(++)    Log File Name: <" + logPath_ + L">"))
      << kvd::platform::NarrowUtf8(lines[5]);
}

TEST_P(TraceLog, ResultCodeAtExitWritesItsErrorText) {
  Configure(0x20000000u | kind::Exit, kPlainOptions, 0, logPath_);
  { CLogFunction scope(&Logger(), kManagerSource, L"CUtil::ReadRegistryValue", 1, 2); }
  const auto lines = Lines();
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0], L"(<-) CUtil::ReadRegistryValue");
  // The system's own text for the code, without its line break (Wine words it differently).
  std::wstring message;
  kvd::platform::GrowAndRetry(message, [&](wchar_t* b, std::uint32_t c) {
    return ports_->errors.FormatMessage(2, kvd::platform::kLangNeutralSublangDefault, b, c);
  });
  ASSERT_GE(message.size(), 2u);
  EXPECT_EQ(message.substr(message.size() - 2), L"\r\n");
  message.resize(message.size() - 2);
  EXPECT_EQ(lines[1].rfind(L"(**) [Err: 0x00000002] " + message, 0), 0u)
      << kvd::platform::NarrowUtf8(lines[1]);
}

TEST_P(TraceLog, ExitWhileATranslatedExceptionIsAlive) {
  Configure(0xFFF0, option::Durations, 0, logPath_);
  {
    CLogFunction scope(&Logger(), kManagerSource, L"A::CKVDDriverIssue::Diagnose", 1);
    // Destroyed before the scope ends (reverse order of construction): a normal exit.
    VERidez::CAccessViolation gone(nullptr, false, nullptr);
    clock_.Advance(3);
  }
  std::optional<VERidez::CAccessViolation> pending;
  {
    CLogFunction scope(&Logger(), kManagerSource, L"A::CKVDDriverIssue::Fix", 1);
    pending.emplace(nullptr, false, nullptr);
    clock_.Advance(4);
  }
  pending.reset();
  const auto lines = Lines();
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_EQ(lines[1], L"(<-) CKVDDriverIssue::Diagnose (Dur: 3 ms) ");
  EXPECT_EQ(lines[3],
            L"(<-) CKVDDriverIssue::Fix   *** UNHANDLED EXCEPTION PENDING *** (Dur: 4 ms) ");
  EXPECT_EQ(VERidez::CWin32Exception::LiveCount(), 0);
}

TEST_P(TraceLog, FaultWhileWritingDoesNotReachTheCaller) {
  Configure(0x10, kPlainOptions, 0, logPath_);
  CLogFunction scope(&Logger(), kManagerSource, L"F", 1);
  scope.Log(1, kind::Info, L"before");
  machine_->TakeDebugOutput();
  files_->faultOnWrite = true;
  EXPECT_NO_THROW(scope.Log(2, kind::Info, L"lost %d", 1));
  EXPECT_NO_THROW(scope.LogText(3, kind::Info, L"lost too"));
  files_->faultOnWrite = false;
  files_->throwBadAlloc = true;
  EXPECT_NO_THROW(scope.Log(4, kind::Info, L"lost quietly"));
  files_->throwBadAlloc = false;
  EXPECT_EQ(machine_->TakeDebugOutput(),
            (std::vector<std::wstring>{
                L"Exception Exit: InternalLogSimpleString (Access violation)\r\n",
                L"Exception Exit: InternalLogSimpleString (Access violation)\r\n"}));
  // The locks were released: the next record is written normally.
  scope.Log(5, kind::Info, L"after");
  EXPECT_EQ(Lines(), (std::vector<std::wstring>{L"(I0) before", L"(I0) after"}));
}

TEST_P(TraceLog, FileHeldExclusivelyElsewhere) {
  Configure(0x10, kPlainOptions, 0, logPath_);
  CLogFunction scope(&Logger(), kManagerSource, L"F", 1);
  scope.Log(1, kind::Info, L"first");
  auto& files = ports_->files;
  auto holder = kvd::platform::MakeUniqueFile(
      files, files.CreateFile(logPath_.c_str(), file::GenericWrite, 0, file::OpenExisting,
                              file::AttributeNormal));
  ASSERT_TRUE(holder.valid());
  machine_->TakeDebugOutput();
  const auto sleepsBefore = clock_.Sleeps().size();
  scope.Log(2, kind::Info, L"while held");
  const auto debug = Joined(machine_->TakeDebugOutput());
  EXPECT_EQ(debug.rfind(L"Unable to open log file:\r\n<", 0), 0u);
  EXPECT_NE(debug.find(L"qv_kvd.log>\r\n[Err: 0x00000020] "), std::wstring::npos);
  EXPECT_EQ(debug.substr(debug.size() - 2), L"\r\n");
  const auto sleeps = clock_.Sleeps();
  EXPECT_EQ(sleeps.size() - sleepsBefore, 2u);  // three attempts, two pauses of 30 ms
  EXPECT_EQ(sleeps.back(), 30u);

  holder.reset();
  scope.Log(3, kind::Info, L"after release");
  EXPECT_EQ(Lines(), (std::vector<std::wstring>{L"(I0) first", L"(I0) after release"}));
}

TEST_P(TraceLog, SizeLimitWithoutRollOver) {
  Configure(0x10, 1 /* KB */, 0, logPath_);
  CLogFunction scope(&Logger(), kManagerSource, L"F", 1);
  // Each line: "(I0) " + 45 characters + CR LF = 52 characters = 104 bytes.
  const std::wstring text(45, L'x');
  for (int i = 0; i < 12; ++i) scope.LogText(i + 1, kind::Info, text);
  const auto bytes = kvd::test::ReadWholeFile(ports_->files, logPath_);
  ASSERT_TRUE(bytes.has_value());
  const std::wstring all = kvd::test::DecodeUtf16(*bytes);
  // Ten lines make 1040 bytes, the first total at or over 1024; then the notice, and nothing else.
  const std::wstring notice = L"*** FILE SIZE LIMIT REACHED, LOGGING DISABLED FOR " +
                              Logger().ModuleName() + L" MODULE ***";
  ASSERT_EQ(all.size(), 10 * 52 + notice.size());
  EXPECT_EQ(all.substr(10 * 52), notice);
}

TEST_P(TraceLog, SizeLimitWithRollOverStartsAFreshTemporaryFile) {
  Configure(0x10, option::Truncate | option::UniqueName | 1, 0, logPath_);
  CLogFunction scope(&Logger(), kManagerSource, L"F", 1);
  const std::wstring text(45, L'y');
  scope.LogText(1, kind::Info, text);
  ASSERT_EQ(store_->logFiles.size(), 1u);
  const std::wstring first = store_->logFiles[0]->path;
  for (int i = 1; i < 11; ++i) scope.LogText(i + 1, kind::Info, text);
  const std::wstring second = store_->logFiles[0]->path;

  // Unique temporary names in the log folder, made from the configured name's first letters.
  for (const auto& path : {first, second}) {
    SCOPED_TRACE(kvd::platform::NarrowUtf8(path));
    EXPECT_TRUE(kvd::platform::EqualsNoCase(kvd::platform::PathRemoveFileSpec(path),
                                            machine_->ScratchFolder()));
    const std::wstring name = kvd::platform::ToLowerOrdinal(kvd::platform::PathFindFileName(path));
    EXPECT_EQ(name.rfind(L"qv_", 0), 0u);
    EXPECT_EQ(kvd::platform::PathFindExtension(name), L".tmp");
  }
  EXPECT_FALSE(kvd::platform::EqualsNoCase(first, second));
  const auto firstLines = Lines(first);
  ASSERT_EQ(firstLines.size(), 11u);  // ten lines, then the notice without a line break
  EXPECT_EQ(firstLines[10].rfind(L"*** FILE SIZE LIMIT REACHED", 0), 0u);
  EXPECT_EQ(Lines(second), std::vector<std::wstring>{L"(I0) " + text});
  EXPECT_TRUE(Lines(logPath_).empty());  // the configured name itself is never written
}

TEST_P(TraceLog, BadConfigurationValues) {
  auto& registry = Registry();
  struct Case {
    const char* name;
    std::function<void()> arrange;
    std::wstring expectedPath;  // where the record lands; empty: nowhere
  };
  const std::wstring unterminated = machine_->ScratchFolder() + L"\\unterminated.log";
  const std::wstring numbers = machine_->ScratchFolder() + L"\\numbers.log";
  const Case cases[] = {
      {"REG_SZ without terminator is read to its end",
       [&] {
         Configure(0x10, kPlainOptions, 0, L"");
         kvd::test::PutString(registry, kHkeyCurrentUser, exeKey_, L"LogFileName", unterminated,
                              false);
       },
       unterminated},
      {"two-byte REG_DWORD is ignored (categories stay 0xF: level 0 dropped)",
       [&] {
         Configure(0x10, kPlainOptions, 0, logPath_);
         kvd::test::PutValue(registry, kHkeyCurrentUser, exeKey_, L"LogCategories",
                             kvd::platform::regtype::Dword, {0x10, 0x00});
       },
       L""},
      {"REG_SZ where a number belongs is ignored",
       [&] {
         Configure(0x10, kPlainOptions, 0, numbers);
         kvd::test::PutString(registry, kHkeyCurrentUser, exeKey_, L"LogInfoDetailLevel", L"5");
       },
       numbers},
      {"LogFileName as REG_DWORD is ignored",
       [&] {
         Configure(0x10, kPlainOptions, 0, L"");
         kvd::test::DeleteValue(registry, kHkeyCurrentUser, exeKey_, L"LogFileName");
         kvd::test::PutDword(registry, kHkeyCurrentUser, exeKey_, L"LogFileName", 7);
       },
       L""},
  };
  int n = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    kvd::test::DeleteTree(registry, kHkeyCurrentUser, kRoot);
    c.arrange();
    logger_.reset();
    store_.reset();
    {
      CLogFunction scope(&Logger(), kManagerSource, L"F", ++n);
      scope.Log(1, kind::Info, L"record");
    }
    if (!c.expectedPath.empty()) {
      EXPECT_EQ(Lines(c.expectedPath), std::vector<std::wstring>{L"(I0) record"});
    } else {
      EXPECT_TRUE(Lines(logPath_).empty());
    }
  }
}

TEST_P(TraceLog, PathsThatCannotBeOpenedAreReportedOnTheDebuggerOutput) {
  struct Case {
    const char* name;
    std::wstring path;
  };
  const Case cases[] = {
      {"missing folder", machine_->ScratchFolder() + L"\\no such folder\\x.log"},
      {"variable that does not expand",
       machine_->ScratchFolder() + L"\\%KVD_NOT_SET_ANYWHERE%\\x.log"},
      {"longer than 260 characters",
       machine_->ScratchFolder() + L"\\" + std::wstring(300, L'n') + L".log"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Configure(0x10, kPlainOptions, 0, c.path);
    logger_.reset();
    store_.reset();
    machine_->TakeDebugOutput();
    CLogFunction scope(&Logger(), kManagerSource, L"F", 1);
    scope.Log(1, kind::Info, L"one");
    scope.Log(2, kind::Info, L"two");
    const auto debug = machine_->TakeDebugOutput();
    ASSERT_EQ(debug.size(), 2u);  // every record tries again
    EXPECT_EQ(debug[0].rfind(L"Unable to open log file:\r\n<", 0), 0u);
    EXPECT_TRUE(kvd::platform::EqualsNoCase(debug[0].substr(27, c.path.size()), c.path));
  }
}

TEST_P(TraceLog, NoConfigurationKeyWritesNothing) {
  CLogFunction scope(&Logger(), kManagerSource, L"F", 1);
  scope.Log(1, kind::Info | 1, L"passes the mask, fails the level");
  scope.Log(2, kind::Error, L"masked");
  EXPECT_TRUE(machine_->TakeDebugOutput().empty());
}

TEST_P(TraceLog, StoreLockHeldElsewhereDropsTheRecordSilently) {
  Configure(0x10, kPlainOptions, 0, logPath_);
  CLogFunction scope(&Logger(), kManagerSource, L"F", 1);
  scope.Log(1, kind::Info, L"first");
  std::atomic<bool> held{false};
  std::atomic<bool> answered{false};
  std::atomic<bool> done{false};
  std::thread holder([&] {
    held = store_->Lock(1000);
    answered = true;
    while (held && !done) std::this_thread::yield();
    if (held) store_->Unlock();
  });
  while (!answered) std::this_thread::yield();
  if (!held) {
    holder.join();
    FAIL() << "the holder could not take the store lock";
  }
  scope.Log(2, kind::Info, L"dropped after 50 ms");
  done = true;
  holder.join();
  scope.Log(3, kind::Info, L"third");
  EXPECT_EQ(Lines(), (std::vector<std::wstring>{L"(I0) first", L"(I0) third"}));
  EXPECT_TRUE(machine_->TakeDebugOutput().empty());
}

TEST_P(TraceLog, EightThreadsWritingAtOnce) {
  Configure(0xFFF0, option::Indent | option::ThreadId, 0, logPath_);
  auto& logger = Logger();
  constexpr int kThreads = 8;
  constexpr int kScopes = 25;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&logger, t] {
      for (int i = 0; i < kScopes; ++i) {
        CLogFunction scope(&logger, kOtherSource, L"Worker::Run", t);
        scope.Log(10, kind::Info, L"thread %d record %d", t, i);
      }
    });
  }
  for (auto& thread : threads) thread.join();
  { CLogFunction last(&logger, kManagerSource, L"Main::Done", 1); }

  const auto lines = Lines();
  ASSERT_EQ(lines.size(), static_cast<std::size_t>(kThreads * kScopes * 3 + 2));
  std::vector<int> records(kThreads, 0);
  for (const auto& line : lines) {
    SCOPED_TRACE(kvd::platform::NarrowUtf8(line));
    ASSERT_EQ(line.rfind(L"{tid: 0x", 0), 0u);
    const std::size_t tag = line.find(L"} (");
    ASSERT_NE(tag, std::wstring::npos);
    const std::wstring rest = line.substr(tag + 7);
    const std::size_t text = rest.find_first_not_of(L' ');
    ASSERT_NE(text, std::wstring::npos);
    EXPECT_EQ(text % 2, 0u);  // whole indentation steps only
    const std::wstring body = rest.substr(text);
    if (body.rfind(L"thread ", 0) == 0) {
      const int t = body[7] - L'0';
      ASSERT_GE(t, 0);
      ASSERT_LT(t, kThreads);
      EXPECT_EQ(body, L"thread " + std::to_wstring(t) + L" record " + std::to_wstring(records[t]));
      ++records[t];
    } else {
      EXPECT_TRUE(body == L"Worker::Run" || body == L"Main::Done");
    }
  }
  for (int t = 0; t < kThreads; ++t) EXPECT_EQ(records[t], kScopes);
  // Every scope closed: the last scope's lines stand at the left margin again.
  EXPECT_EQ(lines.back().substr(lines.back().find(L"} (") + 7), L"Main::Done");
}

INSTANTIATE_TEST_SUITE_P(All, TraceLog, ::testing::ValuesIn(kvd::test::AllTargets()),
                         kvd::test::TargetName());

TEST(LogSourceFile, KeepsTheLowerCasedLastComponent) {
  struct Case {
    const char* path;
    const wchar_t* name;
  };
  const Case cases[] = {
      {".\\DiagnosticMgr.cpp", L"diagnosticmgr.cpp"},
      {"C:\\src\\engine\\KVDIssue.CPP", L"kvdissue.cpp"},
      {"/work/main/issues/KVDConnectionIssue.cpp", L"kvdconnectionissue.cpp"},
      {"Plain.cpp", L"plain.cpp"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path);
    EXPECT_EQ(CLogSourceFile(c.path).Name(), c.name);
  }
}

TEST(Win32Exception, DescriptionsAndTheLiveCountAcrossThreads) {
  EXPECT_EQ(VERidez::CWin32Exception(0xC0000005u, nullptr).Description(), L"Access violation");
  EXPECT_EQ(VERidez::CWin32Exception(0xC0000094u, nullptr).Description(), L"Division by zero");
  EXPECT_EQ(VERidez::CWin32Exception(0xC00000FDu, nullptr).Description(), L"Win32 exception");
  const VERidez::CAccessViolation violation(nullptr, true, nullptr);
  EXPECT_STREQ(violation.what(), "Access violation");
  EXPECT_TRUE(violation.IsWrite());
  EXPECT_EQ(VERidez::CWin32Exception::LiveCount(), 1);

  std::vector<std::thread> threads;
  for (int t = 0; t < 8; ++t) {
    threads.emplace_back([] {
      for (int i = 0; i < 2000; ++i) {
        VERidez::CWin32Exception first(1, nullptr);
        VERidez::CWin32Exception copy(first);  // copies count too
      }
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(VERidez::CWin32Exception::LiveCount(), 1);
}

}  // namespace
