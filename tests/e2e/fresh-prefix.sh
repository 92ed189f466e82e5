# Sourced by the whole-program tests: a fresh Wine prefix of their own (a copy of the template
# beside it, scripts/wine-env.sh), with a persistent wineserver that is stopped when the test's
# shell exits.
#   source tests/e2e/fresh-prefix.sh <prefix folder>
# shellcheck source=scripts/wine-env.sh
source "$(dirname "${BASH_SOURCE[0]}")/../../scripts/wine-env.sh" "$(dirname "$1")"
export WINEPREFIX="$1"
kvd_wine_fresh_prefix
# Output redirected: background Wine processes would otherwise hold our caller's pipes open.
wineserver -p </dev/null >/dev/null 2>&1 || true
# A passed test's prefix is removed (they are 100 MB each even with Wine's binaries shared); a
# failed one is kept for reading, as is every one with KVD_KEEP_PREFIX=1.
kvd_fresh_prefix_done() {
  local status=$?
  wineserver -k </dev/null >/dev/null 2>&1 || true
  if [ "$status" -eq 0 ] && [ "${KVD_KEEP_PREFIX:-0}" != 1 ]; then
    wineserver -w </dev/null >/dev/null 2>&1 || true
    rm -rf "$WINEPREFIX"
  fi
  return "$status"
}
trap kvd_fresh_prefix_done EXIT
wine cmd /c exit </dev/null >/dev/null 2>&1 || true
