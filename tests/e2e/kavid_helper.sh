#!/usr/bin/env bash
# DeviceManager.exe, the 64-bit helper, under Wine: started the way kavid.exe starts it
# (ShellExecuteExW "open", hidden, from a 32-bit process: the UI driver's shell-run), with the
# parameter strings kavid.exe builds (quotes, blanks, backslashes), its exit codes, its own
# trace log, and devmgr.dll's property sheet (our fake, installed for both bitnesses since Wine
# has none). Wine reports no problem for any node and cannot change one: the problem numbers and
# repairs themselves are tested on the simulated machine. Runs under an X server (xvfb-run).
#   tests/e2e/kavid_helper.sh <DeviceManager.exe> <work folder> <kvd_scenario_install>
#                             <kvd_ui_driver.exe> <devmgr.dll 32-bit> <devmgr.dll 64-bit>
#                             <folder of the language files>
set -euo pipefail
helper="$(readlink -f "$1")"
work="$(realpath -m "$2")"
installer="$(readlink -f "$3")"
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
[ -x "$installer" ] || { echo "FAIL: $installer is missing: build the native preset first"; exit 1; }
status=0
fail() { echo "FAIL: $*"; status=1; }

# The executable itself: 64-bit, no mingw run-time DLLs to ship.
headers="$(x86_64-w64-mingw32-objdump -p "$helper")"
grep -q 'Magic[[:space:]]*020b' <<<"$headers" || fail "DeviceManager.exe is not PE32+"
if grep -i -E 'DLL Name: (libstdc|libgcc|libwinpthread)' <<<"$headers"; then
  fail "DeviceManager.exe needs mingw run-time DLLs"
fi

mkdir -p "$work"
# shellcheck source=tests/e2e/fresh-prefix.sh
source "$here/fresh-prefix.sh" "$work/helper-prefix"
# shellcheck source=tests/e2e/ui.sh
source "$here/ui.sh" "$4" "$7"
"$installer" "$here/../scenarios/usb-aio-composite.xml" >/dev/null
kvd_temp_folders
helper_win="$(winepath -w "$helper" 2>/dev/null)"
# One start of the helper: sets code (its exit code) and took (ms from the start to the exit
# code read).
run() {
  local out
  out="$(drv shell-run "$helper_win" "$1" 60000)"
  code="${out%%$'\t'*}"
  took="${out##*$'\t'}"
}
helper_log() { iconv -f UTF-16LE -t UTF-8 "$temp_unix/qv_kvd_devmgr.log"; }

# "-d": the device's node found by its hardware id, whatever its case; Wine reports problem 0.
timings=()
for _ in 1 2 3; do
  run '"-d" "Quvari AIO 3400" "usb\vid_2f8d&pid_0105&rev_0100&mi_00" '
  [ "$code" = 0 ] || fail "-d for the scenario's device exited $code"
  timings+=("$took")
done
grep -q 'The node of hardware id usb\\vid_2f8d&pid_0105&rev_0100&mi_00 has problem 0\.' <(helper_log) ||
  fail "the helper's log does not show the node it found"
# Quotes, blanks and a trailing backslash come through as kavid.exe quoted them.
run '"-d" "Quvari \"AIO\" 3400" "USB\VID_2F8D&PID_0999 X\\" '
[ "$code" = 100 ] || fail "-d for no device exited $code"
grep -qF 'No node of hardware id USB\VID_2F8D&PID_0999 X\ (' <(helper_log) ||
  fail "the hardware id with a blank did not come through: $(helper_log | grep 'No node' | tail -n 1)"

# "-f": without the driver package's INF path the reinstall cannot be made (103); a problem
# number that is not one is refused.
run '"-f" "Quvari AIO 3400" "usb\vid_2f8d&pid_0105&rev_0100&mi_00" "" 28 '
[ "$code" = 103 ] || fail "-f 28 without an INF path exited $code"
grep -q 'Repair error code 1021\.' <(helper_log) || fail "the reinstall's failure is not in the log"
# Wine cannot change a node's state: the enable is refused, and reported as not repaired.
run '"-f" "Quvari AIO 3400" "usb\vid_2f8d&pid_0105&rev_0100&mi_00" "" 22 '
[ "$code" = 103 ] || fail "-f 22 exited $code under Wine"
grep -q 'Repair error code 1023\.' <(helper_log) || fail "the enable's failure is not in the log"
run '"-f" "Quvari AIO 3400" "usb\vid_2f8d&pid_0105&rev_0100&mi_00" "" 2x '
[ "$code" = 87 ] || fail "-f with a bad problem number exited $code"

# "-u": without devmgr.dll, 1040; with ours, the 64-bit one shows the sheet of the id given.
id='USB\VID_2F8D&PID_0105&MI_00\6&1D2E3F4A&0&0000 "A"'
run "\"-u\" \"${id//\"/\\\"}\""
[ "$code" = 1040 ] || fail "-u without devmgr.dll exited $code"
system64="$WINEPREFIX/drive_c/windows/system32"
system32="$WINEPREFIX/drive_c/windows/syswow64"
cp --remove-destination "$(readlink -f "$6")" "$system64/devmgr.dll"
cp --remove-destination "$(readlink -f "$5")" "$system32/devmgr.dll"
run "\"-u\" \"${id//\"/\\\"}\"" &
runner=$!
sheet="$(drv read-box "Device properties" 20000)"
wait "$runner" || true
# (the background run's variables stay in its subshell: the exit code is in the log)
[ "$sheet" = "/MachineName \"\" /DeviceID $id" ] || fail "the property sheet was given <$sheet>"
[ "$(cat "$system64/devmgr.dll.calls" 2>/dev/null)" = "/MachineName \"\" /DeviceID $id" ] ||
  fail "the 64-bit devmgr.dll recorded <$(cat "$system64/devmgr.dll.calls" 2>/dev/null)>"
[ ! -e "$system32/devmgr.dll.calls" ] || fail "the 32-bit devmgr.dll was called by the helper"
[ "$(helper_log | grep -c 'Exit code 107\.')" = 1 ] || fail "-u did not exit 107 once the sheet closed"

# "-r" and a command line the helper does not take.
run '"-r"'
grep -q 'Switch -r with 1 items\.' <(helper_log) || fail "-r did not reach the helper"
run '"-x" "y"'
[ "$code" = 87 ] || fail "an unknown switch exited $code"
[ "$(helper_log | grep -c '(##)')" = 2 ] || fail "the helper's log has other error records than the two refused lines"

echo "figure: helper -d from start to exit code read, ms: ${timings[*]}"
[ "$status" = 0 ] && echo "PASS: DeviceManager.exe under Wine"
exit "$status"
