#!/usr/bin/env bash
# kavid.exe's real window under Wine, driven by the UI driver: the device list of four installed
# devices, Diagnose enabled by a row, a second start while it runs, the About box, a device
# change, Cancel; then a machine without devices. Also measures the time to the filled list,
# the CPU time of an idle device page and the peak memory (figures in <work>/window-figures.txt).
# Runs under an X server (xvfb-run).
#   tests/e2e/kavid_window.sh <kavid.exe> <work folder> <kvd_scenario_install> <kvd_ui_driver.exe>
set -euo pipefail
exe="$(readlink -f "$1")"
work="$(realpath -m "$2")"
installer="$(readlink -f "$3")"
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
scenarios="$here/../scenarios"
[ -x "$installer" ] || { echo "FAIL: $installer is missing: build the native preset first"; exit 1; }

mkdir -p "$work"
# shellcheck source=tests/e2e/fresh-prefix.sh
source "$here/fresh-prefix.sh" "$work/window-prefix"
# shellcheck source=tests/e2e/ui.sh
source "$here/ui.sh" "$4" "$(dirname "$exe")/strings"
"$installer" "$scenarios/usb-aio-composite.xml" "$scenarios/usb-lumeq.xml" \
  "$scenarios/network-ostrel.xml" "$scenarios/network-aio.xml" >/dev/null
kvd_temp_folders
log="$temp_unix/qv_kvd.log"
status=0
fail() { echo "FAIL: $*"; status=1; }
log_text() { iconv -f UTF-16LE -t UTF-8 "$log" | tr -d '\r'; }

# A browser that only records what it was asked to open (Wine hands web addresses to xdg-open).
mkdir -p "$work/bin"
opened="$work/opened-urls.txt"
rm -f "$opened"
printf '#!/bin/sh\nprintf "%%s\\n" "$1" >>"%s"\n' "$opened" >"$work/bin/xdg-open"
chmod +x "$work/bin/xdg-open"
export PATH="$work/bin:$PATH"

kvd_launch "$exe"
kvd_wait_host
page="$(drv wait-control "$host" 1020 20000)"
# The rows come when the enumeration reports; until then the list is empty.
rows=""
for _ in $(seq 1 100); do
  rows="$(drv list-rows "$host" 1020)"
  [ "$(grep -c . <<<"$rows" || true)" -ge 4 ] && break
  sleep 0.1
done
expected_rows="$(printf '%s\t%s\t%s\n' \
  "Quvari AIO 3400 Series" "USB" "AIO 3400" \
  "Quvari Lumeq LQ 3100" "USB" "Quvari LQ 3100 Scanner" \
  "Quvari QX-800" "127.0.0.3" "Quvari QX-800 Series" \
  "Quvari AIO 4500 Series" "ip=127.0.0.4,port=9100" "AIO 4500")"
[ "$rows" = "$expected_rows" ] || fail "the rows are <$rows>, expected <$expected_rows>"
columns="$(drv list-columns "$host" 1020)"
[ "$columns" = "$(printf '%s\t%s\t%s' "$(kvd_text SCANNER)" "$(kvd_text PORT)" "$(kvd_text MODEL)")" ] ||
  fail "the columns are <$columns>"
[ "$(drv enabled "$host" 1005)" = 0 ] || fail "Diagnose is enabled before a row is chosen"
[ "$(drv text "$host" 1005)" = "$(kvd_text DIAGNOSE)" ] || fail "Diagnose is captioned <$(drv text "$host" 1005)>"
drv select-row "$host" 1020 2
[ "$(drv enabled "$host" 1005)" = 1 ] || fail "Diagnose is not enabled after a row was chosen"

# The customer link, by a click and by Enter.
drv click-link "$host" 1016
drv key-link "$host" 1016
for _ in $(seq 1 100); do
  [ "$(grep -c . "$opened" 2>/dev/null || true)" -ge 2 ] && break
  sleep 0.1
done
expected_urls="$(printf '%s\n%s' "$(kvd_text QV_LINK_CUSTOMER)" "$(kvd_text QV_LINK_CUSTOMER)")"
[ "$(cat "$opened" 2>/dev/null)" = "$expected_urls" ] ||
  fail "the link opened <$(cat "$opened" 2>/dev/null)>, expected the customer address twice"

# Idle on the filled page: no timer left running, no polling.
pid_stat() { awk '{print $14 + $15}' "/proc/$kavid_pid/stat"; }
cpu_before=$(pid_stat)
sleep 10
cpu_after=$(pid_stat)
ticks=$(getconf CLK_TCK)
idle_cpu_percent=$(python3 -c "print(round(100.0 * ($cpu_after - $cpu_before) / $ticks / 10, 2))")
peak_kb=$(awk '/^VmHWM:/ {print $2}' "/proc/$kavid_pid/status")

# A second start shows only its message box; this window and its log stay.
starts_before=$(log_text | grep -c '(->) CKavidApp::CKavidApp' || true)
wine "$exe" </dev/null >/dev/null 2>&1 &
second=$!
box="$(drv read-box "$(kvd_text TITLE)" 20000)"
wait "$second" || true
[ "$box" = "$(kvd_text APP_RUNNING)" ] || fail "the second start showed <$box>"
[ "$(drv visible "$host" 1020)" = 1 ] || fail "the first window did not stay"
[ "$(log_text | grep -c '(->) CKavidApp::CKavidApp' || true)" -eq $((starts_before + 1)) ] ||
  fail "the first instance's log was not kept"

# The About box of the system menu: three lines, the four-part version.
drv syscommand "$host" 16
about="$(drv wait-window "$(kvd_text ABOUT_TITLE)" 10000)"
about_text="$(drv text "$about" 1033)"
expected_about="$(kvd_text TITLE)\\r\\n$(kvd_text VERSION) 1.0.0.1\\r\\n$(kvd_text COPYRIGHT)"
[ "$about_text" = "$expected_about" ] || fail "the About text is <$about_text>, expected <$expected_about>"
[ "$(drv text "$about" 1)" = "$(kvd_text OK)" ] || fail "the About box's button is <$(drv text "$about" 1)>"
[ -n "${KVD_SCREENSHOTS:-}" ] && bash "$here/../../tools/screenshot.sh" "$KVD_SCREENSHOTS/about.png"
drv click "$about" 1
drv wait-gone "$about" 10000 || fail "the About box did not close"

# A device change: one information record, nothing else.
[ "$(drv send "$host" 0x219 7 0)" = 1 ] || fail "WM_DEVICECHANGE was not answered TRUE"
[ -n "${KVD_SCREENSHOTS:-}" ] && bash "$here/../../tools/screenshot.sh" "$KVD_SCREENSHOTS/device-list.png"

# The tester's hidden menu: a left click on the caption with the left Shift and Ctrl keys down
# (real input through the X server, as a user's). Neither a plain click, nor Shift alone, nor a
# click on the window icon opens a menu (a pop-up menu is a "#32768" window). Wine on Xvfb
# reports the right Shift and Ctrl keys as the left ones: that rule is tested natively.
if command -v xdotool >/dev/null 2>&1; then
  read -r left top right _ <<<"$(drv rect "$host")"
  caption_y=$((top + 10))
  popups() { drv windows | grep -c $'\t#32768\t' || true; }
  caption_click() {
    xdotool mousemove "$1" "$caption_y"
    [ -n "$2" ] && xdotool keydown $2
    xdotool mousedown 1
    sleep 0.2
    xdotool mouseup 1
    [ -n "$2" ] && xdotool keyup $2
    sleep 0.8
  }
  middle=$(((left + right) / 2))
  caption_click "$middle" ""
  [ "$(popups)" = 0 ] || fail "a plain caption click opened a menu"
  caption_click "$middle" "Shift_L"
  [ "$(popups)" = 0 ] || fail "the Shift key alone opened the hidden menu"
  caption_click $((left + 10)) ""
  [ "$(popups)" = 0 ] || fail "a click on the window icon opened the system menu"
  caption_click "$middle" "Shift_L Control_L"
  [ "$(popups)" = 1 ] || fail "the left Shift and Ctrl keys did not open the hidden menu"
  [ -n "${KVD_SCREENSHOTS:-}" ] && bash "$here/../../tools/screenshot.sh" "$KVD_SCREENSHOTS/hidden-menu.png"
  xdotool key Escape
  sleep 0.5
  [ "$(popups)" = 0 ] || fail "Escape did not close the hidden menu"
else
  echo "note: xdotool is missing, the hidden menu is not checked with real input"
fi

# Cancel ends the program with code 0, the mutex released and the log complete.
drv click "$host" 1006
kvd_wait_exit 20000
[ "$kavid_rc" = 0 ] || fail "kavid.exe ended with $kavid_rc after Cancel"
text="$(log_text)"
[ "$(grep -c 'WM_DEVICECHANGE' <<<"$text")" = 1 ] || fail "not exactly one WM_DEVICECHANGE record"
grep -q '(I0) *WM_DEVICECHANGE MSG with WPARAM = 7 and LPARAM = 0$' <<<"$text" ||
  fail "the WM_DEVICECHANGE record is not the information record expected"
grep -q 'Clicked cancel from Main dialog.' <<<"$text" || fail "Cancel was not logged"
grep -q '(<-) CKavidApp::~CKavidApp' <<<"$text" || fail "the log's last records are missing"
grep -q '(##)' <<<"$text" && fail "error records: $(grep '(##)' <<<"$text")"
first_us=$(grep -m1 -o '^[0-9]\{14\}:[0-9A-F]\{9\}' <<<"$text" | cut -d: -f2)
fill_us=$(grep -m1 'Fill scanners list' <<<"$text" | grep -o '^[0-9]\{14\}:[0-9A-F]\{9\}' | cut -d: -f2)
list_ms=$(( (16#$fill_us - 16#$first_us) / 1000 ))

# The mutex is free again: a new start shows its window, not the running-instance box.
kvd_launch "$exe"
kvd_wait_host || fail "a start after Cancel did not show its window"
drv click "$host" 1006
kvd_wait_exit 20000

# No device: one NO_SCANNER box, and Diagnose stays disabled.
wineserver -k </dev/null >/dev/null 2>&1 || true
kvd_wine_fresh_prefix
wineserver -p </dev/null >/dev/null 2>&1 || true
wine cmd /c exit </dev/null >/dev/null 2>&1 || true
kvd_launch "$exe"
if [ -n "${KVD_SCREENSHOTS:-}" ]; then
  kvd_wait_host
  sleep 2
  bash "$here/../../tools/screenshot.sh" "$KVD_SCREENSHOTS/no-device.png"
fi
box="$(drv read-box "$(kvd_text TITLE)" 30000)"
[ "$box" = "$(kvd_text NO_SCANNER)" ] || fail "without devices the box said <$box>"
kvd_wait_host
[ "$(drv enabled "$host" 1005)" = 0 ] || fail "Diagnose is enabled without devices"
[ -z "$(drv list-rows "$host" 1020)" ] || fail "rows without devices"
drv close "$host"
kvd_wait_exit 20000
[ "$kavid_rc" = 0 ] || fail "kavid.exe ended with $kavid_rc after closing its window"
boxes=$(log_text | grep -c 'Fill scanners list' || true)
[ "$boxes" = 1 ] || fail "the list was filled $boxes times"

# What Wine itself takes: the UI driver, a console program of ours, waiting for nothing.
wine "$KVD_UI_DRIVER" wait-window "no such window" 3000 </dev/null >/dev/null 2>&1 &
floor=$!
sleep 2
floor_kb=$(awk '/^VmHWM:/ {print $2}' "/proc/$floor/status")
wait "$floor" || true

cat >"$work/window-figures.txt" <<FIGURES
time from the first record to the filled list: $list_ms ms
CPU of kavid.exe idling 10 s on the device page: $idle_cpu_percent % of one core
peak working set (VmHWM of the process): $((peak_kb / 1024)) MB ($peak_kb kB)
the same for a console program of ours under Wine: $((floor_kb / 1024)) MB ($floor_kb kB)
FIGURES
cat "$work/window-figures.txt"
[ "$status" = 0 ] && echo "PASS: kavid.exe's window under Wine"
exit "$status"
