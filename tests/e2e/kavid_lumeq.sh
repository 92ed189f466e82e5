#!/usr/bin/env bash
# kavid.exe's Lumeq service check under Wine: the USB Lumeq scanner with its TWAIN source (our
# data source under the name its driver records, so that the run, with the Windows scan failing
# on Wine's WIA, passes the TWAIN check and may skip on), and the maker's service
# (tools/fakes/SuiteService.cpp) created in the prefix disabled and stopped. The check warns with
# its text and Fix; the repair sets the service to start automatically and starts it (read back
# from the service control manager), and a retest passes. Without the service, the repair fails
# and offers what a failed repair offers. Runs under an X server.
#   tests/e2e/kavid_lumeq.sh <kavid.exe> <work folder> <kvd_scenario_install> <kvd_ui_driver.exe>
#                            <sane.ds>
set -euo pipefail
exe="$(readlink -f "$1")"
work="$(realpath -m "$2")"
installer="$(readlink -f "$3")"
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
[ -x "$installer" ] || { echo "FAIL: $installer is missing: build the native preset first"; exit 1; }

mkdir -p "$work"
# shellcheck source=tests/e2e/fresh-prefix.sh
source "$here/fresh-prefix.sh" "$work/lumeq-prefix"
# shellcheck source=tests/e2e/ui.sh
source "$here/ui.sh" "$4" "$(dirname "$exe")/strings"
# shellcheck source=tests/e2e/twain-setup.sh
source "$here/twain-setup.sh"
"$installer" "$here/../scenarios/usb-lumeq.xml" >/dev/null
wine reg add 'HKLM\SYSTEM\CurrentControlSet\Control\Class\{6bdd1fc6-810f-11d0-bec7-08002be2092f}\0011\DeviceData' \
  /v TwainDS /t REG_SZ /d "Quvari LQ 3100 TWAIN" /f </dev/null >/dev/null 2>&1
kvd_install_twain "$(readlink -f "$5")" "Quvari LQ 3100 TWAIN" 0011
service="QV Lumeq Service"
kvd_install_service "$service" "$(kvd_fakes "$exe")/qvsvcfake.exe" \
  'C:\Program Files (x86)\Quvari\Lumeq\qvlumeqsvc.exe' disabled stopped
calls="$WINEPREFIX/drive_c/Program Files (x86)/Quvari/Lumeq/qvlumeqsvc.exe.calls"
status=0
fail() { echo "FAIL: $*"; status=1; }
service_row() { kvd_row_mark 6; }

kvd_start_diagnosis "$exe" "Lumeq LQ 3100"
wait_enabled 1003 600 || fail "the run never stopped"
kvd_skip_to_row 6
# A warning: the TWAIN scan passed.
[ "$(service_row)" = 2 ] || fail "the disabled service marks the row <$(service_row)>"
[ "$(kvd_result)" = "$(kvd_shown_text LUMEQ_SERVICE_ERROR)" ] || fail "the disabled service gave <$(kvd_result)>"
[ "$(drv visible "$host" 1002)" = 1 ] || fail "Fix is not offered"
[ "$(kvd_service_state "$service")" = STOPPED ] || fail "the diagnosis changed the service"

drv command "$host" 1002
for _ in $(seq 1 100); do [ "$(kvd_service_state "$service")" = RUNNING ] && break; sleep 0.1; done
[ "$(kvd_service_state "$service")" = RUNNING ] ||
  fail "the repaired service is <$(kvd_service_state "$service")>"
[ "$(kvd_service_start_type "$service")" = 2 ] ||
  fail "the repaired service starts <$(kvd_service_start_type "$service")>, not automatically"
grep -q "^started $service" "$calls" 2>/dev/null || fail "the service did not record its start"
wait_enabled 1003 600 || fail "the run did not stop after the repair"
kvd_retest
kvd_skip_to_row 6
[ "$(service_row)" = 0 ] || fail "the running service marks the row <$(service_row)>: <$(kvd_result)>"

# Without the service: the repair cannot help.
wine sc stop "$service" </dev/null >/dev/null 2>&1 || true
for _ in $(seq 1 50); do [ "$(kvd_service_state "$service")" = STOPPED ] && break; sleep 0.1; done
wine sc delete "$service" </dev/null >/dev/null 2>&1 || fail "the service could not be removed"
kvd_retest
kvd_skip_to_row 6
[ "$(kvd_result)" = "$(kvd_shown_text LUMEQ_SERVICE_ERROR)" ] || fail "no service gave <$(kvd_result)>"
drv command "$host" 1002
for _ in $(seq 1 100); do [ "$(kvd_result)" = "$(kvd_shown_text FIX_FAIL)" ] && break; sleep 0.1; done
[ "$(kvd_result)" = "$(kvd_shown_text FIX_FAIL)" ] || fail "the failed repair shows <$(kvd_result)>"
[ "$(drv visible "$host" 1009)" = 1 ] || fail "Uninstall is not offered after the failed repair"

kvd_close_and_read_log
grep -q 'Fixes Lumeq Service Issue.' <<<"$log" || fail "the repair was not logged"
grep -q 'OpenService failed. Service : QV Lumeq Service' <<<"$log" ||
  fail "the missing service was not logged"
[ "$status" = 0 ] && echo "PASS: the Lumeq service check and its repair against a real service"
exit "$status"
