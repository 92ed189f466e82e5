#!/usr/bin/env bash
# The diagnosis page's Uninstall under Wine, for each family: the suite's scrubber of the product
# that lists the device (all-in-one, Tarvel), the Lumeq model folder's uninstaller and then the
# Lumeq installer, the Ostrel product of the Windows Installer really removed; No does nothing and
# a missing uninstaller tells the user. The maker's programs are our recorder (tools/fakes), the
# Ostrel product an .msi of ours (tests/wine/fixtures/quvari-ostrel.wxs). No check of this version
# offers the button, so the test sends the page the button's command (the UI driver's "command").
# Runs under an X server (xvfb-run).
#   tests/e2e/kavid_uninstall.sh <kavid.exe> <work folder> <kvd_scenario_install>
#                                <kvd_ui_driver.exe> <kvd_fake_recorder.exe> <quvari-ostrel.msi>
set -euo pipefail
exe="$(readlink -f "$1")"
work="$(realpath -m "$2")"
installer="$(readlink -f "$3")"
recorder="$(readlink -f "$5")"
msi="$(readlink -f "$6")"
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
scenarios="$here/../scenarios"
[ -x "$installer" ] || { echo "FAIL: $installer is missing: build the native preset first"; exit 1; }
[ -f "$msi" ] || { echo "FAIL: $msi is missing"; exit 1; }

mkdir -p "$work"
# shellcheck source=tests/e2e/fresh-prefix.sh
source "$here/fresh-prefix.sh" "$work/uninstall-prefix"
# shellcheck source=tests/e2e/ui.sh
source "$here/ui.sh" "$4" "$(dirname "$exe")/strings"
"$installer" "$scenarios/usb-aio-composite.xml" "$scenarios/usb-tarvel.xml" \
  "$scenarios/usb-lumeq.xml" "$scenarios/network-ostrel.xml" \
  "$scenarios/suite-uninstallers.xml" >/dev/null
quvari="$WINEPREFIX/drive_c/Program Files (x86)/Quvari"
installers="$WINEPREFIX/drive_c/Program Files (x86)/QV/durEzavarizi"
aio="$quvari/Brevane/QVAIO3400/setup/qvclean40.exe"
tarvel="$quvari/Brevane/QVT200/setup/qvclean40.exe"
lumeq="$quvari/Lumeq LQ3100/Uninstall.exe"
setup="$installers/LQ3100/Setup.exe"
# The 32-bit scrubbers too: a 32-bit program on 64-bit Windows must not start them.
for program in "$aio" "$tarvel" "$lumeq" "$setup" "$quvari/Brevane/QVAIO3400/setup/qvclean01.exe" \
  "$quvari/Brevane/QVT200/setup/qvclean01.exe"; do
  cp "$recorder" "$program"
done
product='{6E0B5C1D-7A43-4F7E-9C2B-3D8A1F4E5B60}'
installed() { wine reg query "HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\$product" \
  </dev/null >/dev/null 2>&1; }
wine msiexec /i "$(winepath -w "$msi")" /qn </dev/null >/dev/null 2>&1 ||
  { echo "FAIL: the Ostrel product did not install"; exit 1; }
installed || { echo "FAIL: the Ostrel product is not registered after its install"; exit 1; }

status=0
fail() { echo "FAIL: $*"; status=1; }
calls() { cat "$1.calls" 2>/dev/null | tr -d '\r' || true; }
wait_calls() {  # <program> <lines>
  for _ in $(seq 1 100); do
    [ "$(calls "$1" | grep -c . || true)" -ge "$2" ] && return 0
    sleep 0.1
  done
  return 1
}
# Opens the diagnosis page of the device row whose name is <name> and waits for the run to stop.
diagnose() {
  drv click "$host" 1003 >/dev/null 2>&1 || true  # back to the list, when on the page
  for _ in $(seq 1 100); do [ "$(drv visible "$host" 1020)" = 1 ] && break; sleep 0.1; done
  local row
  row="$(drv list-rows "$host" 1020 | cut -f1 | grep -n -x -F "$1" | head -n 1 | cut -d: -f1)"
  [ -n "$row" ] || { fail "no device row <$1> in <$(drv list-rows "$host" 1020 | cut -f1)>"; return 1; }
  drv select-row "$host" 1020 $((row - 1))
  drv click "$host" 1005
  sleep 0.3
  wait_enabled 1003 || { fail "the run of <$1> never stopped"; return 1; }
}
# Presses Uninstall and answers its question with <button> (6 Yes, 7 No): prints the question.
uninstall() {
  drv command "$host" 1009
  drv answer-box "$(kvd_text TITLE)" 10000 "$1"
}

kvd_launch "$exe"
kvd_wait_host
for _ in $(seq 1 100); do [ -n "$(drv list-rows "$host" 1020)" ] && break; sleep 0.1; done

# All-in-one: No leaves everything alone; Yes starts the product's 64-bit-Windows scrubber.
diagnose "Quvari AIO 3400 Series"
[ "$(uninstall 7)" = "$(kvd_text UNINSTALL_MSG)" ] || fail "the question was not UNINSTALL_MSG"
sleep 1
[ -z "$(calls "$aio")" ] || fail "No started the scrubber"
uninstall 6 >/dev/null
wait_calls "$aio" 1 || fail "the all-in-one scrubber was not started"
grep -q -F 'QVAIO3400\setup\qvclean40.exe' <<<"$(calls "$aio")" &&
  grep -q -F -- ' -datfile aioscr34.dat -showdisconnect -nocopytotemp -forcereboot' <<<"$(calls "$aio")" ||
  fail "the all-in-one scrubber was started as <$(calls "$aio")>"

# Tarvel: matched on its model, the release number of its own autorun.inf.
diagnose "Quvari Tarvel T200"
uninstall 6 >/dev/null
wait_calls "$tarvel" 1 || fail "the Tarvel scrubber was not started"
grep -q -F -- '-datfile tvscr2.dat -showdisconnect -nocopytotemp -forcereboot' <<<"$(calls "$tarvel")" ||
  fail "the Tarvel scrubber was started as <$(calls "$tarvel")>"

# Lumeq: the model folder's uninstaller, then (no properties.ini any more) the installer by the
# device's MatchingDeviceId, then (neither) the failure notice.
diagnose "Quvari Lumeq LQ 3100"
uninstall 6 >/dev/null
wait_calls "$lumeq" 1 || fail "the Lumeq uninstaller was not started"
grep -q -F 'Lumeq LQ3100\Uninstall.exe' <<<"$(calls "$lumeq")" ||
  fail "the Lumeq uninstaller was started as <$(calls "$lumeq")>"
rm "$quvari/Lumeq LQ3100/properties.ini"
uninstall 6 >/dev/null
wait_calls "$setup" 1 || fail "the Lumeq installer was not started"
grep -q -F 'LQ3100\Setup.exe" /Uninstall' <<<"$(calls "$setup")" ||
  grep -q -F 'LQ3100\Setup.exe /Uninstall' <<<"$(calls "$setup")" ||
  fail "the Lumeq installer was started as <$(calls "$setup")>"
rm "$installers/LQ3100/Installer/InstallerConfig.xml"
uninstall 6 >/dev/null
notice="$(drv read-box "$(kvd_text TITLE)" 10000)"
[ "$notice" = "$(kvd_text UNINSTALL_FAIL_MSG)" ] || fail "without an uninstaller the page said <$notice>"
[ "$(calls "$setup" | grep -c .)" = 1 ] || fail "the Lumeq installer was started again"

# Ostrel: the Windows Installer product whose ModelName the description holds, removed for real.
diagnose "Quvari QX-800"
uninstall 6 >/dev/null
for _ in $(seq 1 300); do installed || break; sleep 0.1; done
installed && fail "the Ostrel product is still installed"
# Nothing left to remove: the notice.
uninstall 6 >/dev/null
notice="$(drv read-box "$(kvd_text TITLE)" 10000)"
[ "$notice" = "$(kvd_text UNINSTALL_FAIL_MSG)" ] || fail "without the product the page said <$notice>"

for program in "$quvari/Brevane/QVAIO3400/setup/qvclean01.exe" "$quvari/Brevane/QVT200/setup/qvclean01.exe"; do
  [ -z "$(calls "$program")" ] || fail "a 32-bit Windows scrubber was started: <$(calls "$program")>"
done
[ "$(calls "$aio" | grep -c .)" = 1 ] || fail "the all-in-one scrubber was started $(calls "$aio" | grep -c .) times"
drv click "$host" 1006
kvd_wait_exit 20000
[ "$kavid_rc" = 0 ] || fail "kavid.exe ended with $kavid_rc"
kvd_temp_folders
# The one error record expected: the installer configuration removed above does not load.
errors="$(iconv -f UTF-16LE -t UTF-8 "$temp_unix/qv_kvd.log" | kvd_error_records)"
[ "$(grep -c . <<<"$errors")" = 1 ] && grep -q 'Failed to load XML DOM' <<<"$errors" ||
  fail "error records in the log: <$errors>"
[ "$status" = 0 ] && echo "PASS: Uninstall of each family under Wine"
exit "$status"
