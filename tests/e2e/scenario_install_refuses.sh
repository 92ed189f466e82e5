#!/usr/bin/env bash
# The scenario installer writes only inside the prefix's drive_c: a ".." part and a link out of
# the prefix (as the user folders' Desktop is) are refused before anything is written. No Wine
# is needed: the refusal comes before the registry import.
#   tests/e2e/scenario_install_refuses.sh <kvd_scenario_install> <work folder>
set -euo pipefail
installer="$(readlink -f "$1")"
work="$2/refuses"
rm -rf "$work"
mkdir -p "$work/prefix/drive_c/users/tester" "$work/outside"
ln -s "$work/outside" "$work/prefix/drive_c/users/tester/Desktop"

refused() {
  local name="$1" path="$2"
  cat >"$work/$name.xml" <<XML
<?xml version="1.0" encoding="utf-8"?>
<scenario title="$name">
  <file path="$path" text="planted"/>
</scenario>
XML
  if WINEPREFIX="$work/prefix" "$installer" "$work/$name.xml" >"$work/$name.out" 2>&1; then
    cat "$work/$name.out"
    echo "FAIL: $name was installed"
    exit 1
  fi
  grep -q 'kvd_scenario_install: file path' "$work/$name.out" || {
    cat "$work/$name.out"; echo "FAIL: $name was refused for another reason"; exit 1; }
}

refused dotdot 'C:\..\..\outside\planted.txt'
refused link 'C:\users\tester\Desktop\planted.txt'
if [ -n "$(ls -A "$work/outside")" ] || [ -e "$work/planted.txt" ]; then
  echo "FAIL: a file was written outside the prefix"
  exit 1
fi
echo "PASS: paths out of the prefix are refused"
