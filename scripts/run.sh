#!/usr/bin/env bash
# Builds kavid.exe and runs it under Wine on a demonstration machine: a prefix of its own into
# which the given scenarios (default: an all-in-one on USB and a Lumeq on the network) are
# installed. Prints where its trace log is, its first lines and the devices it found.
#   bash scripts/run.sh [tests/scenarios/<name>.xml ...]
set -euo pipefail
cd "$(dirname "$0")/.."
root="$(pwd)"
scenarios=("$@")
[ ${#scenarios[@]} -eq 0 ] && scenarios=(tests/scenarios/usb-aio-composite.xml tests/scenarios/network-lumeq.xml)
bash scripts/setup.sh
jobs="${KVD_JOBS:-2}"
cmake --preset native >/dev/null
cmake --build --preset native -j "$jobs" --target kvd_scenario_install >/dev/null
cmake --preset windows >/dev/null
cmake --build --preset windows -j "$jobs" --target kavid >/dev/null
export WINEPREFIX="$root/build/windows/demo-prefix"
source scripts/wine-env.sh "$root/build/windows"
kvd_wine_start
trap kvd_wine_stop EXIT
build/native/tools/native/kvd_scenario_install "${scenarios[@]}"
wine build/windows/app/kavid.exe </dev/null >/dev/null 2>&1
temp_win="$(wine cmd /c 'echo %TEMP%' </dev/null 2>/dev/null | tr -d '\r')"
log="$(winepath -u "$temp_win\\qv_kvd.log" </dev/null 2>/dev/null)"
echo "kavid.exe ran; its trace log is $temp_win\\qv_kvd.log"
echo "  (on this machine: $log)"
echo
iconv -f UTF-16LE -t UTF-8 "$log" | head -n 20
echo "..."
echo
echo "Devices found:"
iconv -f UTF-16LE -t UTF-8 "$log" | grep -E 'Scanner found|Found device' | sed 's/^.*) *//'
