#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need, when they are missing.
# Usage: scripts/deps.sh [build|package|test]
set -euo pipefail

# Build: compiler, CMake, GSL (random draws), GTK 3 (the Linux window layer) and Xlib and the
# Wayland client library (which it asks to hear of the X server's or the compositor's loss),
# stb's image writer (the driver's PNG pictures; its reader checks them in the tests), and
# librsvg's rsvg-convert, which draws the icon's PNGs from its SVG at build time (its library
# comes with GTK anyway).
BUILD_PACKAGES=(g++ cmake make pkg-config libgsl-dev libgtk-3-dev libx11-dev libwayland-dev libstb-dev librsvg2-bin)
# The Debian package: dpkg-shlibdeps (dpkg-dev) computes its dependencies, and CPack asks `file`
# which installed files are programs.
PACKAGE_PACKAGES=(dpkg-dev file)
# Tests: GoogleTest, Google Benchmark, an X server and the tools that drive and photograph it
# (Xlib again for the small helpers that close a window as a window manager would and wait for
# what the screen shows, xclip to read what the dialog's boxes hold as a person copies it, xprop
# to read what the window manager says of the windows), a window manager (openbox) for the
# scenarios that run under one, and a font with Japanese glyphs for the dialog's labels; the
# validators of the desktop entry (desktop-file-utils) and the AppStream metadata (appstream),
# and man, which renders the manual pages and warns of their faults.
TEST_PACKAGES=(libgtest-dev libbenchmark-dev xvfb xdotool xclip x11-apps x11-utils imagemagick fonts-vlgothic
  openbox desktop-file-utils appstream man-db)
# Wayland: two headless compositors (weston takes screenshots itself; sway with grim, wtype for
# the keyboard, jq to read its window tree), and a Japanese input method (IBus with Anthy, on a
# session bus of the test's own) for the dialog's scenarios.
TEST_PACKAGES+=(weston sway grim wtype jq ibus ibus-anthy ibus-gtk3 dbus-daemon)

packages=("${BUILD_PACKAGES[@]}")
case ${1:-build} in
build) ;;
package) packages+=("${PACKAGE_PACKAGES[@]}") ;;
test) packages+=("${PACKAGE_PACKAGES[@]}" "${TEST_PACKAGES[@]}") ;;
*) echo "usage: scripts/deps.sh [build|package|test]" >&2; exit 2 ;;
esac

exec "$(dirname "$0")/apt-install.sh" "${packages[@]}"
