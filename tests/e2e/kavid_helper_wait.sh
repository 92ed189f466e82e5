#!/usr/bin/env bash
# kavid.exe's device-manager check under Wine with a helper that hangs and one that answers at
# once: our recorder (tools/fakes) in the helper's place, beside a copy of kavid.exe. The exact
# parameter strings of "-d" and "-f" as the helper receives them, the 60-second limit of the wait
# (the run goes on with the check failed, no error dialog, the page usable), and a problem
# number and a repair answered by the helper. Runs under an X server (xvfb-run).
#   tests/e2e/kavid_helper_wait.sh <kavid.exe> <work folder> <kvd_scenario_install>
#                                  <kvd_ui_driver.exe> <kvd_fake_recorder.exe>
set -euo pipefail
exe="$(readlink -f "$1")"
work="$(realpath -m "$2")"
installer="$(readlink -f "$3")"
recorder="$(readlink -f "$5")"
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
[ -x "$installer" ] || { echo "FAIL: $installer is missing: build the native preset first"; exit 1; }

mkdir -p "$work"
# shellcheck source=tests/e2e/fresh-prefix.sh
source "$here/fresh-prefix.sh" "$work/helper-wait-prefix"
"$installer" "$here/../scenarios/usb-aio-composite.xml" >/dev/null
# A copy of the program, with the recorder as its helper.
app="$WINEPREFIX/drive_c/Kavid"
mkdir -p "$app/DeviceManager"
cp "$exe" "$app/kavid.exe"
cp -r "$(dirname "$exe")/strings" "$app/strings"
helper="$app/DeviceManager/DeviceManager.exe"
cp "$recorder" "$helper"
# shellcheck source=tests/e2e/ui.sh
source "$here/ui.sh" "$4" "$app/strings"
status=0
fail() { echo "FAIL: $*"; status=1; }
# The parameter string of the helper's last start (the recorder writes the whole command line).
last_parameters() { tail -n 1 "$helper.calls" | tr -d '\r' | cut -f1 | sed 's/^"[^"]*" //; s/^[^ "]* //'; }
starts() { grep -c . "$helper.calls" 2>/dev/null || true; }

touch "$helper.hang"
kvd_launch "$app/kavid.exe"
kvd_wait_host
for _ in $(seq 1 100); do [ -n "$(drv list-rows "$host" 1020)" ] && break; sleep 0.1; done
drv select-row "$host" 1020 0
drv click "$host" 1005
for _ in $(seq 1 100); do [ "$(starts)" -ge 2 ] && break; sleep 0.1; done
# (the first start is the start-up rescan, not waited for)
[ "$(head -n 1 "$helper.calls" | cut -f1 | sed 's/^"[^"]*" //; s/^[^ "]* //')" = '"-r"' ] ||
  fail "the start-up rescan's parameters were <$(head -n 1 "$helper.calls")>"
hwid='usb\vid_2f8d&pid_0105&rev_0100&mi_00'
desc="$(drv list-rows "$host" 1020 2>/dev/null | cut -f1 | head -n 1)"
waited_from=$(date +%s)
[ "$(last_parameters)" = "\"-d\" \"Quvari AIO 3400 Series\" \"$hwid\" " ] ||
  fail "-d was given <$(last_parameters)>"
# The hung helper: a minute, then the check fails with the unknown problem and the run stops.
wait_enabled 1003 900 || fail "the run did not stop after the helper's minute"
waited=$(( $(date +%s) - waited_from ))
[ "$waited" -ge 59 ] || fail "the check gave up on the helper after $waited s"
[ "$(drv richedit-text "$host" 1041)" = "$(kvd_text DEVMGRISSUE_UNKNOWN)" ] ||
  fail "after the hung helper the page said <$(drv richedit-text "$host" 1041)>"
[ "$(drv visible "$host" 1009)" = 1 ] || fail "Uninstall is not offered after the hung helper"

# An answer at once: problem 22, the Fix button; the repair's "-f" and its success.
rm "$helper.hang"
echo 22 >"$helper.exit"
drv click "$host" 1028
sleep 0.3
wait_enabled 1003 || fail "the retest never stopped"
[ "$(drv richedit-text "$host" 1041)" = "$(kvd_text DEVMGRISSUE_FIX)" ] ||
  fail "problem 22 gave <$(drv richedit-text "$host" 1041)>"
[ "$(drv visible "$host" 1002)" = 1 ] || fail "Fix is not offered for problem 22"
echo 0 >"$helper.exit"
drv click "$host" 1002
for _ in $(seq 1 100); do [ "$(starts)" -ge 4 ] && break; sleep 0.1; done
[ "$(last_parameters)" = "\"-f\" \"Quvari AIO 3400 Series\" \"$hwid\" \"\" 22 " ] ||
  fail "-f was given <$(last_parameters)>"
# The repair counts: the run goes on to the driver check, which stops it (this driver has no
# scan-folder setting).
sleep 0.3
wait_enabled 1003 || fail "the run did not stop after the repair"
[ "$(drv richedit-text "$host" 1041)" = "$(kvd_text UPDATE_SCAN_DRIVER)" ] ||
  fail "after the repair the page said <$(drv richedit-text "$host" 1041)>"

drv click "$host" 1006 >/dev/null 2>&1 || true
kvd_wait_exit 20000
[ "$kavid_rc" = 0 ] || fail "kavid.exe ended with $kavid_rc"
kvd_temp_folders
log="$(iconv -f UTF-16LE -t UTF-8 "$temp_unix/qv_kvd.log")"
grep -q 'The device-manager helper gave no answer (259)\.' <<<"$log" ||
  fail "the hung helper is not in the log"
grep -q 'The repair of check 1: fixed' <<<"$log" || fail "the helper's repair did not count as fixed"
[ "$(grep -c '(##)' <<<"$log")" = 1 ] || fail "error records besides the hung helper: $(grep '(##)' <<<"$log")"
echo "figure: the check gave up on the hung helper after $waited s (desc <$desc>)"
[ "$status" = 0 ] && echo "PASS: the helper's wait under Wine"
exit "$status"
