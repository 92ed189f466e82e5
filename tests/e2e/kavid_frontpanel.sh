#!/usr/bin/env bash
# kavid.exe's front-panel check under Wine: the composite all-in-one with a scan button, the
# suite's registration and scan flow, its TWAIN source (so that the run, with the Windows scan
# failing on Wine's WIA, passes the TWAIN check and may skip on to the last check), our device
# scan-settings library (tools/fakes/ScanSettings.cpp) in the suite's bin folder and our recorder
# as Tabbor. Shortcuts pass the check; none give the problem outcome, whose repair starts Tabbor
# with the button-settings command line and passes once the library has shortcuts after Tabbor's
# time; without the library the question cannot be answered, and a library planted in the
# program's own folder is never loaded. (kavid_tarvel_button.sh tests a Tarvel scanner's.) Runs
# under an X server.
#   tests/e2e/kavid_frontpanel.sh <kavid.exe> <work folder> <kvd_scenario_install> <kvd_ui_driver.exe>
#                                 <sane.ds> <qvdevset.dll> <kvd_fake_recorder.exe>
set -euo pipefail
exe="$(readlink -f "$1")"
work="$(realpath -m "$2")"
installer="$(readlink -f "$3")"
devset="$(readlink -f "$6")"
recorder="$(readlink -f "$7")"
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
[ -x "$installer" ] || { echo "FAIL: $installer is missing: build the native preset first"; exit 1; }

mkdir -p "$work"
# shellcheck source=tests/e2e/fresh-prefix.sh
source "$here/fresh-prefix.sh" "$work/frontpanel-prefix"
# shellcheck source=tests/e2e/ui.sh
source "$here/ui.sh" "$4" "$(dirname "$exe")/strings"
# shellcheck source=tests/e2e/twain-setup.sh
source "$here/twain-setup.sh"
kvd_install_aio_suite "$installer" "$5" "$exe" "$here/../scenarios/suite-frontpanel.xml"
status=0
fail() { echo "FAIL: $*"; status=1; }

bin="$WINEPREFIX/drive_c/Program Files (x86)/Quvari/Brevane/bin"
cp --remove-destination "$recorder" "$bin/qvtabbor.exe"
cp "$devset" "$bin/qvdevset.dll"
identifier='#Quvari#quvari aio 3400 series#0000'
shortcuts() { printf '[Device]\r\nId=%s\r\nShortcuts=%s\r\n' "$identifier" "$1" >"$bin/qvdevset.dll.ini"; }
library_calls() { tr -d '\r' <"$bin/qvdevset.dll.calls" 2>/dev/null; }
# The library planted beside the program, answering with shortcuts: never to be loaded.
planted="$(dirname "$exe")/qvdevset.dll"
cp "$devset" "$planted"
printf '[Device]\r\nId=%s\r\nShortcuts=5\r\n' "$identifier" >"$planted.ini"
trap 'rm -f "$planted" "$planted.ini" "$planted.calls"' EXIT

front_row() { kvd_row_mark 10; }
summary="$(kvd_text ADD_HELP)"

# Two shortcuts: the button works, and the run completes with the summary.
shortcuts 2
kvd_start_diagnosis "$exe"
wait_enabled 1003 600 || fail "the run never stopped"
kvd_skip_to_row 10
[ "$(front_row)" = 0 ] || fail "shortcuts mark the row <$(front_row)>: <$(kvd_result)>"
[ "$(kvd_result)" = "$summary" ] || fail "the passed last check did not lead to the summary: <$(kvd_result)>"
expected_question="Create $identifier
OpenSession
GetDeviceShortcutList 2
CloseSession
Destroy"
[ "$(library_calls)" = "$expected_question" ] || fail "the library was asked <$(library_calls)>"

# No shortcut: the problem outcome; without the Dashra hub (the prefix has none) a
# warning, the TWAIN scan having passed, with Skip and without Fix.
rm -f "$bin/qvdevset.dll.calls"
shortcuts 0
kvd_retest
kvd_skip_to_row 10
[ "$(front_row)" = 2 ] || fail "no shortcut marks the row <$(front_row)>"
[ "$(kvd_result)" = "$(kvd_shown_text FRONT_PANEL_ISSUE_FOUND_NO_DASHRA)" ] || fail "no shortcut gave <$(kvd_result)>"
[ "$(drv visible "$host" 1030)" = 1 ] || fail "Skip is not offered"
[ "$(drv visible "$host" 1002)" = 0 ] || fail "Fix is offered without the Dashra hub"
# The repair, as the page runs it for the outcome that offers it: Tabbor with its command line;
# it "applies" the setting (the test gives the device its shortcuts once Tabbor has started),
# and the library is asked again after Tabbor's time.
started=$(date +%s)
drv command "$host" 1002
for _ in $(seq 1 100); do [ -s "$bin/qvtabbor.exe.calls" ] && break; sleep 0.1; done
shortcuts 3
tabbor_line="$(tr -d '\r' <"$bin/qvtabbor.exe.calls" 2>/dev/null | cut -f1)"
[ "$tabbor_line" = " -n  \"$identifier\" -a SETTINGS -f SCAN_BUTTON -b SCAN_TO" ] ||
  fail "Tabbor was started with <$tabbor_line>"
for _ in $(seq 1 400); do [ "$(kvd_result)" = "$summary" ] && break; sleep 0.1; done
waited=$(($(date +%s) - started))
[ "$(kvd_result)" = "$summary" ] || fail "the repair did not lead to the summary: <$(kvd_result)>"
[ "$waited" -ge 20 ] || fail "the repair asked again after $waited s, before Tabbor's 20 s"
[ "$(library_calls | grep -c '^GetDeviceShortcutList 3$')" = 1 ] ||
  fail "the library was not asked again after Tabbor: <$(library_calls)>"
[ "$(library_calls | grep -c '^Destroy$')" = 2 ] || fail "an object was not destroyed: <$(library_calls)>"

# Without the library the question cannot be answered.
rm "$bin/qvdevset.dll"
kvd_retest
kvd_skip_to_row 10
[ "$(front_row)" = 2 ] || fail "a missing library marks the row <$(front_row)>"
[ "$(kvd_result)" = "$(kvd_shown_text FRONT_PANEL_ISSUE_FOUND_NO_DASHRA)" ] || fail "a missing library gave <$(kvd_result)>"

kvd_close_and_read_log
[ ! -e "$planted.calls" ] || fail "the library in the program's folder was loaded: <$(cat "$planted.calls")>"
grep -q 'The repair of check 12: fixed' <<<"$log" || fail "the front panel's repair did not count as fixed"
grep -q 'Could not find any shortcuts\.' <<<"$log" || fail "no shortcut is not logged"
grep -q 'Could not load qvdevset\.dll' <<<"$log" || fail "the missing library is not logged"
[ -z "$(kvd_error_records <<<"$log")" ] || fail "error records in the log: $(kvd_error_records <<<"$log")"

[ "$status" = 0 ] && echo "PASS: the front-panel check of an all-in-one under Wine"
exit "$status"
