#!/usr/bin/env bash
# kavid.exe's driver check under Wine against the maker's scanner components as we built them
# (tools/fakes/CrocanScanner.cpp, registered with the 32-bit regsvr32 in the prefix): the device's
# "CrocanCLSID" names the scanner class, the whole flatbed scan through real COM activation and
# calls by slot, the row passed after the settling wait; then a scanner whose StartScan fails with
# the network-busy status: the row failed with its text and buttons, the lock and the session
# given back; then a scan that hangs in its read, which the watchdog reports. Runs under an X
# server.
#   tests/e2e/kavid_driver.sh <kavid.exe> <work folder> <kvd_scenario_install> <kvd_ui_driver.exe>
#                             <crocanfake.dll>
set -euo pipefail
exe="$(readlink -f "$1")"
work="$(realpath -m "$2")"
installer="$(readlink -f "$3")"
fake="$(readlink -f "$5")"
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
[ -x "$installer" ] || { echo "FAIL: $installer is missing: build the native preset first"; exit 1; }

mkdir -p "$work"
# shellcheck source=tests/e2e/fresh-prefix.sh
source "$here/fresh-prefix.sh" "$work/driver-prefix"
# shellcheck source=tests/e2e/ui.sh
source "$here/ui.sh" "$4" "$(dirname "$exe")/strings"
"$installer" "$here/../scenarios/usb-aio-composite.xml" >/dev/null
status=0
fail() { echo "FAIL: $*"; status=1; }

components="$WINEPREFIX/drive_c/QuvariTest/crocan"
mkdir -p "$components"
cp "$fake" "$components/crocanfake.dll"
wine 'C:\windows\syswow64\regsvr32.exe' /s 'C:\QuvariTest\crocan\crocanfake.dll' </dev/null >/dev/null 2>&1 ||
  fail "regsvr32 refused the components"
manager='HKLM\Software\Classes\CLSID\{D045BA43-121E-4163-990D-53A7D9146C24}\InprocServer32'
wine reg query "$manager" /reg:32 </dev/null 2>/dev/null | grep -qi 'crocanfake.dll' ||
  fail "the scanner manager is not registered in the 32-bit view"
class_key='HKLM\SYSTEM\CurrentControlSet\Control\Class\{6bdd1fc6-810f-11d0-bec7-08002be2092f}\0003'
wine reg add "$class_key" /v CreateFileName /d 'C:\Scans' /f </dev/null >/dev/null 2>&1
wine reg add "$class_key\\Devicedata" /v CrocanCLSID /d '{1D0C2B3A-4E5F-4A6B-8C7D-9E0F1A2B3C4D}' \
  /f </dev/null >/dev/null 2>&1
configure() {  # [behaviour lines]
  printf '[scanner]\r\nname=Quvari AIO 3400 Series\r\nsession=QVSCAN0\r\nvalue=1\r\n[behaviour]\r\n%s\r\n' \
    "${1:-}" >"$components/crocanfake.dll.ini"
  rm -f "$components/crocanfake.dll.calls"
}
calls() { tr -d '\r' <"$components/crocanfake.dll.calls" 2>/dev/null || true; }
driver_row() { drv list-images "$host" 1024 | sed -n 3p; }

configure
kvd_start_diagnosis "$exe"
# The scan, then 22 seconds of settling; the run stops at the Windows scan check after it (Wine's
# WIA has no device).
wait_enabled 1003 900 || fail "the run never stopped"
[ "$(driver_row)" = 0 ] || fail "the driver row is marked <$(driver_row)>, not passed"
expected="GetScannerByFriendlyName2 Quvari AIO 3400 Series
CreateScanner
OpenScannerSession QVSCAN0 1
LockScanner 0 30000
GetScannerCapabilities
ResetScanner
GetLampStatus
InitializeScanner
ExtensionCall 3
SetGammaTable 256
SetScannerParameters 300 300
GetBufferInfo
StartScan
$(for _ in 1 2 3 4 5 6 7 8; do echo 'ReadScan 30600'; done)
ReadScan 10200
StopScan
UnlockScanner
CloseScannerSession"
[ "$(calls)" = "$expected" ] || fail "the components were called <$(calls)>"

# The network is busy when the scan starts: the row fails with its text and buttons, and what
# was opened is given back.
configure $'fail=StartScan\r\nstatus=18'
drv click "$host" 1028
sleep 0.3
wait_enabled 1003 300 || fail "the retest never stopped"
[ "$(driver_row)" = 1 ] || fail "the failing driver row is marked <$(driver_row)>"
[ "$(drv richedit-text "$host" 1041)" = "$(kvd_text NETWORK_BUSY)" ] ||
  fail "the failure said <$(drv richedit-text "$host" 1041)>"
for id in 1011 1005 1030; do
  [ "$(drv visible "$host" "$id")" = 1 ] || fail "the network-busy failure does not offer $id"
done
[ "$(drv visible "$host" 1009)" = 0 ] || fail "the network-busy failure offers Uninstall"
[ "$(calls | tail -n 3)" = $'StartScan\nUnlockScanner\nCloseScannerSession' ] ||
  fail "after the failed start the components got <$(calls | tail -n 3)>"

# A scanner that stops answering in the middle of the scan: the watchdog's 80 seconds and its
# text, and the program still closable, the hung worker left behind.
configure 'hang=ReadScan'
drv click "$host" 1028
for _ in $(seq 1 100); do grep -q '^ReadScan ' <(calls) && break; sleep 0.3; done
grep -q '^ReadScan ' <(calls) || fail "the scan never read: <$(calls)>"
hung_from=$(date +%s)
for _ in $(seq 1 1100); do
  [ "$(drv richedit-text "$host" 1041)" = "$(kvd_text SCANER_NOT_RESPONDING_ERR)" ] && break
  sleep 0.1
done
waited=$(( $(date +%s) - hung_from ))
[ "$(drv richedit-text "$host" 1041)" = "$(kvd_text SCANER_NOT_RESPONDING_ERR)" ] ||
  fail "the hung scan gave <$(drv richedit-text "$host" 1041)> after $waited s"
[ "$waited" -ge 60 ] || fail "the watchdog fired after $waited s"
[ "$(driver_row)" = 1 ] || fail "the hung driver row is marked <$(driver_row)>"
echo "figure: the watchdog reported the hung driver scan $waited s after its first read"

drv click "$host" 1006 >/dev/null 2>&1 || true
kvd_wait_exit 20000
[ "$kavid_rc" = 0 ] || fail "kavid.exe ended with $kavid_rc"
kvd_temp_folders
log="$(iconv -f UTF-16LE -t UTF-8 "$temp_unix/qv_kvd.log" 2>/dev/null | tr -d '\r' || true)"
grep -q 'Crocan Scan OK' <<<"$log" || fail "the log has no passed driver check"
grep -q 'Failed to StartScan.Error Code: 18' <<<"$log" || fail "the log has no failed start"
# The hung scan's worker is left behind at exit, and says so.
errors="$(kvd_error_records <<<"$log" |
  grep -v -E '(A check does not end: the program ends without it\.|[0-9]+ threads? still runs? at exit \(a check does not return\): left behind\.) *$' ||
  true)"
[ -z "$errors" ] || fail "error records: $errors"
[ "$status" = 0 ] && echo "PASS: kavid_driver"
exit "$status"
