#!/usr/bin/env bash
# Whole-program check of kavid.exe under Wine, in a prefix of its own made fresh for the run:
# the trace configuration it writes under HKCU and the UTF-16LE trace log it leaves in %TEMP%.
#   tests/e2e/kavid_smoke.sh <path to kavid.exe> <work folder>
set -euo pipefail
exe="$(readlink -f "$1")"
work="$2"
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"

export WINEPREFIX="$work/smoke-prefix"
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" WINEARCH=win64
rm -rf "$WINEPREFIX"
mkdir -p "$work" "$WINEPREFIX"
# Output redirected: background Wine processes would otherwise hold our caller's pipes open.
wineserver -p </dev/null >/dev/null 2>&1
trap 'wineserver -k </dev/null >/dev/null 2>&1 || true' EXIT
wineboot -i </dev/null >/dev/null 2>&1 || true

wine "$exe" </dev/null >/dev/null 2>&1
wine reg query 'HKCU\Software\QV\NG\Logging\kavid.exe' </dev/null >"$work/smoke-reg.txt" 2>/dev/null
temp_win="$(wine cmd /c 'echo %TEMP%' </dev/null 2>/dev/null | tr -d '\r')"
temp_unix="$(winepath -u "$temp_win" </dev/null 2>/dev/null)"
python3 "$here/check_smoke.py" "$temp_unix/qv_kvd.log" "$work/smoke-reg.txt" "$temp_win\\qv_kvd.log"
