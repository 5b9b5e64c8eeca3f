#!/usr/bin/env bash
# Builds the program and opens its window. Without a display it says what to do instead and
# shows the model running in the headless driver.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh build
cmake --preset app >/dev/null
cmake --build --preset app -j"$(nproc)"
if [ -n "${DISPLAY:-}" ] || [ -n "${WAYLAND_DISPLAY:-}" ]; then
  exec build-app/win/orrelune
fi
cat >&2 <<'TEXT'
No display here (neither DISPLAY nor WAYLAND_DISPLAY is set), so the window cannot open.
  - On a desktop: run scripts/run.sh from a terminal of that desktop.
  - Without one: run the window in a virtual X server (Debian: apt-get install xvfb imagemagick)
      xvfb-run -a -s '-screen 0 1400x1050x24' sh -c 'build-app/win/orrelune & sleep 3; import -window root shot.png; kill $!'
    and look at shot.png.
  - Or watch the model without a window, as now: build-app/tools/orrelune-sim --help
Running the headless driver for 1000 ticks instead:
TEXT
exec build-app/tools/orrelune-sim --params --ticks 1000
