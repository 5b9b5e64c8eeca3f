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

exec "$(dirname "$0")/apt-install.sh" "${packages[@]}"
