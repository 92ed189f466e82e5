#!/usr/bin/env bash
# Whole-program check of kavid.exe under Wine, in a prefix of its own made fresh for the run:
# the trace configuration it writes under HKCU and the UTF-16LE trace log it leaves in %TEMP%.
#   tests/e2e/kavid_smoke.sh <path to kavid.exe> <work folder> [<kvd_ui_driver.exe>]
# With the UI driver, a second start while an instance runs is checked too (under xvfb-run).
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

wine "$exe" </dev/null >/dev/null 2>&1
wine reg query 'HKCU\Software\QV\NG\Logging\kavid.exe' </dev/null >"$work/smoke-reg.txt" 2>/dev/null
kvd_temp_folders
python3 "$here/check_smoke.py" "$temp_unix/qv_kvd.log" "$work/smoke-reg.txt" "$temp_win\\qv_kvd.log"

if [ -n "${3:-}" ]; then
  wineserver -k </dev/null >/dev/null 2>&1 || true
  xvfb-run -a -s "-screen 0 1024x768x24" \
    bash "$here/kavid_second_instance.sh" "$exe" "$(readlink -f "$3")" "$WINEPREFIX" "$temp_unix/qv_kvd.log"
fi
