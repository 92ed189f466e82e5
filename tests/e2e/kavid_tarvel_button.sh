#!/usr/bin/env bash
# kavid.exe's front-panel check of a Tarvel scanner under Wine: the USB Tarvel scanner of
# usb-tarvel.xml with the still-image events and button-settings registration of
# suite-frontpanel.xml, the suite's folder and scan flow, and its TWAIN source (so that the run,
# with the Windows scan failing on Wine's WIA, passes the TWAIN check and may skip on to the last
# check). Its scan event's quoted handler program, with arguments, passes; without the program
# the check cannot answer, and the repair starts the driver's button-settings program (our
# recorder) without arguments. Runs under an X server.
#   tests/e2e/kavid_tarvel_button.sh <kavid.exe> <work folder> <kvd_scenario_install>
#                                    <kvd_ui_driver.exe> <sane.ds> <kvd_fake_recorder.exe>
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
source "$here/fresh-prefix.sh" "$work/tarvel-button-prefix"
# shellcheck source=tests/e2e/ui.sh
source "$here/ui.sh" "$4" "$(dirname "$exe")/strings"
# shellcheck source=tests/e2e/twain-setup.sh
source "$here/twain-setup.sh"
"$installer" "$scenarios/usb-tarvel.xml" "$scenarios/suite-tools.xml" \
  "$scenarios/suite-scanflow.xml" "$scenarios/suite-frontpanel.xml" >/dev/null
status=0
fail() { echo "FAIL: $*"; status=1; }
summary="$(kvd_text ADD_HELP)"

# The USB Tarvel scanner: its scan event's handler program (quoted, with arguments) exists, and
# the button works. Its TWAIN source lets the run skip on past the failing Windows scan.
tarvel_row() { kvd_row_mark 8; }
kvd_install_twain "$(readlink -f "$5")" "Quvari Tarvel T200 TWAIN" 0021
tarvel="$WINEPREFIX/drive_c/Program Files (x86)/Quvari/Tarvel"
cp --remove-destination "$recorder" "$tarvel/qvtvbutset.exe"
kvd_start_diagnosis "$exe" $'Tarvel T200\t' ||
  fail "the device rows are <$(drv list-rows "$host" 1020)>"
wait_enabled 1003 600 || fail "the Tarvel run never stopped"
kvd_skip_to_row 8
[ "$(tarvel_row)" = 0 ] || fail "the Tarvel scan event marks the row <$(tarvel_row)>: <$(kvd_result)>"
[ "$(kvd_result)" = "$summary" ] || fail "the Tarvel run did not end with the summary: <$(kvd_result)>"

# Its handler program gone: the question cannot be answered; the repair starts the driver's
# button-settings program, without arguments and without waiting for it.
rm "$tarvel/qvtvbutton.exe"
kvd_retest
kvd_skip_to_row 8
[ "$(tarvel_row)" = 2 ] || fail "a missing handler program marks the row <$(tarvel_row)>"
[ "$(kvd_result)" = "$(kvd_shown_text QV_BTN_MGR_FRONTPANEL_NOT_FOUND)" ] || fail "a missing handler program gave <$(kvd_result)>"
for id in 1030 1009; do
  [ "$(drv visible "$host" "$id")" = 1 ] || fail "button $id is not offered for the Tarvel scanner"
done
drv command "$host" 1002
for _ in $(seq 1 100); do [ -s "$tarvel/qvtvbutset.exe.calls" ] && break; sleep 0.1; done
# Started with no command line of its own: Wine makes one of the quoted program path.
butset_line="$(tr -d '\r' <"$tarvel/qvtvbutset.exe.calls" 2>/dev/null | cut -f1 | tr -d '"')"
[ "$butset_line" = 'C:\Program Files (x86)\Quvari\Tarvel\qvtvbutset.exe' ] ||
  fail "the button-settings program was started with <$butset_line>"
for _ in $(seq 1 100); do [ "$(kvd_result)" = "$summary" ] && break; sleep 0.1; done
[ "$(kvd_result)" = "$summary" ] || fail "the Tarvel repair did not lead to the summary: <$(kvd_result)>"

kvd_close_and_read_log
grep -q 'Fixes the FrontPanel issue of Tarvel\.' <<<"$log" || fail "the Tarvel repair is not logged"
grep -q 'The repair of check 12: fixed' <<<"$log" || fail "the Tarvel repair did not count as fixed"
[ -z "$(kvd_error_records <<<"$log")" ] || fail "error records in the log: $(kvd_error_records <<<"$log")"
[ "$status" = 0 ] && echo "PASS: the front-panel check of a Tarvel scanner under Wine"
exit "$status"
