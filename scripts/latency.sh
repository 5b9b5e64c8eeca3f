#!/usr/bin/env bash
# Measures how fast the window answers a person while the simulation steps: click on "menu" to
# the menu painted, click on "parameter" to the dialog painted (its labels' ink on its own
# background), Escape to the dialog gone. At 500 and 50000 particles, merging on and off, in a
# virtual X server without a window manager; prints min, median and max of each in milliseconds.
# Usage: scripts/latency.sh [--program PATH] [--probe PATH] [--repeats N] [--counts "500 50000"]
#                           [--merging "on off"]
# (the program and build/tests/e2e/xprobe from the optimised build by default)
set -euo pipefail
cd "$(dirname "$0")/.."
program=build/win/orrelune
probe=build/tests/e2e/xprobe
repeats=5
counts="500 50000"
merging="on off"
while [ $# -gt 0 ]; do
  case $1 in
  --program) program=$2; shift 2 ;;
  --probe) probe=$2; shift 2 ;;
  --repeats) repeats=$2; shift 2 ;;
  --counts) counts=$2; shift 2 ;;
  --merging) merging=$2; shift 2 ;;
  *) echo "usage: $0 [--program PATH] [--probe PATH] [--repeats N] [--counts LIST] [--merging LIST]" >&2; exit 2 ;;
  esac
done
program=$(realpath "$program")
probe=$(realpath "$probe")
work=$(mktemp -d)

xvfb_pid=
app_pid=
cleanup() {
  if [ -n "$app_pid" ]; then kill "$app_pid" 2>/dev/null || true; fi
  if [ -n "$xvfb_pid" ]; then kill "$xvfb_pid" 2>/dev/null || true; fi
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp -noreset 3>"$work/display" 2>"$work/xvfb.log" &
xvfb_pid=$!
for _ in $(seq 100); do [ -s "$work/display" ] && break; sleep 0.1; done
export DISPLAY=":$(head -n1 "$work/display")" NO_AT_BRIDGE=1

now() { date +%s%N; }
# placed PREFIX: what xprobe says of a window as shell variables PREFIXX, PREFIXY, PREFIXWIDTH
# and PREFIXHEIGHT (on the screen).
placed() {
  sed 's/ ms=.*//; s/window=[0-9]* //; s/x=/X=/; s/ y=/ Y=/; s/ width=/ WIDTH=/; s/ height=/ HEIGHT=/' |
    sed "s/\([A-Z][A-Z]*\)=/$1\1=/g"
}

# The milliseconds a probe reports; a probe that timed out counts as "timeout".
ms() { sed -n 's/.*ms=\([0-9][0-9]*\).*/\1/p; s/.*ms=timeout.*/timeout/p'; }
# measure FILE PROBE-ARGS...: appends what the probe reports to FILE.
measure() {
  local file=$1 out
  shift
  out=$("$probe" "$@") || out="ms=timeout"
  echo "$out" | ms >>"$file"
}

# Labels in dialog units (x y w h characters) and an empty stretch of the dialog's background.
LABELS=("15 19 25 8 3" "14 50 33 8 4" "14 79 33 8 4" "14 105 34 16 6" "93 14 36 16 6" "94 45 35 18 6" "99 105 28 15 5")
BACKGROUND="176 50 16 90"
drawn_args() {
  local l x y w h c
  for l in "${LABELS[@]}"; do
    read -r x y w h c <<<"$l"
    echo "$((x * bx / 4)) $((y * by / 8)) $((w * bx / 4)) $((h * by / 8)) $((14 * c))"
  done
  read -r x y w h <<<"$BACKGROUND"
  echo "-- $((x * bx / 4)) $((y * by / 8)) $((w * bx / 4)) $((h * by / 8))"
}

# xdotool's click holds the button down for 100 ms; pressing and releasing apart lets each
# measurement start at the event that counts: the press opens a menu, the release picks an item.
# (A release on the menu's title more than half a second after the press closes the menu again.)
press() { xdotool mousedown 1; }
release() { xdotool mouseup 1; }

# open_menu: clicks the menu's title and waits until it is painted; sets the popup's geometry.
open_menu() {
  xdotool mousemove $((X + 20)) $((Y + menu_bar / 2))
  press
  release
  eval "$("$probe" --timeout 60000 popup | sed 's/ ms=.*//; s/\([a-z]*\)=/P\1=/g')"
}

# parameter: points at the third item of the open menu and presses the button there.
point_parameter() {
  xdotool mousemove $((Px + 40)) $((Py + 12 + 2 * 25))
  press
}

start() {
  "$program" >"$work/program.log" 2>&1 &
  app_pid=$!
  eval "$("$probe" --timeout 20000 window Orrelune | placed "")"
  menu_bar=$((HEIGHT - 700))
}

stop() {
  kill "$app_pid" 2>/dev/null || true
  wait "$app_pid" 2>/dev/null || true
  app_pid=
}

# set_parameters COUNT MERGE: through the dialog, as a person would.
set_parameters() {
  open_menu
  point_parameter
  release
  # The client area: below the caption, where the dialog draws one.
  eval "$("$probe" --timeout 60000 client Dialog | placed D)"
  bx=$(((DWIDTH * 4 + 126) / 252))
  by=$(((DHEIGHT * 8 + 72) / 145))
  # shellcheck disable=SC2046
  "$probe" --timeout 60000 drawn Dialog $(drawn_args) >/dev/null
  xdotool mousemove $((DX + 69 * bx / 4)) $((DY + 22 * by / 8)) click 1 key ctrl+a type "$1"
  xdotool mousemove $((DX + 152 * bx / 4)) $((DY + 113 * by / 8)) click 1 key ctrl+a type "$2"
  xdotool key Return
  "$probe" --timeout 60000 gone Dialog >/dev/null
  sleep 2
}

# stats: min, median and max of the numbers on standard input, and how many timed out.
stats() {
  sort -n | awk '/timeout/ { late++; next } { v[++n] = $1 }
    END { if (n) printf "%d / %d / %d", v[1], v[int((n + 1) / 2)], v[n]; if (late) printf " (%d timed out)", late }'
}

printf '| particles | merging | frames every | click to menu painted | click to dialog painted | Escape to dialog gone |\n'
printf '|---|---|---|---|---|---|\n'
for count in $counts; do
  for merge in $merging; do
    start
    set_parameters "$count" "$([ "$merge" = on ] && echo 1 || echo 0)"
    : >"$work/step" && : >"$work/menu" && : >"$work/dialog" && : >"$work/escape"
    for _ in $(seq "$repeats"); do
      # The time between two frames: the step, its paint and the wait for the timer.
      { "$probe" --timeout 60000 step Orrelune 400 $((menu_bar + 100)) 200 200 || echo step=timeout; } |
        sed -n 's/step=//p' >>"$work/step"

      xdotool mousemove $((X + 20)) $((Y + menu_bar / 2))
      t=$(now)
      press
      release
      measure "$work/menu" --since "$t" --timeout 60000 popup
      xdotool key Escape
      "$probe" --timeout 60000 nopopup >/dev/null || true
      sleep 1

      open_menu
      point_parameter
      t=$(now)
      release
      # shellcheck disable=SC2046
      measure "$work/dialog" --since "$t" --timeout 60000 drawn Dialog $(drawn_args)
      # A dialog that never came is not waited for again; the menu may still be open.
      "$probe" --timeout 1000 window Dialog >/dev/null || { xdotool key Escape; sleep 1; continue; }
      xdotool mousemove $((DX + DWIDTH / 2)) $((DY + DHEIGHT - 5))
      t=$(now)
      xdotool keydown Escape
      measure "$work/escape" --since "$t" --timeout 60000 gone Dialog
      xdotool keyup Escape
      sleep 1
    done
    stop
    printf '| %s | %s | %s | %s | %s | %s |\n' "$count" "$merge" \
      "$(stats <"$work/step")" "$(stats <"$work/menu")" "$(stats <"$work/dialog")" "$(stats <"$work/escape")"
  done
done
echo "(min / median / max in ms, $repeats times each; $(lscpu | sed -n 's/^Model name: *//p'), $(nproc) cores)"
