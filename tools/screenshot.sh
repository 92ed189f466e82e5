#!/usr/bin/env bash
# A screenshot of the X display $DISPLAY (the Xvfb server a Wine test runs under), as PNG.
#   tools/screenshot.sh <out.png> [window title]
# Uses ImageMagick's import, and installs imagemagick with apt-get when import is missing (the
# one change it makes to the machine). With a title and xdotool at hand only that X window is
# taken; otherwise, and when no X window has that name (Wine's virtual desktop draws its windows
# inside one X window), the whole screen.
set -euo pipefail
out="${1:?usage: tools/screenshot.sh <out.png> [window title]}"
title="${2:-}"
: "${DISPLAY:?no X display (run under xvfb-run)}"

if ! command -v import >/dev/null 2>&1; then
  export DEBIAN_FRONTEND=noninteractive
  # A fresh container may have no package lists yet.
  apt-get install -y imagemagick >&2 || { apt-get update >&2 && apt-get install -y imagemagick >&2; }
fi

window=root
if [ -n "$title" ] && command -v xdotool >/dev/null 2>&1; then
  # xdotool matches a regular expression: the title is matched literally and whole.
  pattern="^$(printf '%s' "$title" | sed 's/[][\.*^$+?(){}|/]/\\&/g')\$"
  window="$(xdotool search --name "$pattern" 2>/dev/null | head -n 1 || true)"
  window="${window:-root}"
fi
import -window "$window" "$out"
