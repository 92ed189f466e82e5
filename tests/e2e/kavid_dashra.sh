#!/usr/bin/env bash
# kavid.exe's Dashra hub check under Wine: the composite all-in-one with the suite's registration,
# scan flow, TWAIN source and Parlo service, and our hub director (tools/fakes/, with the version
# resource the check reads) in the suite's bin folder. A hub of version 130 without the product's
# version needs the destination patch (a warning that offers Patch); with another product version
# it passes; without the functions library the hub is incomplete, without the hub director it is
# not found; and with the suite's folder values gone, the check finds the folder through the
# suite's uninstall entry and writes the values back (read back with reg query). Runs under an X
# server.
#   tests/e2e/kavid_dashra.sh <kavid.exe> <work folder> <kvd_scenario_install> <kvd_ui_driver.exe>
#                             <sane.ds>
set -euo pipefail
exe="$(readlink -f "$1")"
work="$(realpath -m "$2")"
installer="$(readlink -f "$3")"
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
[ -x "$installer" ] || { echo "FAIL: $installer is missing: build the native preset first"; exit 1; }

mkdir -p "$work"
# shellcheck source=tests/e2e/fresh-prefix.sh
source "$here/fresh-prefix.sh" "$work/dashra-prefix"
# shellcheck source=tests/e2e/ui.sh
source "$here/ui.sh" "$4" "$(dirname "$exe")/strings"
# shellcheck source=tests/e2e/twain-setup.sh
source "$here/twain-setup.sh"
kvd_install_aio_suite "$installer" "$5" "$exe"
fakes="$(kvd_fakes "$exe")"
status=0
fail() { echo "FAIL: $*"; status=1; }

bin="$WINEPREFIX/drive_c/Program Files (x86)/Quvari/Brevane/bin"
cp "$fakes/hub130/qvhub.exe" "$bin/qvhub.exe"
cp "$fakes/hub14/qvhub.exe" "$bin/qvfuncs.dll"
# The 32-bit program's view of the machine's keys.
suite='HKLM\Software\Wow6432Node\Quvari\Brevane'
product='HKLM\Software\Wow6432Node\Quvari\{A827E665-B0FE-4E0E-9BF1-535F0E833E85}'
uninstall='HKLM\Software\Wow6432Node\Microsoft\Windows\CurrentVersion\Uninstall\{5D1A7C52-QVD}'
reg() { wine reg "$@" </dev/null >/dev/null 2>&1; }
value() { wine reg query "$1" /v "$2" </dev/null 2>/dev/null | tr -d '\r' | sed -n "s/.*REG_SZ *//p"; }
dashra_row() { kvd_row_mark 5; }

# Hub 130 and no product version: the destination patch, a warning with Patch and Skip.
kvd_start_diagnosis "$exe"
wait_enabled 1003 600 || fail "the run never stopped"
kvd_skip_to_row 5
[ "$(dashra_row)" = 2 ] || fail "the destination patch marks the row <$(dashra_row)>"
[ "$(kvd_result)" = "$(kvd_shown_text DASHRA_DEST_PATCH)" ] || fail "hub 130 gave <$(kvd_result)>"
[ "$(drv visible "$host" 1014)" = 1 ] || fail "Patch is not offered"
[ "$(drv visible "$host" 1030)" = 1 ] || fail "Skip is not offered"

# Another product version: no patch.
reg add "$product" /v Version /t REG_SZ /d 130.1.0.0 /f
kvd_retest
kvd_skip_to_row 5
[ "$(dashra_row)" = 0 ] || fail "product 130.1 marks the row <$(dashra_row)>: <$(kvd_result)>"

# No functions library: incomplete; no hub director: not found.
mv "$bin/qvfuncs.dll" "$bin/qvfuncs.dll.away"
kvd_retest
kvd_skip_to_row 5
[ "$(dashra_row)" = 1 ] || fail "no functions library marks the row <$(dashra_row)>"
[ "$(kvd_result)" = "$(kvd_shown_text DASHRA_INCOMPLETE)" ] || fail "no functions library gave <$(kvd_result)>"
mv "$bin/qvfuncs.dll.away" "$bin/qvfuncs.dll"
mv "$bin/qvhub.exe" "$bin/qvhub.exe.away"
kvd_retest
kvd_skip_to_row 5
[ "$(kvd_result)" = "$(kvd_shown_text DASHRA_NOT_FOUND)" ] || fail "no hub director gave <$(kvd_result)>"
mv "$bin/qvhub.exe.away" "$bin/qvhub.exe"

# The suite's folder values gone: found again through the uninstall entry, and written back.
folder="$(value "$suite" InstallFolder)"
[ "$folder" = 'C:\Program Files (x86)\Quvari' ] || fail "the scenario's suite folder is <$folder>"
reg delete "$suite" /v InstallFolder /f
reg add "$uninstall" /v DisplayName /t REG_SZ /d "Quvari QV Dashra" /f
reg add "$uninstall" /v UninstallString /t REG_SZ \
  /d 'C:\Program Files (x86)\Quvari\Brevane\Uninstall\setup.exe -remove' /f
kvd_retest
kvd_skip_to_row 5
[ "$(dashra_row)" = 0 ] || fail "the folder found again marks the row <$(dashra_row)>: <$(kvd_result)>"
[ "$(value "$suite" InstallFolder)" = "$folder" ] ||
  fail "InstallFolder was written back as <$(value "$suite" InstallFolder)>"
[ "$(value "$suite" InstallDir)" = "$folder\\Brevane" ] ||
  fail "InstallDir was written back as <$(value "$suite" InstallDir)>"

kvd_close_and_read_log
grep -q 'Need to install destination patch' <<<"$log" || fail "the destination patch was not logged"
grep -qF 'GetDashraInstallPath : C:\Program Files (x86)\Quvari\Brevane' <<<"$log" ||
  fail "the folder found through the uninstall entry was not logged"
grep -qF 'Dashra exe not found: C:\Program Files (x86)\Quvari\Brevane\bin\qvhub.exe' <<<"$log" ||
  fail "the missing hub director was not logged"
[ -z "$(kvd_error_records <<<"$log")" ] || fail "error records in the log: $(kvd_error_records <<<"$log")"
[ "$status" = 0 ] && echo "PASS: the Dashra hub check's outcomes and its folder values put back"
exit "$status"
