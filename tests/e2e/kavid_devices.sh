#!/usr/bin/env bash
# Device discovery for real under Wine: the family scenarios installed into a fresh prefix, then
#   1. the Wine test executable's InstalledScenarios suite (enumeration and the connection check
#      against the real SetupAPI, registry, printers, INI files, known folders and ICMP), and
#   2. kavid.exe itself, whose window lists them and whose trace log must name them (under an X
#      server, xvfb-run).
#   tests/e2e/kavid_devices.sh <kavid.exe> <work folder> <kvd_scenario_install> <kvd_wine_tests.exe>
#                              <kvd_ui_driver.exe>
set -euo pipefail
exe="$(readlink -f "$1")"
work="$2"
installer="$(readlink -f "$3")"
wine_tests="$(readlink -f "$4")"
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
scenarios="$here/../scenarios"

[ -x "$installer" ] || { echo "FAIL: $installer is missing: build the native preset first"; exit 1; }

mkdir -p "$work"
# shellcheck source=tests/e2e/fresh-prefix.sh
source "$here/fresh-prefix.sh" "$work/devices-prefix"

"$installer" "$scenarios/usb-aio-composite.xml" "$scenarios/usb-tarvel.xml" \
  "$scenarios/usb-lumeq.xml" "$scenarios/network-lumeq.xml" "$scenarios/network-ostrel.xml" \
  "$scenarios/network-aio.xml"

(cd "$(dirname "$wine_tests")" &&
  KVD_SCENARIOS=1 wine "$wine_tests" --gtest_filter='InstalledScenarios.*' </dev/null) \
  >"$work/devices-suite.txt" 2>&1 || { cat "$work/devices-suite.txt"; echo "FAIL: InstalledScenarios"; exit 1; }
grep -q '\[  PASSED  \] 2 tests' "$work/devices-suite.txt" || {
  cat "$work/devices-suite.txt"; echo "FAIL: InstalledScenarios did not run both tests"; exit 1; }

# shellcheck source=tests/e2e/ui.sh
source "$here/ui.sh" "$5" "$(dirname "$exe")/strings"
kvd_launch "$exe"
kvd_wait_host
drv wait-control "$host" 1020 20000 >/dev/null
# The log names the devices once the list is filled.
for _ in $(seq 1 100); do
  [ "$(drv list-rows "$host" 1020 | grep -c . || true)" -ge 6 ] && break
  sleep 0.1
done
drv click "$host" 1006
kvd_wait_exit 20000
[ "$kavid_rc" = 0 ] || { echo "FAIL: kavid.exe ended with $kavid_rc after Cancel"; exit 1; }
kvd_temp_folders
python3 "$here/check_devices.py" "$temp_unix/qv_kvd.log"
