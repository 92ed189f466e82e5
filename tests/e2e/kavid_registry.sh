#!/usr/bin/env bash
# kavid.exe's registry consistency check under Wine: the composite all-in-one with the suite's
# registration (suite-registry.xml) and its TWAIN source (so that the run, with the Windows scan
# failing on Wine's WIA, passes the TWAIN check and may skip on). The registration passes; a
# wrong imaging class index is a warning with Fix, and Fix rewrites it (read back with reg
# query); a missing settings value asks for the driver refresh; a missing profile write path is
# written during the diagnosis. Runs under an X server.
#   tests/e2e/kavid_registry.sh <kavid.exe> <work folder> <kvd_scenario_install> <kvd_ui_driver.exe>
#                               <sane.ds>
set -euo pipefail
exe="$(readlink -f "$1")"
work="$(realpath -m "$2")"
installer="$(readlink -f "$3")"
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
[ -x "$installer" ] || { echo "FAIL: $installer is missing: build the native preset first"; exit 1; }

mkdir -p "$work"
# shellcheck source=tests/e2e/fresh-prefix.sh
source "$here/fresh-prefix.sh" "$work/registry-prefix"
# shellcheck source=tests/e2e/ui.sh
source "$here/ui.sh" "$4" "$(dirname "$exe")/strings"
# shellcheck source=tests/e2e/twain-setup.sh
source "$here/twain-setup.sh"
kvd_install_aio_suite "$installer" "$5" "$exe"
status=0
fail() { echo "FAIL: $*"; status=1; }
scan_key='HKLM\Software\Quvari\Brevane\Quvari AIO 3400 Series\DeviceInstances\0000\Functions\Scan'
data_key='HKLM\SYSTEM\CurrentControlSet\Control\Class\{6bdd1fc6-810f-11d0-bec7-08002be2092f}\0003\Devicedata'
# A value as `reg query` in the 32-bit view prints it: "<type> <data>".
reg_value() {
  wine reg query "$1" /v "$2" /reg:32 </dev/null 2>/dev/null | tr -d '\r' |
    awk -v name="$2" '$1 == name { $1 = ""; sub(/^ +/, ""); print }'
}
registry_row() { kvd_row_mark 7; }

# The profile write path is missing: written during the diagnosis, which passes.
wine reg delete 'HKLM\Software\Quvari\Brevane' /v ProfileWritePath /f /reg:32 </dev/null >/dev/null 2>&1
kvd_start_diagnosis "$exe"
wait_enabled 1003 600 || fail "the run never stopped"
kvd_skip_to_row 7
[ "$(registry_row)" = 0 ] || fail "the consistent registration marks the row <$(registry_row)>: <$(kvd_result)>"
[ "$(reg_value 'HKLM\Software\Quvari\Brevane' ProfileWritePath)" = 'REG_SZ %APPDATA%\QV\Brevane\Data\Destination' ] ||
  fail "the profile write path is <$(reg_value 'HKLM\Software\Quvari\Brevane' ProfileWritePath)>"

# Another instance's class index: a warning (the TWAIN scan passed) with Fix, which rewrites it.
wine reg add "$scan_key" /v ImagingClassIndex /d 0004 /f /reg:32 </dev/null >/dev/null 2>&1
kvd_retest
kvd_skip_to_row 7
[ "$(registry_row)" = 2 ] || fail "a wrong class index marks the row <$(registry_row)>"
[ "$(kvd_result)" = "$(kvd_text TWAIN_WIA_OK_REG_FAIL)" ] || fail "a wrong class index gave <$(kvd_result)>"
[ "$(drv visible "$host" 1002)" = 1 ] || fail "Fix is not offered for the class index"
[ "$(drv visible "$host" 1030)" = 0 ] || fail "Skip is offered beside Fix"
drv click "$host" 1002
sleep 0.5
wait_enabled 1003 600 || fail "the run did not stop after the repair"
[ "$(reg_value "$scan_key" ImagingClassIndex)" = "REG_SZ 0003" ] ||
  fail "the repair left <$(reg_value "$scan_key" ImagingClassIndex)>"
kvd_retest
kvd_skip_to_row 7
[ "$(registry_row)" = 0 ] || fail "the repaired registration marks the row <$(registry_row)>"

# The driver's settings value is missing: the driver refresh is offered.
wine reg delete "$data_key" /v LoadSettingsOnce /f /reg:32 </dev/null >/dev/null 2>&1
kvd_retest
kvd_skip_to_row 7
[ "$(kvd_result)" = "$(kvd_text UPDATE_SCAN_DRIVER_REG)" ] || fail "a missing settings value gave <$(kvd_result)>"
for id in 1015 1009 1030; do
  [ "$(drv visible "$host" "$id")" = 1 ] || fail "button $id is not offered for the driver's values"
done

kvd_close_and_read_log
grep -q 'Issue found for ProfileWritePath\.' <<<"$log" || fail "the profile write path's repair is not logged"
grep -q 'The repair of check 6: fixed' <<<"$log" || fail "the class index's repair did not count as fixed"
[ -z "$(kvd_error_records <<<"$log")" ] || fail "error records in the log: $(kvd_error_records <<<"$log")"
[ "$status" = 0 ] && echo "PASS: the registry check under Wine"
exit "$status"
