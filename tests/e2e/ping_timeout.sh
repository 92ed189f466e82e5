#!/usr/bin/env bash
# The ping's timeout for real: the Wine test executable's SilentLoopback suite in a network
# namespace of its own, whose loopback is up but ignores echo requests. Wine opens sockets in
# its wineserver, so the server too must start inside the namespace. Needs root (CI is).
#   tests/e2e/ping_timeout.sh <kvd_wine_tests.exe> <work folder>
set -euo pipefail
wine_tests="$(readlink -f "$1")"
work="$(realpath -m "$2")"
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
if [ "${KVD_IN_SILENT_NAMESPACE:-}" != 1 ]; then
  mkdir -p "$work"
  KVD_IN_SILENT_NAMESPACE=1 unshare -n bash "${BASH_SOURCE[0]}" "$wine_tests" "$work" \
    >"$work/silent-suite.txt" 2>&1 || { cat "$work/silent-suite.txt"; exit 1; }
  grep -q '\[  PASSED  \] 2 tests' "$work/silent-suite.txt" || {
    cat "$work/silent-suite.txt"; echo "FAIL: SilentLoopback did not run both tests"; exit 1; }
  echo "an unanswered echo fails after its timeout"
  exit 0
fi

ip link set lo up
echo 1 >/proc/sys/net/ipv4/icmp_echo_ignore_all
# shellcheck source=tests/e2e/fresh-prefix.sh
source "$here/fresh-prefix.sh" "$work/silent-prefix"
cd "$(dirname "$wine_tests")"
KVD_SILENT_LOOPBACK=1 wine "$wine_tests" --gtest_filter="SilentLoopback.*" </dev/null
