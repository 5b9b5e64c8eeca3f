#!/usr/bin/env bash
# Installs the Debian packages the Windows cross build and its checks need, when they are missing.
# Usage: scripts/windows-deps.sh [build|test]
set -euo pipefail

# Build: the MinGW-w64 cross compiler (posix thread model, for std::thread), its binutils with
# windres, what cross-building GSL from Debian's source package takes (dpkg-source, make), and
# stb's image writer for the driver's pictures (one header, the same for both systems).
BUILD_PACKAGES=(cmake make g++ g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 dpkg-dev libstb-dev)
# Test: Wine runs the .exe files; the window scenarios need an X server, the tools that drive and
# photograph it (xwd) and read the dialog's texts through the clipboard (xclip), a Japanese
# locale and a font with Japanese glyphs for the dialog's labels; GoogleTest's sources, built
# for Windows for the model's unit tests.
TEST_PACKAGES=(wine64 xvfb xdotool x11-apps xclip locales fonts-vlgothic googletest)

packages=("${BUILD_PACKAGES[@]}")
if [ "${1:-build}" = test ]; then packages+=("${TEST_PACKAGES[@]}"); fi

"$(dirname "$0")/apt-install.sh" "${packages[@]}"

# The Japanese locale Wine needs to draw the dialog's labels.
if [ "${1:-build}" = test ] && ! locale -a 2>/dev/null | grep -qix 'ja_JP.utf8'; then
  if [ "$(id -u)" -eq 0 ]; then
    echo "Generating the ja_JP.UTF-8 locale"
    localedef -i ja_JP -f UTF-8 ja_JP.UTF-8
  else
    echo "Missing locale ja_JP.UTF-8; generate it (sudo localedef -i ja_JP -f UTF-8 ja_JP.UTF-8) and run this again." >&2
    exit 1
  fi
fi
