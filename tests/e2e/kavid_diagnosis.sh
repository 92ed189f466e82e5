#!/usr/bin/env bash
# kavid.exe's diagnosis page under Wine, driven by the UI driver: a run of an all-in-one device
# (the connection check passes, the device-manager check passes through the real 64-bit helper,
# the driver check fails on the missing scan-folder setting, the Windows scan fails on Wine's WIA,
# the TWAIN check scans through our data source, the registry and scan-flow checks find the suite's
# registration and scan flow in place, the Dashra hub and the monitor are not installed), Skip row
# by row to the summary, Retest, Back to a fresh device list. (Wine counts every device node as
# present, so a failing connection check is tested natively.) Runs under an X server (xvfb-run).
# The maker's technical-information tool and software-update client are our recorder
# (tools/fakes), installed where the suite's registry values say.
#   tests/e2e/kavid_diagnosis.sh <kavid.exe> <work folder> <kvd_scenario_install> <kvd_ui_driver.exe>
#                                <kvd_fake_recorder.exe> <sane.ds>
set -euo pipefail
exe="$(readlink -f "$1")"
work="$(realpath -m "$2")"
installer="$(readlink -f "$3")"
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
[ -x "$installer" ] || { echo "FAIL: $installer is missing: build the native preset first"; exit 1; }

mkdir -p "$work"
# shellcheck source=tests/e2e/fresh-prefix.sh
source "$here/fresh-prefix.sh" "$work/diagnosis-prefix"
# shellcheck source=tests/e2e/ui.sh
source "$here/ui.sh" "$4" "$(dirname "$exe")/strings"
# shellcheck source=tests/e2e/twain-setup.sh
source "$here/twain-setup.sh"
# With the Windows scan failed, a failing TWAIN check offers no Skip: the device's source works.
kvd_install_aio_suite "$installer" "$6" "$exe"
recorder="$(readlink -f "$5")"
suite="$WINEPREFIX/drive_c/Program Files (x86)/Quvari"
mkdir -p "$suite/Brevane/bin" "$suite/Update"
cp "$recorder" "$suite/Brevane/bin/qvtechinf.exe"
cp "$recorder" "$suite/Update/QVUpdater.exe"
status=0
fail() { echo "FAIL: $*"; status=1; }
shot() { [ -z "${KVD_SCREENSHOTS:-}" ] || bash "$here/../../tools/screenshot.sh" "$KVD_SCREENSHOTS/$1"; }

kvd_launch "$exe"
kvd_wait_host
for _ in $(seq 1 100); do [ -n "$(drv list-rows "$host" 1020)" ] && break; sleep 0.1; done
device_rows="$(drv list-rows "$host" 1020)"
# The technical-information tool, found in the suite's bin folder, started without arguments.
[ "$(drv enabled "$host" 1007)" = 1 ] || fail "Technical Information is disabled with the tool installed"
drv click "$host" 1007
for _ in $(seq 1 50); do [ -s "$suite/Brevane/bin/qvtechinf.exe.calls" ] && break; sleep 0.1; done
grep -q 'qvtechinf.exe' "$suite/Brevane/bin/qvtechinf.exe.calls" 2>/dev/null ||
  fail "the technical-information tool was not started"
drv select-row "$host" 1020 0
drv click "$host" 1005
wait_enabled 1003 || fail "the run never stopped"
names="$(drv list-rows "$host" 1024 | cut -f2)"
expected_names="$(for key in CONNECTIVITY DEVICEMANAGER DRIVER WIA DASHRA TWAIN REGISTRY QVSCANFLOW BVM; do
  kvd_text "$key"; done)"
[ "$names" = "$expected_names" ] || fail "the all-in-one list has <$names>, expected <$expected_names>"
name="$(cut -f1 <<<"$device_rows" | head -n 1)"
[ "$(drv text "$host" 1012)" = "$(kvd_text PROBLEM_FOUND) $name" ] ||
  fail "the status line is <$(drv text "$host" 1012)>"
# The driver check: this driver has no scan-folder setting.
scan_driver="$(kvd_text UPDATE_SCAN_DRIVER)"
[ "$(drv richedit-text "$host" 1041)" = "$scan_driver" ] ||
  fail "the result text is <$(drv richedit-text "$host" 1041)>"
[ "$(drv list-images "$host" 1024 | sed -n 3p)" = 1 ] || fail "the driver row is not marked failed"
[ "$(drv visible "$host" 1030)" = 1 ] || fail "Skip is not offered"
[ "$(drv visible "$host" 1002)" = 0 ] || fail "Fix is offered for a missing scan-folder setting"
[ "$(drv visible "$host" 1015)" = 1 ] || fail "Update Driver is not offered"
[ "$(drv visible "$host" 1008)" = 0 ] || fail "the fix progress bar shows without a fix"
shot diagnosis-failure.png

# Skip to the summary.
summary="$(kvd_text ADD_HELP)"
for _ in $(seq 1 12); do
  [ "$(drv richedit-text "$host" 1041)" = "$summary" ] && break
  drv click "$host" 1030
  sleep 0.3
  wait_enabled 1003 || { fail "the run did not stop after Skip"; break; }
done
[ "$(drv richedit-text "$host" 1041)" = "$summary" ] || fail "Skip did not lead to the summary"
for id in 1011 1005 1013; do
  [ "$(drv visible "$host" "$id")" = 1 ] || fail "the summary does not offer button $id"
done
[ "$(drv visible "$host" 1030)" = 0 ] || fail "the summary still offers Skip"
[ "$(drv visible "$host" 1040)" = 1 ] || fail "the English summary hides the feedback title"
[ "$(drv list-images "$host" 1024 | sed -n 6p)" = 0 ] || fail "the TWAIN row is not marked passed"
[ "$(drv list-images "$host" 1024 | sed -n 7p)" = 0 ] || fail "the registry row is not marked passed"
[ "$(drv list-images "$host" 1024 | sed -n 8p)" = 0 ] || fail "the scan-flow row is not marked passed"
shot diagnosis-summary.png
# The software-update client of the summary, where its registry value says.
drv click "$host" 1013
for _ in $(seq 1 50); do [ -s "$suite/Update/QVUpdater.exe.calls" ] && break; sleep 0.1; done
grep -q 'Update\\QVUpdater.exe' "$suite/Update/QVUpdater.exe.calls" 2>/dev/null ||
  fail "the software-update client was not started: <$(cat "$suite/Update/QVUpdater.exe.calls" 2>/dev/null)>"
# Without the client: its message instead.
rm "$suite/Update/QVUpdater.exe"
drv click "$host" 1013
box="$(drv read-box "$(kvd_text TITLE)" 10000)"
[ "$box" = "$(kvd_text QV_UPDATE_MSG)" ] || fail "without the update client the page said <$box>"

# Retest runs again from the first row; Back gives a fresh list of the same devices.
drv click "$host" 1028
sleep 0.2
wait_enabled 1003 || fail "the retest never stopped"
[ "$(drv richedit-text "$host" 1041)" = "$scan_driver" ] ||
  fail "the retest stopped at <$(drv richedit-text "$host" 1041)>"
drv click "$host" 1003
for _ in $(seq 1 50); do [ "$(drv visible "$host" 1020)" = 1 ] && break; sleep 0.1; done
[ "$(drv list-rows "$host" 1020)" = "$device_rows" ] || fail "Back did not list the same devices"
drv click "$host" 1006
kvd_wait_exit 20000
[ "$kavid_rc" = 0 ] || fail "kavid.exe ended with $kavid_rc"

kvd_temp_folders
log="$(iconv -f UTF-16LE -t UTF-8 "$temp_unix/qv_kvd.log")"
[ -z "$(kvd_error_records <<<"$log")" ] || fail "error records in the log: $(kvd_error_records <<<"$log")"
# The Windows scan check ran: Wine's WIA has no device, and the prefix is a Windows 7 without
# the suite's KLE component, which the check reports as the upgrade problem.
grep -q ' WIA scan Failed\.' <<<"$log" || fail "the Windows scan check did not run its scan"
# The scan flow passed on its files and identifier (the TWAIN scan passed, so its servers were not
# looked for); no destination server is registered under Wine, which only costs the listing.
grep -q 'Tabbor OK\.' <<<"$log" || fail "the scan-flow check did not pass"
grep -q 'Destination Server (Component) initialization FAILED' <<<"$log" ||
  fail "the destination listing did not report the missing server"
# The device-manager check asked the helper twice (the run and the retest); the helper found the
# device's node by its hardware id, and Wine reports no problem for it.
[ "$(grep -c 'Device manager is OK' <<<"$log")" = 2 ] || fail "the device-manager check did not pass twice"
helper_log="$(iconv -f UTF-16LE -t UTF-8 "$temp_unix/qv_kvd_devmgr.log")"
[ "$(grep -c 'Switch -d with 3 items' <<<"$helper_log")" = 2 ] || fail "the helper was not asked twice with -d"
grep -q 'The node of hardware id .* has problem 0\.' <<<"$helper_log" ||
  fail "the helper did not find the device's node"
grep -q '(##)' <<<"$helper_log" && fail "error records in the helper's log"
[ "$status" = 0 ] && echo "PASS: the diagnosis page under Wine"
exit "$status"
