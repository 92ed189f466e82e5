#!/usr/bin/env bash
# Writes the pictures of docs/screenshots/: kavid.exe's pages and dialogs as the whole-program
# tests drive them under Xvfb (the device list with four demo devices, the About box, the hidden
# menu, the machine without devices, the diagnosis page with a running row, at a failure and at the summary).
#   bash scripts/screenshots.sh
set -euo pipefail
cd "$(dirname "$0")/.."
root="$(pwd)"
bash scripts/setup.sh
jobs="${KVD_JOBS:-2}"
cmake --preset native >/dev/null
cmake --build --preset native -j "$jobs" --target kvd_scenario_install >/dev/null
cmake --preset windows >/dev/null
cmake --build --preset windows -j "$jobs" --target kavid kavid_helper kvd_ui_driver kvd_fake_recorder \
  kvd_fake_twain >/dev/null
mkdir -p docs/screenshots
KVD_SCREENSHOTS="$root/docs/screenshots" xvfb-run -a -s "-screen 0 1024x768x24" \
  bash tests/e2e/kavid_window.sh build/windows/app/kavid.exe build/windows/screenshots \
  build/native/tools/native/kvd_scenario_install build/windows/tools/kvd_ui_driver.exe
KVD_SCREENSHOTS="$root/docs/screenshots" xvfb-run -a -s "-screen 0 1024x768x24" \
  bash tests/e2e/kavid_diagnosis.sh build/windows/app/kavid.exe build/windows/screenshots \
  build/native/tools/native/kvd_scenario_install build/windows/tools/kvd_ui_driver.exe \
  build/windows/tools/kvd_fake_recorder.exe build/windows/tools/fakes/sane.ds
# The running row: a check that waits for an unanswered ping (in a network namespace of its
# own, which needs root).
KVD_SCREENSHOTS="$root/docs/screenshots" \
  bash tests/e2e/kavid_busy.sh build/windows/app/kavid.exe build/windows/screenshots \
  build/native/tools/native/kvd_scenario_install build/windows/tools/kvd_ui_driver.exe
ls -1 docs/screenshots
