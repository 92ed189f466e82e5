#!/usr/bin/env bash
# Device discovery for real under Wine: the family scenarios installed into a fresh prefix, then
#   1. the Wine test executable's InstalledScenarios suite (enumeration and the connection check
#      against the real SetupAPI, registry, printers, INI files, known folders and ICMP), and
#   2. kavid.exe itself, whose trace log must name the devices it found.
#   tests/e2e/kavid_devices.sh <kavid.exe> <work folder> <kvd_scenario_install> <kvd_wine_tests.exe>
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

wine "$exe" </dev/null >/dev/null 2>&1
kvd_temp_folders
python3 "$here/check_devices.py" "$temp_unix/qv_kvd.log"
