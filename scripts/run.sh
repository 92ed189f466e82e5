#!/usr/bin/env bash
# Builds kavid.exe and runs it under Wine; prints where its trace log is and its first lines.
set -euo pipefail
cd "$(dirname "$0")/.."
root="$(pwd)"
bash scripts/setup.sh
cmake --preset windows >/dev/null
cmake --build --preset windows -j "${KVD_JOBS:-2}" --target kavid
source scripts/wine-env.sh "$root/build/windows"
kvd_wine_start
trap kvd_wine_stop EXIT
wine build/windows/app/kavid.exe </dev/null >/dev/null 2>&1
temp_win="$(wine cmd /c 'echo %TEMP%' </dev/null 2>/dev/null | tr -d '\r')"
log="$(winepath -u "$temp_win\\qv_kvd.log" </dev/null 2>/dev/null)"
echo "kavid.exe ran; its trace log is $temp_win\\qv_kvd.log"
echo "  (on this machine: $log)"
echo
iconv -f UTF-16LE -t UTF-8 "$log" | head -n 20
