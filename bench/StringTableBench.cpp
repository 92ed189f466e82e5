// The string table: loading a real language file and looking a text up.
#include <benchmark/benchmark.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "platform/sim/SimMachine.h"
#include "strings/StringTable.h"

namespace {

struct Loaded {
  kvd::sim::SimMachine sim;
  CStringTable table{sim.Ports()};
  Loaded() {
    std::ifstream in(std::string(KVD_STRINGS_SOURCE_DIR) + "/1033.xml", std::ios::binary);
    std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(in)),
                                    std::istreambuf_iterator<char>());
    sim.Files().PutFile(L"C:\\Program Files (x86)\\Quvari\\Kavid\\strings\\1033.xml",
                        std::move(bytes));
    table.m_LangID = 1033;
  }
};

void BM_LoadStrings(benchmark::State& state) {
  Loaded loaded;
  for (auto _ : state) {
    if (!loaded.table.LoadStrings()) state.SkipWithError("the English file did not load");
  }
  state.counters["keys"] = static_cast<double>(loaded.table.Size());
}
BENCHMARK(BM_LoadStrings)->Unit(benchmark::kMicrosecond);

void BM_GetString(benchmark::State& state) {
  Loaded loaded;
  loaded.table.LoadStrings();
  const std::wstring key = L"SCAN_FLOW_NOT_FOUND_WIA_FAIL_TARVEL";
  for (auto _ : state) benchmark::DoNotOptimize(loaded.table.GetString(key));
}
BENCHMARK(BM_GetString);

}  // namespace
