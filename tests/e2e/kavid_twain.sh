#!/usr/bin/env bash
# kavid.exe's TWAIN check under Wine: Wine's source manager (C:\windows\Twain_32.dll) with our
# data source (tools/fakes/TwainSource.cpp) as twain_32\sane.ds. A run of an all-in-one device
# skipped past the driver and Windows scan checks reaches it: the device's own source scans by
# native transfer; a failing transfer; a source of another name, which the program's selection
# dialog offers and the user selects, then cancels. Runs under an X server.
#   tests/e2e/kavid_twain.sh <kavid.exe> <work folder> <kvd_scenario_install> <kvd_ui_driver.exe>
#                            <sane.ds>
set -euo pipefail
exe="$(readlink -f "$1")"
work="$(realpath -m "$2")"
installer="$(readlink -f "$3")"
source_ds="$(readlink -f "$5")"
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
[ -x "$installer" ] || { echo "FAIL: $installer is missing: build the native preset first"; exit 1; }

mkdir -p "$work"
# shellcheck source=tests/e2e/fresh-prefix.sh
source "$here/fresh-prefix.sh" "$work/twain-run-prefix"
# shellcheck source=tests/e2e/ui.sh
source "$here/ui.sh" "$4" "$(dirname "$exe")/strings"
# shellcheck source=tests/e2e/twain-setup.sh
source "$here/twain-setup.sh"
"$installer" "$here/../scenarios/usb-aio-composite.xml" >/dev/null
# The suite's Parlo device service, usable, as the monitor check on the way wants it.
kvd_install_parlo "$(kvd_fakes "$exe")/qvsvcfake.exe"
# The suite's KLE component is recent: a failed scan is not the Windows 7 upgrade problem.
wine reg add 'HKLM\Software\Quvari\{4C1F7E25-8A3B-4D90-B6E2-19D5C0A7F381}' /v Version /d 13.0.1 \
  /f /reg:32 </dev/null >/dev/null 2>&1
kvd_install_twain "$source_ds" "Quvari AIO 3400 Series TWAIN" 0003
status=0
fail() { echo "FAIL: $*"; status=1; }
twain_row() { drv list-images "$host" 1024 | sed -n 6p; }
twain_text() { drv richedit-text "$host" 1041; }
# From a stopped run: Skip until the TWAIN row has its mark (the driver and Windows scan checks
# fail on this machine), then wait for the run to stop again.
skip_to_twain() {
  local answer="${1:-}"
  for _ in 1 2 3; do
    [ "$(twain_row)" != -1 ] && return 0
    drv click "$host" 1030
    sleep 0.3
    local stopped=0
    for _ in $(seq 1 300); do
      if [ -n "$answer" ]; then
        question="$(drv wait-window "$(kvd_text TWAIN_SELECT_SOURCE)" 100 || true)"
        if [ -n "$question" ]; then
          offered="$(drv list-rows "$question" 1035 || true)"
          drv click "$question" "$answer"
          answer=""
        fi
      fi
      [ "$(drv enabled "$host" 1003)" = 1 ] && { stopped=1; break; }
      sleep 0.1
    done
    [ "$stopped" = 1 ] || { fail "the run did not stop"; return 1; }
  done
  [ "$(twain_row)" != -1 ] || fail "the TWAIN check did not run"
}
retest() { drv click "$host" 1028; sleep 0.3; wait_enabled 1003 600 || fail "the retest never stopped"; }

kvd_start_diagnosis "$exe"
wait_enabled 1003 600 || fail "the run never stopped"
skip_to_twain
# The device's own source: opened without its user interface, one native transfer, all closed.
[ "$(twain_row)" = 0 ] || fail "the TWAIN row is marked <$(twain_row)> after a working scan"
calls="$(kvd_twain_calls)"
for triplet in "DAT_IDENTITY MSG_OPENDS" "DAT_USERINTERFACE MSG_ENABLEDS" "DAT_EVENT MSG_PROCESSEVENT" \
  "DAT_IMAGEINFO MSG_GET" "DAT_IMAGENATIVEXFER MSG_GET" "DAT_PENDINGXFERS MSG_ENDXFER" \
  "DAT_USERINTERFACE MSG_DISABLEDS" "DAT_IDENTITY MSG_CLOSEDS"; do
  grep -qx "$triplet" <<<"$calls" || fail "the source never received $triplet: <$calls>"
done
[ "$(grep -c 'DAT_IMAGENATIVEXFER' <<<"$calls")" = 1 ] || fail "not one native transfer: <$calls>"
# The run goes on to the next check, which stops it.
[ "$(twain_text)" != "$(kvd_text TWAIN_OK)" ] || fail "the run stopped at the passed TWAIN check"

# The transfer fails: the scan failed, with the Windows scan failed too (no Skip).
kvd_twain_configure post fail
retest
skip_to_twain
[ "$(twain_row)" = 1 ] || fail "a failed transfer marks the TWAIN row <$(twain_row)>"
[ "$(twain_text)" = "$(kvd_text TWAIN_FAIL_WIA_FAIL)" ] || fail "a failed transfer gave <$(twain_text)>"
[ "$(drv visible "$host" 1030)" = 0 ] || fail "Skip is offered with both scans failed"
[ "$(drv visible "$host" 1009)" = 1 ] || fail "Uninstall is not offered after the failed scan"

# A run with a source of another name: the user is asked and answers with button <id>.
ask_and_answer() {
  kvd_twain_configure post ok "Other Scanner TWAIN"
  offered=""
  retest
  skip_to_twain "$1"
  [ "$offered" = "Other Scanner TWAIN" ] || fail "the selection dialog offered <$offered>"
}

# Select: the chosen source scans.
ask_and_answer 1042
[ "$(twain_row)" = 0 ] || fail "the selected source did not scan: <$(twain_text)>"
grep -qx "DAT_IMAGENATIVEXFER MSG_GET" <(kvd_twain_calls) || fail "the selected source did not transfer"

# Cancel: a warning that the run may skip.
ask_and_answer 2
[ "$(twain_row)" = 2 ] || fail "the cancelled selection marks the TWAIN row <$(twain_row)>"
[ "$(twain_text)" = "$(kvd_text USER_CANCELLED)" ] || fail "the cancelled selection gave <$(twain_text)>"
[ "$(drv visible "$host" 1030)" = 1 ] || fail "Skip is not offered after the cancelled selection"
grep -q "DAT_IDENTITY MSG_OPENDS" <(kvd_twain_calls) && fail "a source was opened after Cancel"

kvd_close_and_read_log
[ "$(grep -c 'Twain Scan OK' <<<"$log")" = 2 ] || fail "not two TWAIN scans passed in the log"
grep -q 'Twain Issue detected. Err No : 100011' <<<"$log" || fail "the failed scan's result is not logged"
grep -q 'Twain Issue detected. Err No : 100012' <<<"$log" || fail "the cancel is not logged"
[ -z "$(kvd_error_records <<<"$log")" ] || fail "error records in the log: $(kvd_error_records <<<"$log")"
[ "$status" = 0 ] && echo "PASS: the TWAIN check under Wine with our data source"
exit "$status"
