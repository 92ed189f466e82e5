#!/usr/bin/env bash
# The TWAIN session for real: Wine's source manager with our data source (tools/fakes/
# TwainSource.cpp) installed in a fresh prefix as twain_32\sane.ds, one of the names Wine's
# manager loads; the Wine test executable's OurTwainSource suite drives it.
#   tests/e2e/twain_source.sh <kvd_wine_tests.exe> <work folder> <sane.ds>
set -euo pipefail
wine_tests="$(readlink -f "$1")"
work="$(realpath -m "$2")"
source_ds="$(readlink -f "$3")"
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
mkdir -p "$work"
# shellcheck source=tests/e2e/fresh-prefix.sh
source "$here/fresh-prefix.sh" "$work/twain-prefix"
# A new file in place of Wine's own, never a write through the template's link.
cp --remove-destination "$source_ds" "$WINEPREFIX/drive_c/windows/twain_32/sane.ds"
cd "$(dirname "$wine_tests")"
KVD_TWAIN_SOURCE=1 wine "$wine_tests" --gtest_filter="OurTwainSource.*" </dev/null \
  >"$work/twain-suite.txt" 2>&1 || { cat "$work/twain-suite.txt"; exit 1; }
grep -q '\[  PASSED  \] 2 tests' "$work/twain-suite.txt" || {
  cat "$work/twain-suite.txt"; echo "FAIL: OurTwainSource did not run both tests"; exit 1; }
echo "PASS: a native transfer, a failed one and a silent source through Wine's source manager"
