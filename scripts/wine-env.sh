# Sourced by the scripts that run Windows executables under Wine: one prefix per build folder, a
# persistent wineserver session, no Mono/Gecko prompts.
#   source scripts/wine-env.sh [build-folder]   then   kvd_wine_start ... kvd_wine_stop
KVD_ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
KVD_WINE_BUILD="$(realpath -m "${1:-$KVD_ROOT/build/windows}")"
export WINEPREFIX="${WINEPREFIX:-$KVD_WINE_BUILD/wineprefix}"
export WINEDEBUG="${WINEDEBUG:--all}"
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"
export WINEARCH=win64

kvd_wine_start() {
  mkdir -p "$WINEPREFIX"
  # Background Wine processes inherit the first wine call's stdout/stderr: start the session with
  # everything redirected, or any reader of our output (ctest, CMake) waits for them forever.
  wineserver -p </dev/null >/dev/null 2>&1 || true  # already running for this prefix
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    wineboot -i </dev/null >/dev/null 2>&1 || true
  fi
  wine cmd /c exit </dev/null >/dev/null 2>&1 || true
}

kvd_wine_stop() {
  # Only our own prefix's server.
  wineserver -k </dev/null >/dev/null 2>&1 || true
}
