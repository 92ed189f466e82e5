# Sourced by the whole-program tests that drive kavid.exe's window (under an X server, see
# xvfb-run in the tests' commands), after fresh-prefix.sh.
#   source tests/e2e/ui.sh <kvd_ui_driver.exe> <folder of the language files>
KVD_UI_DRIVER="$(readlink -f "$1")"
KVD_UI_STRINGS="$(readlink -f "$2")"

# The UI driver; its output without the console's carriage returns.
drv() { wine "$KVD_UI_DRIVER" "$@" </dev/null 2>/dev/null | tr -d '\r'; }

# The English text of a key, as the program shows it (without carriage returns, as the driver
# prints texts).
kvd_text() {
  python3 - "$KVD_UI_STRINGS/1033.xml" "$1" <<'PY' | tr -d '\r'
import sys, xml.dom.minidom
d = xml.dom.minidom.parse(sys.argv[1])
value = next((e.getAttribute("Value") for e in d.getElementsByTagName("String")
              if e.getAttribute("ID") == sys.argv[2]), "")
# The program turns the files' written-out line breaks into real ones.
print(value.replace("\\r\\n", "\n"))
PY
}

# Starts kavid.exe in the background: kavid_pid is its process, kavid_started its start time
# (ns); kvd_wait_host then sets host to its window's handle.
kvd_launch() {
  kavid_started=$(date +%s%N)
  wine "$1" </dev/null >/dev/null 2>&1 &
  kavid_pid=$!
}
kvd_wait_host() {
  host="$(drv wait-window "$(kvd_text TITLE)" "${1:-30000}")"
  [ -n "$host" ] || { echo "FAIL: the host window did not appear"; return 1; }
}
# Waits until control <id> of the host is enabled (a run stopped and offers navigation), at most
# <tenths> of a second (200 when not given).
wait_enabled() {
  for _ in $(seq 1 "${2:-200}"); do
    [ "$(drv enabled "$host" "$1")" = 1 ] && return 0
    sleep 0.1
  done
  return 1
}
# Waits for kavid.exe to end: kavid_rc is its exit code, 124 when it did not end in time.
kvd_wait_exit() {
  local waited=0
  while kill -0 "$kavid_pid" 2>/dev/null && [ "$waited" -lt "${1:-30000}" ]; do
    sleep 0.1
    waited=$((waited + 100))
  done
  if kill -0 "$kavid_pid" 2>/dev/null; then
    kavid_rc=124
    kill -9 "$kavid_pid" 2>/dev/null || true
  else
    kavid_rc=0
    wait "$kavid_pid" || kavid_rc=$?
  fi
}

# The error records of a trace log (UTF-8 text on stdin) but those that Wine's WIA causes: it has
# a device manager and no device, so every WIA test scan logs the wrapper's two failures.
kvd_error_records() {
  tr -d '\r' | grep '(##)' |
    grep -v -E '\(##\) +(CreateDevice failed,trying SelectDeviceDlg|SelectDeviceDlg Failed; WIA scan failure) *$' ||
    true
}
