#!/usr/bin/env bash
# kavid.exe's Dashra hub and monitor checks under Wine: the composite all-in-one with the suite's
# registration, scan flow and TWAIN source (the run passes the TWAIN check and skips on), the
# hub's files in the suite's bin folder, our tray monitor (tools/fakes/Monitor.cpp) installed
# there and the Parlo service of the suite (tools/fakes/SuiteService.cpp) created disabled and
# stopped. The diagnosis sets the service to start automatically and starts it (read back from
# the service control manager); two running monitors are a problem whose repair ends both and
# starts one, which a retest passes; with none running, the repair starts one and puts a copy in
# the user's Startup folder. Runs under an X server.
#   tests/e2e/kavid_monitor.sh <kavid.exe> <work folder> <kvd_scenario_install> <kvd_ui_driver.exe>
#                              <sane.ds> <kvd_fake_recorder.exe>
set -euo pipefail
exe="$(readlink -f "$1")"
work="$(realpath -m "$2")"
installer="$(readlink -f "$3")"
recorder="$(readlink -f "$6")"
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
scenarios="$here/../scenarios"
[ -x "$installer" ] || { echo "FAIL: $installer is missing: build the native preset first"; exit 1; }

mkdir -p "$work"
# shellcheck source=tests/e2e/fresh-prefix.sh
source "$here/fresh-prefix.sh" "$work/monitor-prefix"
# shellcheck source=tests/e2e/ui.sh
source "$here/ui.sh" "$4" "$(dirname "$exe")/strings"
# shellcheck source=tests/e2e/twain-setup.sh
source "$here/twain-setup.sh"
"$installer" "$scenarios/usb-aio-composite.xml" "$scenarios/suite-tools.xml" \
  "$scenarios/suite-registry.xml" "$scenarios/suite-scanflow.xml" >/dev/null
kvd_install_twain "$(readlink -f "$5")" "Quvari AIO 3400 Series TWAIN" 0003
fakes="$(kvd_fakes "$exe")"
parlo="Parlo Driver QVZ12"
kvd_install_parlo "$fakes/qvsvcfake.exe" disabled stopped
status=0
fail() { echo "FAIL: $*"; status=1; }

bin="$WINEPREFIX/drive_c/Program Files (x86)/Quvari/Brevane/bin"
cp "$recorder" "$bin/qvhub.exe"
cp "$recorder" "$bin/qvfuncs.dll"
cp "$fakes/qvmonitr.exe" "$bin/qvmonitr.exe"
monitor_starts() { { tr -d '\r' <"$bin/qvmonitr.exe.calls"; } 2>/dev/null | grep -c '^started' || true; }
# The monitors running: Wine's processes show their Windows command lines (its tasklist lists
# nothing).
monitors() { pgrep -fc 'Brevane.bin.qvmonitr\.exe' || true; }

# Two monitors run: the second started by the first.
printf '[monitor]\r\nsecond=1\r\n' >"$bin/qvmonitr.exe.ini"
wine "C:\\Program Files (x86)\\Quvari\\Brevane\\bin\\qvmonitr.exe" </dev/null >/dev/null 2>&1 &
for _ in $(seq 1 100); do [ "$(monitor_starts)" = 2 ] && break; sleep 0.1; done
[ "$(monitor_starts)" = 2 ] || fail "the two monitors did not start"
rm -f "$bin/qvmonitr.exe.ini"

kvd_start_diagnosis "$exe"
wait_enabled 1003 600 || fail "the run never stopped"
kvd_skip_to_row 9
[ "$(kvd_row_mark 5)" = 0 ] || fail "the Dashra row is marked <$(kvd_row_mark 5)>"
[ "$(kvd_row_mark 9)" = 2 ] || fail "two monitors mark the row <$(kvd_row_mark 9)>"
[ "$(kvd_result)" = "$(kvd_shown_text BVM_MULTIPLE)" ] || fail "two monitors gave <$(kvd_result)>"
[ "$(drv visible "$host" 1002)" = 1 ] || fail "Fix is not offered for two monitors"
# The Parlo service, set right on the way.
[ "$(kvd_service_start_type "$parlo")" = 2 ] ||
  fail "the Parlo service starts <$(kvd_service_start_type "$parlo")>, not automatically"
[ "$(kvd_service_state "$parlo")" = RUNNING ] ||
  fail "the Parlo service is <$(kvd_service_state "$parlo")>"

# The repair ends both and starts one: a retest passes the row with one monitor running.
drv command "$host" 1002
for _ in $(seq 1 100); do [ "$(monitor_starts)" = 3 ] && break; sleep 0.1; done
[ "$(monitor_starts)" = 3 ] || fail "the repair started <$(($(monitor_starts) - 2))> monitors"
[ "$(monitors)" = 1 ] || fail "<$(monitors)> monitors run after the repair"
wait_enabled 1003 600 || fail "the run did not stop after the repair"
kvd_retest
kvd_skip_to_row 9
[ "$(kvd_row_mark 9)" = 0 ] || fail "one monitor marks the row <$(kvd_row_mark 9)>: <$(kvd_result)>"

# None runs: the repair starts one and copies it into the Startup folder.
wine taskkill /F /IM qvmonitr.exe </dev/null >/dev/null 2>&1 || true
for _ in $(seq 1 50); do [ "$(monitors)" = 0 ] && break; sleep 0.1; done
# Wine names the folder "StartUp".
startup="$(find "$WINEPREFIX"/drive_c/users/*/AppData/Roaming/Microsoft/Windows/"Start Menu"/Programs \
  -maxdepth 1 -iname startup | head -n 1)"
[ -d "$startup" ] || fail "the prefix has no Startup folder"
rm -f "$startup/qvmonitr.exe"
kvd_retest
kvd_skip_to_row 9
[ "$(kvd_result)" = "$(kvd_shown_text BVM_MULTIPLE)" ] || fail "no monitor gave <$(kvd_result)>"
drv command "$host" 1002
for _ in $(seq 1 100); do [ "$(monitor_starts)" = 4 ] && break; sleep 0.1; done
[ "$(monitor_starts)" = 4 ] || fail "the repair did not start the monitor"
for _ in $(seq 1 50); do [ -f "$startup/qvmonitr.exe" ] && break; sleep 0.1; done
cmp -s "$bin/qvmonitr.exe" "$startup/qvmonitr.exe" ||
  fail "the Startup folder has no copy of the monitor"
wait_enabled 1003 600 || fail "the run did not stop after the second repair"
[ "$(kvd_row_mark 9)" = 0 ] || fail "the repaired row is marked <$(kvd_row_mark 9)>"

kvd_close_and_read_log
grep -q 'Fixes Parlo Service Issue' <<<"$log" || fail "the Parlo service was not repaired"
grep -q 'Multiple instance of BVM is running.' <<<"$log" || fail "the two monitors were not logged"
grep -q 'BVM not running.' <<<"$log" || fail "the stopped monitor was not logged"
grep -q 'The repair of check 8: fixed' <<<"$log" || fail "no repair of the monitor check was logged"
[ -z "$(kvd_error_records <<<"$log")" ] || fail "error records in the log: $(kvd_error_records <<<"$log")"
wine taskkill /F /IM qvmonitr.exe </dev/null >/dev/null 2>&1 || true
[ "$status" = 0 ] && echo "PASS: the Dashra hub and the monitor checks and their repairs"
exit "$status"
