#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need, when they are missing.
# Usage: scripts/deps.sh [build|test]
set -euo pipefail

# Build: compiler, CMake, GSL (random draws), GTK 3 (the Linux window layer).
BUILD_PACKAGES=(g++ cmake make pkg-config libgsl-dev libgtk-3-dev)
# Tests: GoogleTest, Google Benchmark, an X server and the tools that drive and photograph it
# (libx11-dev for the small helper that closes a window as a window manager would, xclip to
# read what the dialog's boxes hold as a person copies it),
# and a font with Japanese glyphs for the dialog's labels.
TEST_PACKAGES=(libgtest-dev libbenchmark-dev xvfb xdotool xclip x11-apps imagemagick fonts-vlgothic libx11-dev)

packages=("${BUILD_PACKAGES[@]}")
if [ "${1:-build}" = test ]; then packages+=("${TEST_PACKAGES[@]}"); fi

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

if [ "$(id -u)" -eq 0 ] && command -v apt-get >/dev/null; then
  echo "Installing: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
else
  echo "Missing packages: ${missing[*]}" >&2
  echo "Install them (Debian: sudo apt-get install ${missing[*]}) and run this again." >&2
  exit 1
fi
