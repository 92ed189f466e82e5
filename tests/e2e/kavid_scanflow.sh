#!/usr/bin/env bash
# kavid.exe's scan-flow check under Wine: the composite all-in-one with the suite's registration
# and scan flow (suite-scanflow.xml), its TWAIN source (so that the run, with the Windows scan
# failing on Wine's WIA, passes the TWAIN check and may skip on), and our destination server
# (tools/fakes/DestinationServer.cpp), a program of its own that COM starts, registered with its
# type library. The check passes and lists the destinations into the trace log, each object the
# server made given back; a
# destination without its description ends the listing, not the check; without Tabbor the check
# reports the problem (a warning, the TWAIN scan having passed). Runs under an X server.
#   tests/e2e/kavid_scanflow.sh <kavid.exe> <work folder> <kvd_scenario_install> <kvd_ui_driver.exe>
#                               <sane.ds> <qvdestsrv.exe (its qvdestsrv.tlb beside it)>
set -euo pipefail
exe="$(readlink -f "$1")"
work="$(realpath -m "$2")"
installer="$(readlink -f "$3")"
server="$(readlink -f "$6")"
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
[ -x "$installer" ] || { echo "FAIL: $installer is missing: build the native preset first"; exit 1; }

mkdir -p "$work"
# shellcheck source=tests/e2e/fresh-prefix.sh
source "$here/fresh-prefix.sh" "$work/scanflow-prefix"
# shellcheck source=tests/e2e/ui.sh
source "$here/ui.sh" "$4" "$(dirname "$exe")/strings"
# shellcheck source=tests/e2e/twain-setup.sh
source "$here/twain-setup.sh"
kvd_install_aio_suite "$installer" "$5" "$exe"
status=0
fail() { echo "FAIL: $*"; status=1; }

folder="$WINEPREFIX/drive_c/QuvariTest/destinations"
mkdir -p "$folder"
cp "$server" "$(dirname "$server")/qvdestsrv.tlb" "$folder/"
wine 'C:\QuvariTest\destinations\qvdestsrv.exe' /RegServer </dev/null >/dev/null 2>&1 ||
  fail "the destination server did not register itself"
behave() {
  printf '[Destinations]\r\nCount=2\r\n1=Email\r\n2=Folder\r\n[Server]\r\nFail=%s\r\n' "$1" \
    >"$folder/qvdestsrv.exe.ini"
  rm -f "$folder/qvdestsrv.exe.calls"
}
server_calls() { tr -d '\r' <"$folder/qvdestsrv.exe.calls" 2>/dev/null; }

flow_row() { kvd_row_mark 8; }

# The whole scan flow: the check passes, the two destinations listed, every object given back.
behave ''
kvd_start_diagnosis "$exe"
wait_enabled 1003 600 || fail "the run never stopped"
kvd_skip_to_row 8
[ "$(flow_row)" = 0 ] || fail "the whole scan flow marks the row <$(flow_row)>: <$(kvd_result)>"
expected="Serving
Server made
DestinationList
Count
ConfigurationObject
Item 0
Description Email
Released item
Item 1
Description Folder
Released item
Released configuration
Released list
Released server"
[ "$(server_calls)" = "$expected" ] || fail "the destination server saw <$(server_calls)>"

# A destination without its description: the listing stops there, everything given back, and
# the check still passes.
behave description
kvd_retest
kvd_skip_to_row 8
[ "$(flow_row)" = 0 ] || fail "a failed listing marks the row <$(flow_row)>"
expected="Serving
Server made
DestinationList
Count
ConfigurationObject
Item 0
Description Email
Released item
Released configuration
Released list
Released server"
[ "$(server_calls)" = "$expected" ] || fail "with a failing description the server saw <$(server_calls)>"

# Without Tabbor: the problem, a warning because the TWAIN scan passed; this prefix is a
# Windows 7 without the suite's KLE component, which the check names first.
behave ''
rm "$WINEPREFIX/drive_c/Program Files (x86)/Quvari/Brevane/bin/qvtabbor.exe"
kvd_retest
kvd_skip_to_row 8
[ "$(flow_row)" = 2 ] || fail "a missing Tabbor marks the row <$(flow_row)>"
[ "$(kvd_result)" = "$(kvd_shown_text TABBOR_WIN7_UPGRADE_ISSUE)" ] ||
  fail "a missing Tabbor gave <$(kvd_result)>"
for id in 1030 1011 1005; do
  [ "$(drv visible "$host" "$id")" = 1 ] || fail "button $id is not offered without Tabbor"
done
[ "$(drv visible "$host" 1009)" = 0 ] || fail "Uninstall is offered with the warning"

kvd_close_and_read_log
# Two whole listings; the one whose descriptions fail lists nothing.
for destination in Email Folder; do
  [ "$(grep -c "The scan destination Found : $destination\$" <<<"$log")" = 2 ] ||
    fail "$destination was not listed in the two whole listings"
done
grep -q 'Failed while looking for description ' <<<"$log" || fail "the failed description is not logged"
[ "$(grep -c 'Tabbor OK\.' <<<"$log")" = 2 ] || fail "the scan flow did not pass twice"
# The missing Tabbor is the one error record of the run.
errors="$(kvd_error_records <<<"$log")"
[ "$(grep -c . <<<"$errors")" = 1 ] && grep -q 'Tabbor exe path not found\.C:\\Program Files (x86)\\Quvari\\Brevane\\bin\\qvtabbor\.exe' <<<"$errors" ||
  fail "the error records are <$errors>"
[ "$status" = 0 ] && echo "PASS: the scan-flow check under Wine"
exit "$status"
