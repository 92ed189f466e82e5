// The environment, process, clock, error-text, debug-output, mutex and event ports as the program
// relies on them, checked on every target: the simulated machine natively, Windows under Wine.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <future>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "platform/api/Handles.h"
#include "platform/api/Text.h"
#include "tests/support/TestMachine.h"

namespace kvd::platform {
namespace {

class SystemContract : public ::testing::TestWithParam<test::TargetFactory> {
 protected:
  void SetUp() override { machine_ = GetParam().make(); }

  Platform& ports() { return machine_->Ports(); }

  // A name no other machine of this or another run uses at the same time.
  std::wstring UniqueName(const wchar_t* stem) {
    static std::atomic<unsigned> made{0};
    return stem + std::to_wstring(ports().process.GetCurrentProcessId()) + L"_" +
           std::to_wstring(++made);
  }

  std::wstring ModulePath() {
    wchar_t path[1024] = {};
    const std::uint32_t chars =
        ports().process.GetModuleFileName(0, path, static_cast<std::uint32_t>(std::size(path)));
    return std::wstring(path, chars < std::size(path) ? chars : 0);
  }

  std::unique_ptr<test::TestMachine> machine_;
};

// ExpandEnvironmentStrings replaces defined %NAME%s (names in any case), leaves undefined ones
// and lone '%' as they are, and answers the characters needed with the NUL, also when the buffer
// is too small.
TEST_P(SystemContract, EnvironmentExpansion) {
  IEnvironment& environment = ports().environment;
  const std::wstring name = UniqueName(L"KVDX");
  const std::wstring other = UniqueName(L"KVDY");
  const std::wstring undefined = UniqueName(L"KVDU");
  ASSERT_TRUE(environment.SetEnvironmentVariable(name.c_str(), L"C:\\Quvari"));
  ASSERT_TRUE(environment.SetEnvironmentVariable(other.c_str(), L"QS"));
  struct Case {
    const char* name;
    std::wstring source;
    std::wstring expected;
  };
  const Case cases[] = {
      {"Defined", L"%" + name + L"%\\logs", L"C:\\Quvari\\logs"},
      {"NameInOtherCase", L"%" + ToLowerOrdinal(name) + L"%", L"C:\\Quvari"},
      {"TwoInARow", L"%" + name + L"%%" + other + L"%", L"C:\\QuvariQS"},
      {"Undefined", L"%" + undefined + L"%\\x", L"%" + undefined + L"%\\x"},
      {"LonePercent", L"100% done", L"100% done"},
      {"TrailingPercent", L"50%", L"50%"},
      {"EmptyName", L"%%", L"%%"},
      {"Plain", L"", L""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    wchar_t out[256] = {};
    const std::uint32_t chars = environment.ExpandEnvironmentStrings(
        c.source.c_str(), out, static_cast<std::uint32_t>(std::size(out)));
    EXPECT_EQ(chars, c.expected.size() + 1);
    EXPECT_EQ(std::wstring(out), c.expected);
  }

  const std::wstring source = L"%" + name + L"%\\logs";
  const auto needed = static_cast<std::uint32_t>(std::wstring(L"C:\\Quvari\\logs").size() + 1);
  wchar_t small[8] = {};
  EXPECT_EQ(environment.ExpandEnvironmentStrings(source.c_str(), small, 8), needed);
  std::vector<wchar_t> exact(needed);
  EXPECT_EQ(environment.ExpandEnvironmentStrings(source.c_str(), exact.data(), needed), needed);
  EXPECT_EQ(std::wstring(exact.data()), L"C:\\Quvari\\logs");

  ASSERT_TRUE(environment.SetEnvironmentVariable(name.c_str(), nullptr));
  ASSERT_TRUE(environment.SetEnvironmentVariable(other.c_str(), nullptr));
  wchar_t out[256] = {};
  environment.ExpandEnvironmentStrings(source.c_str(), out, 256);
  EXPECT_EQ(std::wstring(out), source);
}

void InsideThisExecutable() {}

// The executable's path, command line, module handle and module list agree with each other; a
// short buffer gets the path cut, the buffer size answered and ERROR_INSUFFICIENT_BUFFER.
TEST_P(SystemContract, ProcessKnowsItsExecutable) {
  IProcess& process = ports().process;
  const std::wstring path = ModulePath();
  ASSERT_GT(path.size(), 7u);
  EXPECT_EQ(path.substr(1, 2), L":\\") << NarrowUtf8(path);
  EXPECT_TRUE(EqualsNoCase(PathFindExtension(path), L".exe")) << NarrowUtf8(path);

  wchar_t cut[5] = {};
  EXPECT_EQ(process.GetModuleFileName(0, cut, 5), 5u);
  EXPECT_EQ(ports().errors.GetLastError(), err::InsufficientBuffer);
  EXPECT_EQ(std::wstring(cut, 4), path.substr(0, 4));

  const std::wstring commandLine = process.GetCommandLine();
  EXPECT_NE(ToLowerOrdinal(commandLine).find(ToLowerOrdinal(PathFindFileName(path))),
            std::wstring::npos)
      << NarrowUtf8(commandLine);
  EXPECT_NE(process.GetCurrentProcessId(), 0u);

  ModuleHandle self = 0;
  ASSERT_TRUE(process.GetModuleHandleEx(modflag::FromAddress | modflag::UnchangedRefcount,
                                        reinterpret_cast<const void*>(&InsideThisExecutable),
                                        &self));
  wchar_t selfPath[1024] = {};
  const std::uint32_t chars =
      process.GetModuleFileName(self, selfPath, static_cast<std::uint32_t>(std::size(selfPath)));
  EXPECT_EQ(std::wstring(selfPath, chars), path);

  std::uint32_t needed = 0;
  ModuleHandle first = 0;
  ASSERT_TRUE(process.EnumProcessModules(&first, sizeof first, &needed));
  EXPECT_EQ(first, self);
  EXPECT_EQ(needed % sizeof(ModuleHandle), 0u);
  EXPECT_GT(needed, sizeof(ModuleHandle));  // an executable never runs alone
}

// Thread ids are stable within a thread and differ between threads; the last error is per
// thread, and a new thread starts with none.
TEST_P(SystemContract, ThreadsHaveTheirOwnIdsAndLastErrors) {
  IProcess& process = ports().process;
  IErrors& errors = ports().errors;
  const std::uint32_t mainId = process.GetCurrentThreadId();
  EXPECT_NE(mainId, 0u);
  EXPECT_EQ(process.GetCurrentThreadId(), mainId);
  // The main thread sets its error while the other thread runs, and reads it back before the
  // thread is joined: starting and joining threads are calls that may set it themselves. Only
  // spinning on atomics happens in between.
  std::atomic<int> step{0};
  auto await = [&step](int value) {
    while (step.load() != value) {
    }
  };
  std::uint32_t otherId = 0;
  std::uint32_t otherAgain = 0;
  std::uint32_t initialError = 0xDEAD;
  std::uint32_t ownError = 0;
  std::thread other([&] {
    await(1);
    otherId = process.GetCurrentThreadId();
    initialError = errors.GetLastError();
    errors.SetLastError(err::AccessDenied);
    ownError = errors.GetLastError();
    otherAgain = process.GetCurrentThreadId();
    step.store(2);
    await(3);
  });
  errors.SetLastError(1234);
  step.store(1);
  await(2);
  const std::uint32_t mainError = errors.GetLastError();
  step.store(3);
  other.join();
  EXPECT_EQ(mainError, 1234u);
  EXPECT_NE(otherId, 0u);
  EXPECT_NE(otherId, mainId);
  EXPECT_EQ(otherAgain, otherId);
  EXPECT_EQ(initialError, 0u);
  EXPECT_EQ(ownError, err::AccessDenied);

  // Two threads alive at the same time never share an id.
  std::uint32_t ids[2] = {};
  std::promise<void> read[2];
  std::promise<void> done;
  std::shared_future<void> end = done.get_future().share();
  std::vector<std::thread> threads;
  for (int i = 0; i < 2; ++i) {
    threads.emplace_back([&, i] {
      ids[i] = process.GetCurrentThreadId();
      read[i].set_value();
      end.wait();
    });
  }
  for (auto& r : read) r.get_future().wait();
  done.set_value();
  for (auto& t : threads) t.join();
  EXPECT_NE(ids[0], ids[1]);
}

std::wstring TableKey(const std::uint8_t* translation) {
  char text[16];
  std::snprintf(text, sizeof text, "%02x%02x%02x%02x", translation[1], translation[0],
                translation[3], translation[2]);
  return WidenUtf8(text);
}

// The running executable's version resource reads in the two steps the program uses, and
// VerQueryValue finds its fixed part, its translations and a string of the first translation.
TEST_P(SystemContract, VersionInfoOfTheRunningExecutable) {
  IProcess& process = ports().process;
  const std::wstring path = ModulePath();
  const std::uint32_t size = process.GetFileVersionInfoSize(path.c_str());
  if (size == 0) GTEST_SKIP() << "this executable has no version resource";
  std::vector<std::uint8_t> block(size);
  ASSERT_TRUE(process.GetFileVersionInfo(path.c_str(), size, block.data()));

  const std::uint8_t* value = nullptr;
  std::uint32_t length = 0;
  ASSERT_TRUE(process.VerQueryValue(block.data(), L"\\", &value, &length));
  ASSERT_GE(length, 52u);
  std::uint32_t signature = 0;
  std::memcpy(&signature, value, sizeof signature);
  EXPECT_EQ(signature, 0xFEEF04BDu);

  ASSERT_TRUE(process.VerQueryValue(block.data(), L"\\VarFileInfo\\Translation", &value, &length));
  ASSERT_GE(length, 4u);
  EXPECT_EQ(length % 4, 0u);
  const std::wstring table = L"\\StringFileInfo\\" + TableKey(value) + L"\\";

  ASSERT_TRUE(
      process.VerQueryValue(block.data(), (table + L"FileVersion").c_str(), &value, &length))
      << NarrowUtf8(table);
  ASSERT_GE(length, 2u);  // characters, with the NUL
  const std::wstring text = FromUtf16Bytes(value, length * 2);
  EXPECT_EQ(text.size() + 1, length);
  EXPECT_FALSE(text.empty());
  EXPECT_FALSE(
      process.VerQueryValue(block.data(), (table + L"NoSuchKvdValue").c_str(), &value, &length));
}

// The tick, the performance counter and the calendar move forward; Sleep lets time pass.
TEST_P(SystemContract, ClockMovesForward) {
  IClock& clock = ports().clock;
  std::int64_t frequency = 0;
  ASSERT_TRUE(clock.QueryPerformanceFrequency(&frequency));
  EXPECT_GT(frequency, 0);
  std::int64_t before = 0;
  ASSERT_TRUE(clock.QueryPerformanceCounter(&before));
  const std::uint32_t tickBefore = clock.GetTickCount();
  clock.Sleep(20);
  std::int64_t after = 0;
  ASSERT_TRUE(clock.QueryPerformanceCounter(&after));
  EXPECT_GT(after, before);
  const std::uint32_t elapsed = clock.GetTickCount() - tickBefore;  // wraps correctly
  EXPECT_GT(elapsed, 0u);
  EXPECT_LT(elapsed, 3600u * 1000u);

  CalendarTime now;
  ASSERT_TRUE(clock.GetLocalCalendarTime(&now));
  EXPECT_GE(now.year, 2020);
  EXPECT_TRUE(now.month >= 1 && now.month <= 12);
  EXPECT_TRUE(now.day >= 1 && now.day <= 31);
  EXPECT_TRUE(now.hour >= 0 && now.hour < 24 && now.minute >= 0 && now.minute < 60);
  EXPECT_TRUE(now.second >= 0 && now.second < 61);
}

// System texts end with "\r\n" (the log trims them); a code without one fails with
// ERROR_MR_MID_NOT_FOUND, a buffer too small with ERROR_INSUFFICIENT_BUFFER.
TEST_P(SystemContract, FormatMessageGivesSystemTexts) {
  IErrors& errors = ports().errors;
  for (const std::uint32_t code : {err::FileNotFound, err::AccessDenied}) {
    SCOPED_TRACE(code);
    wchar_t text[512] = {};
    const std::uint32_t chars = errors.FormatMessage(code, kLangNeutralSublangDefault, text,
                                                     static_cast<std::uint32_t>(std::size(text)));
    ASSERT_GT(chars, 2u);
    const std::wstring message(text);
    EXPECT_EQ(message.size(), chars);
    EXPECT_EQ(message.substr(message.size() - 2), L"\r\n");
    wchar_t small[4] = {};
    EXPECT_EQ(errors.FormatMessage(code, kLangNeutralSublangDefault, small, 4), 0u);
    EXPECT_EQ(errors.GetLastError(), err::InsufficientBuffer);
  }
  wchar_t text[512] = {};
  EXPECT_EQ(errors.FormatMessage(0x2000FFFFu, kLangNeutralSublangDefault, text, 512), 0u);
  EXPECT_EQ(errors.GetLastError(), err::MrMidNotFound);
}

// The recorder on every target keeps the texts in order, each once.
TEST_P(SystemContract, DebugOutputReachesTheRecorder) {
  ports().debug.OutputDebugString(L"Kavid: probe 1\r\n");
  ports().debug.OutputDebugString(L"");
  EXPECT_EQ(machine_->TakeDebugOutput(), (std::vector<std::wstring>{L"Kavid: probe 1\r\n", L""}));
  EXPECT_TRUE(machine_->TakeDebugOutput().empty());
}

// A real thread that takes a mutex and keeps it until told to let go (or to end without
// releasing it).
class MutexHolder {
 public:
  MutexHolder(ISync& sync, SyncHandle handle, bool releaseAtEnd) {
    std::future<std::uint32_t> acquired = acquired_.get_future();
    std::future<void> finish = finish_.get_future();
    thread_ =
        std::thread([&sync, handle, releaseAtEnd, finish = std::move(finish), this]() mutable {
          acquired_.set_value(sync.WaitForSingleObject(handle, wait::Infinite));
          finish.wait();
          if (releaseAtEnd) released_ = sync.ReleaseMutex(handle);
        });
    acquiredResult_ = acquired.get();
  }
  ~MutexHolder() { Finish(); }
  MutexHolder(const MutexHolder&) = delete;
  MutexHolder& operator=(const MutexHolder&) = delete;

  std::uint32_t Acquired() const { return acquiredResult_; }
  bool Finish() {
    if (thread_.joinable()) {
      finish_.set_value();
      thread_.join();
    }
    return released_;
  }

 private:
  std::promise<std::uint32_t> acquired_;
  std::promise<void> finish_;
  std::uint32_t acquiredResult_ = wait::Failed;
  bool released_ = false;
  std::thread thread_;
};

// A mutex is recursive for its owner and must be released as often as it was taken; nobody
// else can release it.
TEST_P(SystemContract, MutexIsRecursiveForItsOwnerOnly) {
  ISync& sync = ports().sync;
  UniqueSync mutex = MakeUniqueSync(sync, sync.CreateMutex(false, nullptr));
  ASSERT_TRUE(mutex.valid());
  EXPECT_EQ(sync.WaitForSingleObject(mutex.get(), 0), wait::Object0);
  EXPECT_EQ(sync.WaitForSingleObject(mutex.get(), 0), wait::Object0);

  bool releasedByOther = true;
  std::uint32_t otherError = 0;
  std::thread([&] {
    releasedByOther = sync.ReleaseMutex(mutex.get());
    otherError = ports().errors.GetLastError();
  }).join();
  EXPECT_FALSE(releasedByOther);
  EXPECT_EQ(otherError, 288u);  // ERROR_NOT_OWNER

  EXPECT_TRUE(sync.ReleaseMutex(mutex.get()));
  EXPECT_TRUE(sync.ReleaseMutex(mutex.get()));
  EXPECT_FALSE(sync.ReleaseMutex(mutex.get()));
  EXPECT_EQ(ports().errors.GetLastError(), 288u);
}

// A named mutex is one object for every handle to it: while another thread holds it, a wait
// through another handle times out; once released it is had at once.
TEST_P(SystemContract, NamedMutexHeldByAnotherThreadTimesOut) {
  ISync& sync = ports().sync;
  const std::wstring name = UniqueName(L"KvdContractMutex_");
  UniqueSync first = MakeUniqueSync(sync, sync.CreateMutex(false, name.c_str()));
  ASSERT_TRUE(first.valid());
  UniqueSync second = MakeUniqueSync(sync, sync.CreateMutex(true, name.c_str()));
  ASSERT_TRUE(second.valid());
  EXPECT_EQ(ports().errors.GetLastError(), err::AlreadyExists);

  MutexHolder holder(sync, first.get(), true);
  ASSERT_EQ(holder.Acquired(), wait::Object0);  // the second open did not take ownership
  EXPECT_EQ(sync.WaitForSingleObject(second.get(), 50), wait::Timeout);
  EXPECT_TRUE(holder.Finish());
  EXPECT_EQ(sync.WaitForSingleObject(second.get(), 50), wait::Object0);
  EXPECT_TRUE(sync.ReleaseMutex(second.get()));
}

// A mutex whose owner thread ended without releasing it is abandoned: the next wait says so
// and owns it.
TEST_P(SystemContract, MutexOfAnEndedThreadIsAbandoned) {
  ISync& sync = ports().sync;
  UniqueSync mutex = MakeUniqueSync(sync, sync.CreateMutex(false, nullptr));
  ASSERT_TRUE(mutex.valid());
  {
    MutexHolder holder(sync, mutex.get(), false);
    ASSERT_EQ(holder.Acquired(), wait::Object0);
  }
  EXPECT_EQ(sync.WaitForSingleObject(mutex.get(), 50), wait::Abandoned);
  EXPECT_TRUE(sync.ReleaseMutex(mutex.get()));
  EXPECT_EQ(sync.WaitForSingleObject(mutex.get(), 0), wait::Object0);
  EXPECT_TRUE(sync.ReleaseMutex(mutex.get()));
}

// Set, reset and zero-time waits on one thread, as a script: 'S' SetEvent, 'R' ResetEvent, 'O' a
// wait that gets the event, 'T' one that times out. An auto-reset event lets one wait through per
// signal however often it was set; a manual-reset one stays set until reset.
TEST_P(SystemContract, EventsResetAutomaticallyOrByHand) {
  ISync& sync = ports().sync;
  struct Case {
    const char* name;
    bool manualReset;
    bool initialState;
    const char* script;
  };
  const Case cases[] = {
      {"AutoInitiallySet", false, true, "OTSOTSSOTSRT"},
      {"AutoInitiallyUnset", false, false, "TTSOT"},
      {"ManualInitiallySet", true, true, "OORTT"},
      {"ManualInitiallyUnset", true, false, "TSOOORTSSRT"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    UniqueSync event =
        MakeUniqueSync(sync, sync.CreateEvent(c.manualReset, c.initialState, nullptr));
    ASSERT_TRUE(event.valid());
    int step = 0;
    for (const char* op = c.script; *op != '\0'; ++op, ++step) {
      SCOPED_TRACE("step " + std::to_string(step) + " '" + std::string(1, *op) + "'");
      switch (*op) {
        case 'S':
          EXPECT_TRUE(sync.SetEvent(event.get()));
          break;
        case 'R':
          EXPECT_TRUE(sync.ResetEvent(event.get()));
          break;
        case 'O':
          EXPECT_EQ(sync.WaitForSingleObject(event.get(), 0), wait::Object0);
          break;
        case 'T':
          EXPECT_EQ(sync.WaitForSingleObject(event.get(), 0), wait::Timeout);
          break;
        default:
          ADD_FAILURE() << "no such step";
          break;
      }
    }
  }
}

// A named event is one object for every handle to it: a second CreateEvent opens it as it is
// (its arguments ignored) with ERROR_ALREADY_EXISTS, OpenEvent finds it, and it is gone once
// the last handle is closed.
TEST_P(SystemContract, NamedEventIsOneObject) {
  ISync& sync = ports().sync;
  IErrors& errors = ports().errors;
  const std::wstring name = UniqueName(L"KvdContractEvent_");
  errors.SetLastError(err::AlreadyExists);
  UniqueSync first = MakeUniqueSync(sync, sync.CreateEvent(false, false, name.c_str()));
  ASSERT_TRUE(first.valid());
  EXPECT_EQ(errors.GetLastError(), err::Success);
  UniqueSync second = MakeUniqueSync(sync, sync.CreateEvent(true, true, name.c_str()));
  ASSERT_TRUE(second.valid());
  EXPECT_EQ(errors.GetLastError(), err::AlreadyExists);
  EXPECT_NE(second.get(), first.get());
  EXPECT_EQ(sync.WaitForSingleObject(second.get(), 0), wait::Timeout);  // not set by the open

  ASSERT_TRUE(sync.SetEvent(first.get()));
  EXPECT_EQ(sync.WaitForSingleObject(second.get(), 0), wait::Object0);
  EXPECT_EQ(sync.WaitForSingleObject(first.get(), 0), wait::Timeout);  // still auto-reset

  UniqueSync opened = MakeUniqueSync(sync, sync.OpenEvent(name.c_str()));
  ASSERT_TRUE(opened.valid());
  ASSERT_TRUE(sync.SetEvent(opened.get()));
  EXPECT_EQ(sync.WaitForSingleObject(first.get(), 0), wait::Object0);

  first.reset();
  second.reset();
  opened.reset();
  EXPECT_EQ(sync.OpenEvent(name.c_str()), 0u);
  EXPECT_EQ(errors.GetLastError(), err::FileNotFound);
}

// OpenEvent of a name nobody made fails with ERROR_FILE_NOT_FOUND; mutexes and events share one
// namespace, and a name or handle of the other kind is refused as an invalid handle.
TEST_P(SystemContract, EventNamesAndHandlesOfTheWrongKind) {
  ISync& sync = ports().sync;
  IErrors& errors = ports().errors;
  EXPECT_EQ(sync.OpenEvent(UniqueName(L"KvdNoSuchEvent_").c_str()), 0u);
  EXPECT_EQ(errors.GetLastError(), err::FileNotFound);

  const std::wstring mutexName = UniqueName(L"KvdContractMutex_");
  UniqueSync mutex = MakeUniqueSync(sync, sync.CreateMutex(false, mutexName.c_str()));
  ASSERT_TRUE(mutex.valid());
  EXPECT_EQ(sync.CreateEvent(false, false, mutexName.c_str()), 0u);
  EXPECT_EQ(errors.GetLastError(), err::InvalidHandle);
  EXPECT_EQ(sync.OpenEvent(mutexName.c_str()), 0u);
  EXPECT_EQ(errors.GetLastError(), err::InvalidHandle);
  EXPECT_FALSE(sync.SetEvent(mutex.get()));
  EXPECT_EQ(errors.GetLastError(), err::InvalidHandle);

  UniqueSync event = MakeUniqueSync(sync, sync.CreateEvent(true, false, nullptr));
  ASSERT_TRUE(event.valid());
  EXPECT_FALSE(sync.ReleaseMutex(event.get()));
  EXPECT_EQ(errors.GetLastError(), err::InvalidHandle);
}

// A wait for any of several events answers the lowest signalled index and takes only that
// auto-reset event; a closed handle fails the wait instead of passing for a timeout.
TEST_P(SystemContract, AWaitForAnyOfSeveralEvents) {
  ISync& sync = ports().sync;
  UniqueSync autoReset = MakeUniqueSync(sync, sync.CreateEvent(false, false, nullptr));
  UniqueSync manual = MakeUniqueSync(sync, sync.CreateEvent(true, false, nullptr));
  ASSERT_TRUE(autoReset.valid() && manual.valid());
  const SyncHandle both[] = {autoReset.get(), manual.get()};
  EXPECT_EQ(sync.WaitForMultipleObjects(2, both, false, 0), wait::Timeout);
  ASSERT_TRUE(sync.SetEvent(manual.get()));
  ASSERT_TRUE(sync.SetEvent(autoReset.get()));
  EXPECT_EQ(sync.WaitForMultipleObjects(2, both, false, 0), wait::Object0);
  EXPECT_EQ(sync.WaitForMultipleObjects(2, both, false, 0), wait::Object0 + 1);
  EXPECT_EQ(sync.WaitForMultipleObjects(2, both, false, 0), wait::Object0 + 1);  // stays set
  EXPECT_EQ(sync.WaitForSingleObject(autoReset.get(), 0), wait::Timeout);

  std::uint32_t result = wait::Failed;
  ASSERT_TRUE(sync.ResetEvent(manual.get()));
  std::thread waiter([&] { result = sync.WaitForMultipleObjects(2, both, false, wait::Infinite); });
  ASSERT_TRUE(sync.SetEvent(autoReset.get()));
  waiter.join();
  EXPECT_EQ(result, wait::Object0);

  const SyncHandle closed = manual.release();
  ASSERT_TRUE(sync.CloseHandle(closed));
  const SyncHandle stale[] = {autoReset.get(), closed};
  EXPECT_EQ(sync.WaitForMultipleObjects(2, stale, false, 0), wait::Failed);
  EXPECT_EQ(ports().errors.GetLastError(), err::InvalidHandle);
}

// A wait without end on another thread ends when the event is set, and an auto-reset event is
// then taken: set before or after the wait began, the waiter gets it exactly once.
TEST_P(SystemContract, AnotherThreadsWaitEndsWhenTheEventIsSet) {
  ISync& sync = ports().sync;
  UniqueSync event = MakeUniqueSync(sync, sync.CreateEvent(false, false, nullptr));
  ASSERT_TRUE(event.valid());
  std::uint32_t result = wait::Failed;
  std::thread waiter([&] { result = sync.WaitForSingleObject(event.get(), wait::Infinite); });
  ASSERT_TRUE(sync.SetEvent(event.get()));
  waiter.join();
  EXPECT_EQ(result, wait::Object0);
  EXPECT_EQ(sync.WaitForSingleObject(event.get(), 0), wait::Timeout);
}

// A process snapshot lists this process under its executable's file name; opened with the right
// to ask, it names its image; an id that runs nothing cannot be opened.
TEST_P(SystemContract, ProcessSnapshotAndOpen) {
  IProcess& process = ports().process;
  const std::uint32_t self = process.GetCurrentProcessId();
  const std::wstring module = ModulePath();
  const std::wstring exe = module.substr(module.find_last_of(L'\\') + 1);

  const SyncHandle snapshot = process.CreateProcessSnapshot();
  ASSERT_NE(snapshot, 0u) << ports().errors.GetLastError();
  ProcessEntry entry;
  std::size_t listed = 0;
  std::wstring selfName;
  for (bool more = process.Process32First(snapshot, &entry); more;
       more = process.Process32Next(snapshot, &entry)) {
    ++listed;
    if (entry.processId == self) selfName = entry.exeFile;
  }
  EXPECT_EQ(ports().errors.GetLastError(), err::NoMoreFiles);
  EXPECT_TRUE(process.CloseProcessHandle(snapshot));
  EXPECT_GE(listed, 1u);
  EXPECT_EQ(ToLowerOrdinal(selfName), ToLowerOrdinal(exe));

  const SyncHandle opened = process.OpenProcess(processaccess::QueryLimitedInformation, self);
  ASSERT_NE(opened, 0u) << ports().errors.GetLastError();
  std::wstring image;
  EXPECT_TRUE(process.QueryFullProcessImageName(opened, &image));
  EXPECT_EQ(ToLowerOrdinal(image), ToLowerOrdinal(module));
  EXPECT_TRUE(process.CloseProcessHandle(opened));

  EXPECT_EQ(process.OpenProcess(processaccess::Terminate, 0x7FFFFFF0u), 0u);
  EXPECT_EQ(ports().errors.GetLastError(), err::InvalidParameter);
}

INSTANTIATE_TEST_SUITE_P(All, SystemContract, ::testing::ValuesIn(test::AllTargets()),
                         test::TargetName());

}  // namespace
}  // namespace kvd::platform
