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

export WINEPREFIX="$work/devices-prefix"
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" WINEARCH=win64
rm -rf "$WINEPREFIX"
mkdir -p "$work" "$WINEPREFIX"
# Output redirected: background Wine processes would otherwise hold our caller's pipes open.
wineserver -p </dev/null >/dev/null 2>&1 || true
trap 'wineserver -k </dev/null >/dev/null 2>&1 || true' EXIT
wineboot -i </dev/null >/dev/null 2>&1 || true

"$installer" "$scenarios/usb-aio-composite.xml" "$scenarios/usb-tarvel.xml" \
  "$scenarios/usb-lumeq.xml" "$scenarios/network-lumeq.xml" "$scenarios/network-ostrel.xml" \
  "$scenarios/network-aio.xml"

(cd "$(dirname "$wine_tests")" &&
  KVD_SCENARIOS=1 wine "$wine_tests" --gtest_filter='InstalledScenarios.*' </dev/null) \
  >"$work/devices-suite.txt" 2>&1 || { cat "$work/devices-suite.txt"; echo "FAIL: InstalledScenarios"; exit 1; }
grep -q '\[  PASSED  \] 2 tests' "$work/devices-suite.txt" || {
  cat "$work/devices-suite.txt"; echo "FAIL: InstalledScenarios did not run both tests"; exit 1; }

wine "$exe" </dev/null >/dev/null 2>&1
temp_win="$(wine cmd /c 'echo %TEMP%' </dev/null 2>/dev/null | tr -d '\r')"
temp_unix="$(winepath -u "$temp_win" </dev/null 2>/dev/null)"
python3 "$here/check_devices.py" "$temp_unix/qv_kvd.log"
