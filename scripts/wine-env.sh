# Sourced by the scripts that run Windows executables under Wine: one prefix per build folder, a
# persistent wineserver session, no Mono/Gecko prompts.
#   source scripts/wine-env.sh [build-folder]   then   kvd_wine_start ... kvd_wine_stop
KVD_ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
KVD_WINE_BUILD="$(realpath -m "${1:-$KVD_ROOT/build/windows}")"
export WINEPREFIX="${WINEPREFIX:-$KVD_WINE_BUILD/wineprefix}"
export WINEDEBUG="${WINEDEBUG:--all}"
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"
export WINEARCH=win64
# One prefix as wineboot leaves it, copied for every fresh prefix (the tests' and this one).
export KVD_WINE_TEMPLATE="${KVD_WINE_TEMPLATE:-$KVD_WINE_BUILD/wine-template}"

# Makes <folder> a prefix as wineboot leaves it, once: later calls find it made. Copies of it
# take about two seconds where wineboot takes ten to sixteen. Safe when called at once by
# several tests (a lock beside the folder).
kvd_wine_template() {
  local template="$1"
  mkdir -p "$(dirname "$template")"
  (
    flock 9
    if [ ! -f "$template/system.reg" ]; then
      rm -rf "$template" "$template.new"
      mkdir -p "$template.new"
      # Background Wine processes inherit the first wine call's stdout/stderr: everything is
      # redirected, or any reader of our output (ctest, CMake) waits for them forever.
      WINEPREFIX="$template.new" wineboot -i </dev/null >/dev/null 2>&1 || true
      # Windows on a desktop of Wine's own: under Xvfb there is no window manager, and without
      # one Wine draws no captions or frames.
      WINEPREFIX="$template.new" wine reg add 'HKCU\Software\Wine\Explorer' /v Desktop /d Default /f \
        </dev/null >/dev/null 2>&1 || true
      WINEPREFIX="$template.new" wine reg add 'HKCU\Software\Wine\Explorer\Desktops' /v Default \
        /d 1024x768 /f </dev/null >/dev/null 2>&1 || true
      # Its server writes the registry out when it ends.
      WINEPREFIX="$template.new" wineserver -w </dev/null >/dev/null 2>&1 || true
      # Wine's own TrueType fonts (Tahoma, MS Sans Serif...) are found only in the prefix's
      # Fonts folder: windows get readable captions, and the font tests a family both tiers know.
      mkdir -p "$template.new/drive_c/windows/Fonts"
      cp /usr/share/wine/fonts/*.ttf "$template.new/drive_c/windows/Fonts/" 2>/dev/null || true
      mv "$template.new" "$template"
    fi
  ) 9>"$template.lock"
}

# Wine's own binaries: 1.2 of a prefix's 1.3 GB, never written after wineboot.
KVD_WINE_SHARED_FOLDERS=(drive_c/windows/system32 drive_c/windows/syswow64 drive_c/windows/winsxs)

# A prefix of its own at $WINEPREFIX, copied from the template, replacing what was there.
# Wine's binaries are hard links to the template's (a dozen full copies filled the CI disk);
# everything else, the registry above all, is a copy of its own. Whatever a test places in the
# system folders must be a new file (cp --remove-destination), never a write through a link.
kvd_wine_fresh_prefix() {
  kvd_wine_template "$KVD_WINE_TEMPLATE"
  rm -rf "$WINEPREFIX"
  mkdir -p "$WINEPREFIX"
  local excludes=() folder
  for folder in "${KVD_WINE_SHARED_FOLDERS[@]}"; do excludes+=("--exclude=./$folder"); done
  tar -C "$KVD_WINE_TEMPLATE" -cf - "${excludes[@]}" . | tar -C "$WINEPREFIX" -xpf -
  for folder in "${KVD_WINE_SHARED_FOLDERS[@]}"; do
    cp -a --link "$KVD_WINE_TEMPLATE/$folder" "$WINEPREFIX/$folder"
  done
}

kvd_wine_start() {
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    kvd_wine_fresh_prefix
  fi
  # Output redirected for the reason given above.
  wineserver -p </dev/null >/dev/null 2>&1 || true  # already running for this prefix
  wine cmd /c exit </dev/null >/dev/null 2>&1 || true
}

kvd_wine_stop() {
  # Only our own prefix's server.
  wineserver -k </dev/null >/dev/null 2>&1 || true
}

# Sets temp_win and temp_unix to the prefix's %TEMP%, where the program writes its trace log.
kvd_temp_folders() {
  temp_win="$(wine cmd /c 'echo %TEMP%' </dev/null 2>/dev/null | tr -d '\r')"
  temp_unix="$(winepath -u "$temp_win" </dev/null 2>/dev/null)"
}
