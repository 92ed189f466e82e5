#!/usr/bin/env bash
# A second start of kavid.exe while an instance runs (a process holding "KVD_MUTEX", as a
# running instance does): only the "APP_RUNNING" box appears, read and closed by the UI driver,
# and the running instance's trace log is kept. Runs under an X server (xvfb-run) in the prefix
# that kavid_smoke.sh prepared.
#   tests/e2e/kavid_second_instance.sh <kavid.exe> <kvd_ui_driver.exe> <prefix> <log (unix path)>
set -euo pipefail
exe="$1"; driver="$2"; export WINEPREFIX="$3"; log="$4"
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" WINEARCH=win64
strings_dir="$(dirname "$exe")/strings"

wineserver -p </dev/null >/dev/null 2>&1 || true
trap 'wineserver -k </dev/null >/dev/null 2>&1 || true' EXIT
wine cmd /c exit </dev/null >/dev/null 2>&1 || true

before=$(iconv -f UTF-16LE -t UTF-8 "$log" | grep -c '(->) CKavidApp::CKavidApp' || true)
wine "$driver" hold-mutex KVD_MUTEX 30 </dev/null >/dev/null 2>&1 &
sleep 2
wine "$exe" </dev/null >/dev/null 2>&1 &
text="$(timeout 60 wine "$driver" read-box "$(python3 - "$strings_dir/1033.xml" <<'PY'
import sys, xml.dom.minidom
d = xml.dom.minidom.parse(sys.argv[1])
print(next(e.getAttribute("Value") for e in d.getElementsByTagName("String") if e.getAttribute("ID") == "TITLE"))
PY
)" 20000 </dev/null 2>/dev/null | tr -d '\r')"
expected="$(python3 - "$strings_dir/1033.xml" <<'PY'
import sys, xml.dom.minidom
d = xml.dom.minidom.parse(sys.argv[1])
print(next(e.getAttribute("Value") for e in d.getElementsByTagName("String") if e.getAttribute("ID") == "APP_RUNNING"))
PY
)"
status=0
if [ "$text" != "$expected" ]; then
  echo "FAIL: the second start showed <$text>, expected <$expected>"; status=1
fi
wait %2 2>/dev/null || true
after=$(iconv -f UTF-16LE -t UTF-8 "$log" | grep -c '(->) CKavidApp::CKavidApp' || true)
if [ "$after" -ne $((before + 1)) ]; then
  echo "FAIL: the running instance's log was not kept ($before start(s) before, $after after)"; status=1
fi
kill %1 2>/dev/null || true
echo "kavid second start: box <$text>, log kept with $after start(s)"
exit $status
