# Sourced by the whole-program tests: a fresh Wine prefix of their own, with a persistent
# wineserver that is stopped when the test's shell exits.
#   source tests/e2e/fresh-prefix.sh <prefix folder>
# A new prefix is a copy of one made once beside it (wine-template): copying takes about two
# seconds where making one with wineboot takes ten to sixteen.
export WINEPREFIX="$1"
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" WINEARCH=win64
kvd_template="$(dirname "$WINEPREFIX")/wine-template"
mkdir -p "$(dirname "$WINEPREFIX")"
(
  flock 9
  if [ ! -f "$kvd_template/system.reg" ]; then
    rm -rf "$kvd_template" "$kvd_template.new"
    mkdir -p "$kvd_template.new"
    # Output redirected: background Wine processes would otherwise hold our caller's pipes open.
    WINEPREFIX="$kvd_template.new" wineboot -i </dev/null >/dev/null 2>&1 || true
    # Its server writes the registry out when it ends.
    WINEPREFIX="$kvd_template.new" wineserver -w </dev/null >/dev/null 2>&1 || true
    mv "$kvd_template.new" "$kvd_template"
  fi
) 9>"$(dirname "$WINEPREFIX")/wine-template.lock"
rm -rf "$WINEPREFIX"
cp -a "$kvd_template" "$WINEPREFIX"
wineserver -p </dev/null >/dev/null 2>&1 || true
trap 'wineserver -k </dev/null >/dev/null 2>&1 || true' EXIT
wine cmd /c exit </dev/null >/dev/null 2>&1 || true

# Sets temp_win and temp_unix to the prefix's %TEMP%, where the program writes its trace log.
kvd_temp_folders() {
  temp_win="$(wine cmd /c 'echo %TEMP%' </dev/null 2>/dev/null | tr -d '\r')"
  temp_unix="$(winepath -u "$temp_win" </dev/null 2>/dev/null)"
}
