#!/usr/bin/env bash
# Builds kavid.exe and starts it under Wine on a demonstration machine: a prefix made fresh for
# every run, into which the given scenarios (default: four Quvari devices) are installed. On your
# display when there is one (close the window to end), else under Xvfb; either way a screenshot
# of the device list is saved and its path printed, with the trace log and the devices found.
#   bash scripts/run.sh [tests/scenarios/<name>.xml ...]
set -euo pipefail
cd "$(dirname "$0")/.."
root="$(pwd)"
scenarios=("$@")
[ ${#scenarios[@]} -eq 0 ] && scenarios=(tests/scenarios/usb-aio-composite.xml
  tests/scenarios/usb-lumeq.xml tests/scenarios/network-ostrel.xml tests/scenarios/network-aio.xml)
bash scripts/setup.sh
jobs="${KVD_JOBS:-2}"
cmake --preset native >/dev/null
cmake --build --preset native -j "$jobs" --target kvd_scenario_install >/dev/null
cmake --preset windows >/dev/null
cmake --build --preset windows -j "$jobs" --target kavid kvd_ui_driver >/dev/null

if [ -z "${KVD_RUN_DISPLAY:-}" ]; then
  # No display reachable: the same run on an X server of its own.
  if ! { [ -n "${DISPLAY:-}" ] && xdpyinfo >/dev/null 2>&1; }; then
    exec env KVD_RUN_DISPLAY=xvfb xvfb-run -a -s "-screen 0 1024x768x24" bash "$0" "${scenarios[@]}"
  fi
  KVD_RUN_DISPLAY=user
fi

export WINEPREFIX="$root/build/windows/demo-prefix"
# shellcheck source=scripts/wine-env.sh
source scripts/wine-env.sh "$root/build/windows"
wineserver -k </dev/null >/dev/null 2>&1 || true
# A fresh prefix: only the scenarios of this run are on the machine.
kvd_wine_fresh_prefix
kvd_wine_start
trap kvd_wine_stop EXIT
build/native/tools/native/kvd_scenario_install "${scenarios[@]}"
# shellcheck source=tests/e2e/ui.sh
source tests/e2e/ui.sh build/windows/tools/kvd_ui_driver.exe build/windows/app/strings

kvd_launch build/windows/app/kavid.exe
kvd_wait_host 60000
# The list is filled when the enumeration reports (a machine without devices shows its box).
for _ in $(seq 1 50); do
  [ -n "$(drv list-rows "$host" 1020)" ] && break
  sleep 0.1
done
sleep 0.5
shot="$root/build/windows/kavid-device-list.png"
if [ "$KVD_RUN_DISPLAY" = user ]; then
  # Only Wine's desktop window, not the rest of your screen.
  import -window "Default - Wine desktop" "$shot" 2>/dev/null || import -window root "$shot"
else
  bash tools/screenshot.sh "$shot"
fi
echo "The device list: $shot"

if [ "$KVD_RUN_DISPLAY" = user ]; then
  echo "kavid.exe runs on your display; close its window to end."
  kvd_wait_exit 86400000
else
  drv click "$host" 1006
  kvd_wait_exit 20000
fi

kvd_temp_folders
log="$temp_unix/qv_kvd.log"
echo "kavid.exe ended with $kavid_rc; its trace log is $temp_win\\qv_kvd.log"
echo "  (on this machine: $log)"
echo
echo "Devices found:"
iconv -f UTF-16LE -t UTF-8 "$log" | grep -E 'Scanner found|Found device' | sed 's/^.*) *//'
