#!/usr/bin/env bash
# Installs what is missing, builds every preset and runs every test tier:
# format and lint checks, native unit and contract tests (plain, ASan+UBSan, TSan), the Wine tier
# (contract and trace-log suites against the real Win32 adapters, kavid.exe smoke test), and the
# benchmarks' goal figures.
set -euo pipefail
cd "$(dirname "$0")/.."
root="$(pwd)"
jobs="${KVD_JOBS:-2}"
failed=0
passed_steps=0
failed_steps=0

step() { echo; echo "=== $* ==="; }
run_step() {
  local name="$1"; shift
  step "$name"
  if "$@"; then passed_steps=$((passed_steps + 1)); else failed_steps=$((failed_steps + 1)); failed=1; echo "FAILED: $name"; fi
}

bash scripts/setup.sh

sources() { git ls-files -co --exclude-standard '*.cpp' '*.h' | grep -v -E '^(build|out)/'; }

format_check() { sources | xargs clang-format --dry-run --Werror; }
run_step "clang-format" format_check

native() {
  local preset="$1"
  cmake --preset "$preset" >/dev/null &&
    cmake --build --preset "$preset" -j "$jobs" &&
    ctest --preset "$preset" -j "$jobs" --timeout 600
}
run_step "native" native native

tidy() {
  # The portable core's own sources, checked against the native compile database.
  git ls-files 'logging/*.cpp' 'platform/api/*.cpp' 'platform/sim/*.cpp' 'app/KavidApp.cpp' \
    'strings/*.cpp' 'system/*.cpp' 'discovery/*.cpp' 'engine/*.cpp' 'issues/*.cpp' 'repair/*.cpp' \
    'ui/*.cpp' |
    # (a pathspec's * crosses folders: the Win32 toolkit is not portable code)
    grep -v '^ui/win32/' |
    xargs -P "$jobs" -n 4 clang-tidy -p build/native --quiet --warnings-as-errors='*' 2>/dev/null
}
run_step "clang-tidy" tidy

run_step "native-asan" native native-asan
export TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1"
run_step "native-tsan" native native-tsan

windows() {
  cmake --preset windows >/dev/null && cmake --build --preset windows -j "$jobs" || return 1
  # shellcheck source=scripts/wine-env.sh
  source scripts/wine-env.sh "$root/build/windows"
  kvd_wine_start
  local rc=0
  ctest --preset windows --timeout 900 || rc=1
  kvd_wine_stop
  return $rc
}
run_step "windows (Wine tier)" windows

windows64() { cmake --preset windows64 >/dev/null && cmake --build --preset windows64 -j "$jobs"; }
run_step "windows64 (64-bit toolchain builds the Win32 layer)" windows64

bench() {
  build/native/bench/kvd_bench --benchmark_min_time=0.2 --benchmark_repetitions=3 \
    --benchmark_enable_random_interleaving=true --benchmark_report_aggregates_only=true
}
run_step "benchmarks (figures only)" bench

# A failure's names again at the end, where a shortened log still shows them.
if [ "$failed" -ne 0 ]; then
  for log in build/*/Testing/Temporary/LastTestsFailed.log; do
    [ -f "$log" ] || continue
    echo "failed in ${log%%/Testing/*}: $(tr '\n' ' ' <"$log")"
    grep -h "kvd watchdog:" "${log%/*}/LastTest.log" 2>/dev/null || true
  done
fi

echo
echo "steps: ${passed_steps} passed, ${failed_steps} failed"
exit $failed
