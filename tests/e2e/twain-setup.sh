# Sourced by the whole-program tests whose runs reach the TWAIN check, after fresh-prefix.sh:
#   kvd_install_twain <sane.ds> <product name> <driver instance>
# puts our data source (tools/fakes/TwainSource.cpp) in place of Wine's sane.ds under the given
# product name, and the all-in-one driver's data-source file of that instance as an exact copy of
# the generic one (same size and time), as the check compares them. kvd_twain_configure
# <ready> <transfer> [<product name>] sets the source's behaviour for the next run;
# kvd_twain_calls prints the triplets it received.
kvd_install_twain() {
  local sources="$WINEPREFIX/drive_c/windows/twain_32"
  # A new file in place of Wine's own, never a write through the template's link.
  cp --remove-destination "$1" "$sources/sane.ds"
  kvd_twain_ds="$sources/sane.ds"
  kvd_twain_name="$2"
  mkdir -p "$sources/qvtv_$3"
  local file
  for file in qvtwds2 qvtwds2.tmp "qvtv_$3/qvtv_$3.ds"; do
    printf 'QV TWAIN data source\r\n' >"$sources/$file"
    touch -d '2024-03-01 12:00:00' "$sources/$file"
  done
  kvd_twain_configure post ok
}
kvd_twain_configure() {
  printf '[source]\r\nname=%s\r\n[behaviour]\r\nready=%s\r\ntransfer=%s\r\n' \
    "${3:-$kvd_twain_name}" "$1" "$2" >"$kvd_twain_ds.ini"
  : >"$kvd_twain_ds.calls"
}
kvd_twain_calls() { tr -d '\r' <"$kvd_twain_ds.calls" 2>/dev/null || true; }
