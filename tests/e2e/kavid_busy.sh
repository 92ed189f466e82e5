#!/usr/bin/env bash
# kavid.exe refuses to close while a check runs, for real: a network device whose echo requests
# go unanswered (a network namespace whose loopback ignores them, as ping_timeout.sh makes) keeps
# the connection check busy for its one-second timeout. Escape, WM_CLOSE and the Close command
# sent meanwhile leave the window; once the check failed, Close ends the program. Needs root
# (CI is); runs its own X server inside the namespace.
#   tests/e2e/kavid_busy.sh <kavid.exe> <work folder> <kvd_scenario_install> <kvd_ui_driver.exe>
set -euo pipefail
exe="$(readlink -f "$1")"
work="$(realpath -m "$2")"
installer="$(readlink -f "$3")"
driver="$(readlink -f "$4")"
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
if [ "${KVD_IN_SILENT_NAMESPACE:-}" != 1 ]; then
  mkdir -p "$work"
  KVD_IN_SILENT_NAMESPACE=1 exec unshare -n xvfb-run -a -s "-screen 0 1024x768x24" \
    bash "${BASH_SOURCE[0]}" "$exe" "$work" "$installer" "$driver"
fi

ip link set lo up
echo 1 >/proc/sys/net/ipv4/icmp_echo_ignore_all
# shellcheck source=tests/e2e/fresh-prefix.sh
source "$here/fresh-prefix.sh" "$work/busy-prefix"
# shellcheck source=tests/e2e/ui.sh
source "$here/ui.sh" "$driver" "$(dirname "$exe")/strings"
"$installer" "$here/../scenarios/network-aio.xml" >/dev/null
status=0
fail() { echo "FAIL: $*"; status=1; }

kvd_launch "$exe"
kvd_wait_host
for _ in $(seq 1 100); do [ -n "$(drv list-rows "$host" 1020)" ] && break; sleep 0.1; done
drv select-row "$host" 1020 0
drv click "$host" 1005
# The running row, while the check waits for its answer (its picture comes with the first
# blink, after the page's first paint).
if [ -n "${KVD_SCREENSHOTS:-}" ]; then
  drv wait-control "$host" 1024 5000 >/dev/null || true
  sleep 0.5
  bash "$here/../../tools/screenshot.sh" "$KVD_SCREENSHOTS/diagnosis-running.png"
fi
# Within the check's second: Escape, WM_CLOSE and the system menu's Close.
drv post "$host" 0x111 2 0
drv close "$host"
drv syscommand "$host" close
for _ in $(seq 1 100); do
  [ "$(drv enabled "$host" 1003)" = 1 ] && break
  sleep 0.1
done
[ "$(drv visible "$host" 1024)" = 1 ] || fail "the window closed while the check ran"
[ "$(drv richedit-text "$host" 1041 | head -n 1)" != "" ] || fail "the check showed no result"
kvd_temp_folders
log="$temp_unix/qv_kvd.log"
grep -q 'Clicked Diagnose.' <(iconv -f UTF-16LE -t UTF-8 "$log") || fail "Diagnose was not logged"
drv click "$host" 1006
kvd_wait_exit 20000
[ "$kavid_rc" = 0 ] || fail "kavid.exe ended with $kavid_rc after Close"
[ "$status" = 0 ] && echo "PASS: no close while a check runs"
exit "$status"
