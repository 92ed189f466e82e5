#!/usr/bin/env bash
# kavid.exe's Windows scan check under Wine against a WIA device manager of ours
# (tools/fakes/WiaDevMgr.cpp, registered for CLSID_WiaDevMgr in the prefix's 32-bit view in
# place of Wine's, which has no device): the test scan through real COM activation, the
# device opened by the record's driver key, the BMP transfer and its temporary file deleted;
# then a transfer that fails twice and a scan dialog the user cancels. Runs under an X server.
#   tests/e2e/kavid_wia.sh <kavid.exe> <work folder> <kvd_scenario_install> <kvd_ui_driver.exe>
#                          <wiafake.dll>
set -euo pipefail
exe="$(readlink -f "$1")"
work="$(realpath -m "$2")"
installer="$(readlink -f "$3")"
fake="$(readlink -f "$5")"
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
[ -x "$installer" ] || { echo "FAIL: $installer is missing: build the native preset first"; exit 1; }

mkdir -p "$work"
# shellcheck source=tests/e2e/fresh-prefix.sh
source "$here/fresh-prefix.sh" "$work/wia-prefix"
# shellcheck source=tests/e2e/ui.sh
source "$here/ui.sh" "$4" "$(dirname "$exe")/strings"
"$installer" "$here/../scenarios/usb-aio-composite.xml" >/dev/null
wia_dir="$WINEPREFIX/drive_c/QuvariTest/wia"
mkdir -p "$wia_dir"
cp "$fake" "$wia_dir/wiafake.dll"
manager='HKLM\Software\Classes\CLSID\{A1F4E726-8CF1-11D1-BF92-0060081ED811}\InprocServer32'
wine reg add "$manager" /ve /d 'C:\QuvariTest\wia\wiafake.dll' /f /reg:32 </dev/null >/dev/null 2>&1
wine reg add "$manager" /v ThreadingModel /d Both /f /reg:32 </dev/null >/dev/null 2>&1
# The suite's KLE component is recent: a failed scan is not the Windows 7 upgrade problem.
wine reg add 'HKLM\Software\Quvari\{4C1F7E25-8A3B-4D90-B6E2-19D5C0A7F381}' /v Version /d 13.0.1 \
  /f /reg:32 </dev/null >/dev/null 2>&1
wia_id='{6bdd1fc6-810f-11d0-bec7-08002be2092f}\0003'
configure() {  # <transfer> <scandialog>
  printf '[device]\r\nid=%s\r\nname=Quvari AIO 3400 Series\r\ntype=65536\r\n[behaviour]\r\ntransfer=%s\r\nscandialog=%s\r\n' \
    "$wia_id" "$1" "$2" >"$wia_dir/wiafake.dll.ini"
}
calls() { tr -d '\r' <"$wia_dir/wiafake.dll.calls" 2>/dev/null || true; }
status=0
fail() { echo "FAIL: $*"; status=1; }
# Runs until the Windows scan check's row has its result: Skip past the driver check (this
# driver has no scan-folder setting), then the run stops at the next failure after the scan.
run_to_wia() {
  wait_enabled 1003 300 || { fail "the run never stopped"; return 1; }
  drv click "$host" 1030
  sleep 0.3
  wait_enabled 1003 300 || { fail "the run did not stop after the Windows scan check"; return 1; }
}

configure ok cancel
kvd_start_diagnosis "$exe"
run_to_wia
first="$(calls)"
[ "$(sed -n 1p <<<"$first")" = "CreateDevice $wia_id" ] || fail "the device was opened as <$(sed -n 1p <<<"$first")>"
grep -qx 'WriteMultiple bmp 2' <<<"$first" || fail "the transfer was not asked for a BMP file: <$first>"
file="$(grep '^idtGetData ' <<<"$first" | head -n 1 | cut -d' ' -f2-)"
[ -n "$file" ] || fail "no transfer: <$first>"
[ -n "$file" ] && [ -e "$(winepath -u "$file" 2>/dev/null)" ] && fail "the scanned file $file was not deleted"
grep -q 'DeviceDlg\|SelectDeviceDlg' <<<"$first" && fail "a dialog was shown for a silent scan: <$first>"

# The transfer fails (tried twice), the scan dialog is cancelled: a warning, not a failure.
configure fail cancel
: >"$wia_dir/wiafake.dll.calls"
drv click "$host" 1028
sleep 0.3
wait_enabled 1003 300 || fail "the retest never stopped"
drv click "$host" 1030
sleep 0.3
wait_enabled 1003 300 || fail "the retest did not stop after the Windows scan check"
second="$(calls)"
[ "$(grep -c '^idtGetData failed$' <<<"$second")" = 2 ] || fail "the failed transfer was not tried twice: <$second>"
[ "$(tail -n 1 <<<"$second")" = DeviceDlg ] || fail "the scan dialog was not the fall-back: <$second>"
[ "$(drv richedit-text "$host" 1041)" = "$(kvd_text USER_CANCELLED)" ] ||
  fail "the cancelled scan dialog gave <$(drv richedit-text "$host" 1041)>"

# A scanner that stops answering in the middle of the transfer: the watchdog's 80 seconds, the
# page's message, the progress window ended by the page, and the program still closable.
configure hang cancel
: >"$wia_dir/wiafake.dll.calls"
drv click "$host" 1028
sleep 0.3
wait_enabled 1003 300 || fail "the third run never stopped"
drv click "$host" 1030
for _ in $(seq 1 30); do grep -q 'idtGetData hangs' <(calls) && break; sleep 0.5; done
grep -q 'idtGetData hangs' <(calls) || fail "the transfer did not start: <$(calls)>"
hung_from=$(date +%s)
for _ in $(seq 1 1100); do
  [ "$(drv richedit-text "$host" 1041)" = "$(kvd_text SCANER_NOT_RESPONDING_ERR)" ] && break
  sleep 0.1
done
waited=$(( $(date +%s) - hung_from ))
[ "$(drv richedit-text "$host" 1041)" = "$(kvd_text SCANER_NOT_RESPONDING_ERR)" ] ||
  fail "the hung scan gave <$(drv richedit-text "$host" 1041)> after $waited s"
[ "$waited" -ge 60 ] || fail "the watchdog fired after $waited s"
progress_gone=0
for _ in $(seq 1 50); do
  drv windows | cut -f3 | grep -qx "$(kvd_text SCANNING_TITLE)" || { progress_gone=1; break; }
  sleep 0.1
done
[ "$progress_gone" = 1 ] || fail "the progress window stayed after the watchdog"
echo "figure: the watchdog reported the hung WIA transfer $waited s after it began"

kvd_close_and_read_log
grep -q ' WIA scan OK\.' <<<"$log" || fail "the first scan did not pass"
grep -q 'idtGetData  failed: Retry' <<<"$log" || fail "the retry is not in the log"
# Besides the cancelled dialog's two records, the hung scan's: its worker is left behind at exit.
errors="$(kvd_error_records <<<"$log" |
  grep -v -E '(Without UI failed trying with UI|DeviceDlg failed|A check does not end: the program ends without it\.|[0-9]+ threads? still runs? at exit \(a check does not return\): left behind\.) *$' ||
  true)"
[ -z "$errors" ] || fail "error records: $errors"
[ "$status" = 0 ] && echo "PASS: the Windows scan check under Wine with our WIA device manager"
exit "$status"
