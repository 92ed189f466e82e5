// bench/: Google Benchmark programs (native). Each reports its goal as a ratio to a baseline
// measured in the same run, or as an absolute figure where the goal is one.
//
// The goals of every benchmark of this program are printed at the end (GoalReporter below).
//
// The trace log against the real file system: the logger's files, clock and locks are the
// native adapters; its registry and process facts come from the simulated machine.
#include <benchmark/benchmark.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <map>
#include <memory>
#include <string>

#include "logging/DUDiduzuz.h"
#include "platform/api/Handles.h"
#include "platform/api/Text.h"
#include "platform/native/NativePlatform.h"
#include "platform/sim/SimMachine.h"

namespace {

namespace kind = DUDiduzuz::kind;
namespace file = kvd::platform::file;
using kvd::platform::kHkeyCurrentUser;

// The start-up options, less the debugger copy (which would only measure the recorder).
constexpr std::uint32_t kCategories = 0x3F00FFF0;
constexpr std::uint32_t kOptions = 0x7FF80000 & ~DUDiduzuz::option::ToDebugger;

struct Bench {
  kvd::sim::SimMachine sim;
  kvd::native::NativeErrors errors;
  kvd::native::NativeFileSystem files{errors};
  kvd::native::NativeClock clock;
  kvd::native::NativeSync sync;
  kvd::platform::Platform ports = kvd::platform::Overridden(
      sim.Ports(), {.files = &files, .clock = &clock, .errors = &errors, .sync = &sync});
  std::wstring folder;
  std::wstring path;
  std::unique_ptr<DUDiduzuz::SettingsStore> store;
  std::unique_ptr<DUDiduzuz::CLogModule> logger;

  explicit Bench(std::uint32_t categories) {
    // Lower case only: the trace log lower-cases its path, as Windows names compare.
    static int instance = 0;
    folder = L"/tmp/kvdbench-" + std::to_wstring(getpid()) + L"-" + std::to_wstring(++instance);
    mkdir(kvd::native::ToNativePath(folder).c_str(), 0755);
    path = folder + L"/qv_kvd.log";
    const std::wstring key = L"Software\\QV\\NG\\Logging\\kavid.exe";
    auto& registry = sim.Registry();
    registry.PutDword(kHkeyCurrentUser, key, L"LogCategories", categories);
    registry.PutDword(kHkeyCurrentUser, key, L"LogOptions", kOptions);
    registry.PutDword(kHkeyCurrentUser, key, L"LogInfoDetailLevel", 0);
    registry.PutString(kHkeyCurrentUser, key, L"LogFileName", path);
    store = std::make_unique<DUDiduzuz::SettingsStore>(sync);
    logger = std::make_unique<DUDiduzuz::CLogModule>(ports, *store);
  }
  ~Bench() {
    logger.reset();
    std::remove(kvd::native::ToNativePath(path).c_str());
    rmdir(kvd::native::ToNativePath(folder).c_str());
  }
};

const DUDiduzuz::CLogSourceFile kSource(".\\DiagnosticMgr.cpp");

// The floor: open, append the same bytes a record line takes, close, through the same adapter.
void BM_RawOpenAppendClose(benchmark::State& state) {
  Bench bench(kCategories);
  const std::wstring line =
      L"20261210093005:0000007D0 (     2 ms) [4242] {tid: 0x1000} 0109: (DB)   "
      L"Filling up the issue list.\r\n";
  const auto bytes = kvd::platform::ToUtf16Bytes(line, false);
  for (auto _ : state) {
    auto handle = kvd::platform::MakeUniqueFile(
        bench.files, bench.files.CreateFile(bench.path.c_str(), file::GenericWrite, 0,
                                            file::OpenAlways, file::AttributeNormal));
    bench.files.SetFilePointer(handle.get(), 0, file::End);
    std::uint32_t written = 0;
    bench.files.WriteFile(handle.get(), bytes.data(), static_cast<std::uint32_t>(bytes.size()),
                          &written);
    benchmark::DoNotOptimize(written);
  }
}
BENCHMARK(BM_RawOpenAppendClose);

// One debug record of the same length written through a scope.
void BM_RecordWritten(benchmark::State& state) {
  Bench bench(kCategories);
  DUDiduzuz::CLogFunction scope(bench.logger.get(), kSource, L"CDiagnosticMgr::FillIssueList", 100);
  for (auto _ : state) scope.Log(109, kind::Debug, L"Filling up the issue list.");
  kvd::platform::FileAttributeData attributes;
  if (!bench.files.GetFileAttributesEx(bench.path.c_str(), &attributes) ||
      attributes.fileSize < static_cast<std::uint64_t>(state.iterations()) * 100u) {
    state.SkipWithError("the records did not reach the log file");
  }
}
BENCHMARK(BM_RecordWritten);

// A record that the filter drops (debug records masked off).
void BM_RecordDropped(benchmark::State& state) {
  Bench bench(kCategories & ~kind::Debug);
  DUDiduzuz::CLogFunction scope(bench.logger.get(), kSource, L"CDiagnosticMgr::FillIssueList", 100);
  scope.Log(1, kind::Info, L"starts the file once");
  for (auto _ : state) scope.Log(109, kind::Debug, L"Filling up the issue list %d.", 7);
}
BENCHMARK(BM_RecordDropped);

// The configuration poll when nothing changed: every record polls (interval 0 is not possible,
// so the simulated registry is read through a logger whose clock always looks past it).
class PastIntervalClock : public kvd::platform::IClock {
 public:
  std::uint32_t GetTickCount() override { return tick_ += 40000; }
  bool QueryPerformanceCounter(std::int64_t* c) override {
    return inner_.QueryPerformanceCounter(c);
  }
  bool QueryPerformanceFrequency(std::int64_t* f) override {
    return inner_.QueryPerformanceFrequency(f);
  }
  bool GetLocalCalendarTime(kvd::platform::CalendarTime* o) override {
    return inner_.GetLocalCalendarTime(o);
  }
  void Sleep(std::uint32_t ms) override { inner_.Sleep(ms); }

 private:
  kvd::native::NativeClock inner_;
  std::uint32_t tick_ = 0;
};

void BM_PollNothingChanged(benchmark::State& state) {
  Bench bench(kCategories & ~kind::Debug);
  PastIntervalClock clock;
  kvd::platform::Platform ports = kvd::platform::Overridden(bench.ports, {.clock = &clock});
  DUDiduzuz::SettingsStore store(bench.sync);
  DUDiduzuz::CLogModule logger(ports, store);
  DUDiduzuz::CLogFunction scope(&logger, kSource, L"CDiagnosticMgr::FillIssueList", 100);
  for (auto _ : state) scope.Log(109, kind::Debug, L"dropped after the poll");
}
BENCHMARK(BM_PollNothingChanged);

// Prints the goals as ratios once every benchmark has run.
class GoalReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    // The median of the repetitions where there are several, else the one run.
    for (const auto& run : runs) {
      const std::string name = run.run_name.function_name;
      if (run.run_type == Run::RT_Aggregate && run.aggregate_name == "median") {
        times_[name] = run.GetAdjustedRealTime();
        medians_[name] = true;
      } else if (run.run_type == Run::RT_Iteration && !medians_[name]) {
        times_[name] = run.GetAdjustedRealTime();
      }
    }
    ConsoleReporter::ReportRuns(runs);
  }
  void Finalize() override {
    ConsoleReporter::Finalize();
    const double raw = times_["BM_RawOpenAppendClose"];
    const double written = times_["BM_RecordWritten"];
    const double dropped = times_["BM_RecordDropped"];
    const double poll = times_["BM_PollNothingChanged"];
    std::printf("\nGoals (same run):\n");
    if (raw > 0) {
      std::printf("  record written / raw open-append-close: %.2f (goal <= 1.20)\n", written / raw);
    }
    if (dropped > 0) {
      std::printf("  record dropped by the filter: %.1f ns (goal <= 50 ns)\n", dropped);
    }
    if (poll > 0 && dropped > 0) {
      std::printf("  poll when nothing changed: %.0f ns, %.1f x a dropped record\n", poll,
                  poll / dropped);
    }
    if (times_.count("BM_LoadStrings") != 0) {
      // Reported in the benchmark's own unit (microseconds).
      std::printf("  LoadStrings of the English file: %.2f ms (goal <= 2 ms)\n",
                  times_["BM_LoadStrings"] / 1000.0);
    }
    if (times_.count("BM_EnumerateCrowdedMachine") != 0) {
      const double list = times_["BM_ListNodesOnly"];
      std::printf("  enumeration, 100 nodes and 200 printers: %.2f ms (goal <= 20 ms)",
                  times_["BM_EnumerateCrowdedMachine"] / 1000.0);
      if (list > 0) {
        std::printf(", %.1f x listing the nodes alone",
                    times_["BM_EnumerateCrowdedMachine"] / list);
      }
      std::printf("\n");
    }
    if (times_.count("BM_FullSimulatedRun") != 0) {
      std::printf("  full simulated run, ten instant checks: %.2f ms (goal <= 5 ms)\n",
                  times_["BM_FullSimulatedRun"] / 1000.0);
    }
    for (const char* family : {"AllInOne", "Tarvel", "Ostrel", "Lumeq"}) {
      const std::string name = std::string("BM_RealChecksRun/") + family;
      if (times_.count(name) != 0) {
        std::printf("  whole run of the real checks, %s: %.2f ms (goal <= 20 ms)\n", family,
                    times_[name] / 1000.0);
      }
    }
    if (times_.count("BM_GetString") != 0) {
      std::printf("  GetString: %.1f ns (goal <= 100 ns)\n", times_["BM_GetString"]);
    }
  }

 private:
  std::map<std::string, double> times_;
  std::map<std::string, bool> medians_;
};

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  GoalReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  return 0;
}
