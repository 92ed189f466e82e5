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
# Starts kavid.exe, waits for its window and device list, and diagnoses the first device, or
# with a second argument the first whose row matches that pattern (grep).
kvd_start_diagnosis() {
  kvd_launch "$1"
  kvd_wait_host || return 1
  for _ in $(seq 1 100); do [ -n "$(drv list-rows "$host" 1020)" ] && break; sleep 0.1; done
  local row=0
  # With a pattern: the first device whose row matches it.
  if [ -n "${2:-}" ]; then
    row="$(drv list-rows "$host" 1020 | grep -n -m1 -e "$2" | cut -d: -f1)"
    [ -n "$row" ] || { echo "FAIL: no device row matches <$2>"; return 1; }
    row=$((row - 1))
  fi
  drv select-row "$host" 1020 "$row"
  drv click "$host" 1005
  sleep 0.3
}
# The result pane's text, without the tabs the program ends a link's text with.
kvd_result() { drv richedit-text "$host" 1041 | sed 's/\t*$//'; }
# A key's English text as the result pane shows it, without its link marks.
kvd_shown_text() { kvd_text "$1" | sed 's#<a>##; s#</a>##'; }
# The status mark of the diagnosis page's row <n> (1 = the first row), -1 while it has none.
kvd_row_mark() { drv list-images "$host" 1024 | sed -n "${1}p"; }
# From a stopped run: Skip until row <n> has its mark (the test's own fail when it cannot).
kvd_skip_to_row() {
  for _ in $(seq 1 12); do
    [ "$(kvd_row_mark "$1")" != -1 ] && return 0
    drv click "$host" 1030 || { fail "Skip is not offered at <$(kvd_result)>"; return 1; }
    sleep 0.3
    wait_enabled 1003 600 || { fail "the run did not stop after Skip"; return 1; }
  done
  [ "$(kvd_row_mark "$1")" != -1 ] || fail "the check of row $1 did not run"
}
# Retest, and wait until the new run stops.
kvd_retest() {
  drv click "$host" 1028
  sleep 0.3
  wait_enabled 1003 600 || fail "the retest never stopped"
}
# Cancel on the diagnosis page: the program must end with 0 (the test's own fail is called
# otherwise); its trace log, as UTF-8 without carriage returns, is then in `log`.
kvd_close_and_read_log() {
  drv click "$host" 1006
  kvd_wait_exit 20000
  [ "$kavid_rc" = 0 ] || fail "kavid.exe ended with $kavid_rc"
  kvd_temp_folders
  log="$(iconv -f UTF-16LE -t UTF-8 "$temp_unix/qv_kvd.log" | tr -d '\r')"
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

# A service of the suite, created in the prefix under <name> for our stand-in
# (tools/fakes/SuiteService.cpp, copied to the Windows path <path>), of start type <start> (auto,
# demand or disabled), and started unless <state> is "stopped".
#   kvd_install_service <name> <qvsvcfake.exe> <Windows path> <start> [running|stopped]
kvd_install_service() {
  local name="$1" fake="$2" path="$3" start="$4" state="${5:-running}" unix
  unix="$(winepath -u "$path" 2>/dev/null)"
  mkdir -p "$(dirname "$unix")"
  cp "$fake" "$unix"
  wine sc create "$name" binPath= "$path" start= "$start" </dev/null >/dev/null 2>&1 ||
    { echo "FAIL: the service $name could not be created"; return 1; }
  [ "$state" = stopped ] && return 0
  wine sc start "$name" </dev/null >/dev/null 2>&1 ||
    { echo "FAIL: the service $name could not be started"; return 1; }
}
# The state of a service as sc query tells it (RUNNING, STOPPED, ...), and its start type as the
# service control manager keeps it (2 automatic, 3 on demand, 4 disabled). Wine's sc has no qc.
kvd_service_state() {
  wine sc query "$1" </dev/null 2>/dev/null | tr -d '\r' | sed -n 's/.*STATE *: *[0-9]* *//p'
}
kvd_service_start_type() {
  wine reg query "HKLM\\System\\CurrentControlSet\\Services\\$1" /v Start </dev/null 2>/dev/null |
    tr -d '\r' | sed -n 's/.*REG_DWORD *0x//p'
}
# The Parlo device service of the suite, usable: what a healthy all-in-one machine has.
#   kvd_install_parlo <qvsvcfake.exe> [start type] [running|stopped]
kvd_install_parlo() {
  kvd_install_service "Parlo Driver QVZ12" "$1" \
    'C:\Program Files (x86)\Quvari\Parlo\qvparlo.exe' "${2:-auto}" "${3:-running}"
}
# The folder of the stand-ins (tools/fakes/) of the build whose kavid.exe is <exe>.
kvd_fakes() { readlink -f "$(dirname "$1")/../tools/fakes"; }
# The composite all-in-one on a machine with the suite's registration, scan flow and tools
# (tests/scenarios), the device's TWAIN source (our data source; twain-setup.sh must be sourced)
# and the Parlo service: what the whole-program runs of an all-in-one start from.
#   kvd_install_aio_suite <kvd_scenario_install> <sane.ds> <kavid.exe> [more scenario files]
kvd_install_aio_suite() {
  local scenarios installer="$1" source="$2" exe="$3"
  scenarios="$(dirname "${BASH_SOURCE[0]}")/../scenarios"
  shift 3
  "$installer" "$scenarios/usb-aio-composite.xml" "$scenarios/suite-tools.xml" \
    "$scenarios/suite-registry.xml" "$scenarios/suite-scanflow.xml" "$@" >/dev/null
  kvd_install_twain "$(readlink -f "$source")" "Quvari AIO 3400 Series TWAIN" 0003
  # The suite's Parlo device service, usable, as the monitor check on the way wants it.
  kvd_install_parlo "$(kvd_fakes "$exe")/qvsvcfake.exe"
}
