#!/usr/bin/env bash
# Whole-program check of kavid.exe under Wine, in a prefix of its own made fresh for the run:
# the trace configuration it writes under HKCU and the UTF-16LE trace log it leaves in %TEMP%
# after a start that the user ends with Cancel. Runs under an X server (xvfb-run).
#   tests/e2e/kavid_smoke.sh <path to kavid.exe> <work folder> <kvd_ui_driver.exe>
set -euo pipefail
exe="$(readlink -f "$1")"
work="$2"
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"

# The executable itself: 32-bit, no mingw run-time DLLs to ship, elevation requested, versioned.
headers="$(i686-w64-mingw32-objdump -p "$exe")"
grep -q 'Magic[[:space:]]*010b' <<<"$headers" || { echo "FAIL: kavid.exe is not PE32"; exit 1; }
if grep -i -E 'DLL Name: (libstdc|libgcc|libwinpthread)' <<<"$headers"; then
  echo "FAIL: kavid.exe needs mingw run-time DLLs"; exit 1
fi
grep -q 'level="requireAdministrator"' <(strings "$exe") || { echo "FAIL: no requireAdministrator manifest"; exit 1; }
grep -q 'FileVersion' <(strings -el "$exe") || { echo "FAIL: no version resource"; exit 1; }

mkdir -p "$work"
# shellcheck source=tests/e2e/fresh-prefix.sh
source "$here/fresh-prefix.sh" "$work/smoke-prefix"

# shellcheck source=tests/e2e/ui.sh
source "$here/ui.sh" "$3" "$(dirname "$exe")/strings"
kvd_launch "$exe"
# No device on this machine: its message first (it holds the window until it is answered).
box="$(drv read-box "$(kvd_text TITLE)" 30000)"
[ "$box" = "$(kvd_text NO_SCANNER)" ] || { echo "FAIL: the first box said <$box>"; exit 1; }
kvd_wait_host
drv click "$host" 1006
kvd_wait_exit 20000
[ "$kavid_rc" = 0 ] || { echo "FAIL: kavid.exe ended with $kavid_rc after Cancel"; exit 1; }
wine reg query 'HKCU\Software\QV\NG\Logging\kavid.exe' </dev/null >"$work/smoke-reg.txt" 2>/dev/null
kvd_temp_folders
python3 "$here/check_smoke.py" "$temp_unix/qv_kvd.log" "$work/smoke-reg.txt" "$temp_win\\qv_kvd.log"

