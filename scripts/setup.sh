#!/usr/bin/env bash
# Installs what the builds and the test tiers need, when it is missing. Idempotent and quiet.
set -euo pipefail

packages=(
  cmake ninja-build g++ clang-format clang-tidy
  libgtest-dev libgmock-dev googletest libbenchmark-dev libpugixml-dev
  g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix mingw-w64-tools
  wine wine64 wine32:i386 xvfb wixl python3 iproute2 util-linux fuse3 libfuse3-dev pkg-config ccache imagemagick x11-utils xdotool
)

missing=()
for package in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" || missing+=("$package")
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
SUDO=""
[ "$(id -u)" -ne 0 ] && SUDO="sudo"
if ! dpkg --print-foreign-architectures | grep -q '^i386$'; then
  $SUDO dpkg --add-architecture i386
fi
$SUDO apt-get update -qq
DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq "${missing[@]}" >/dev/null
