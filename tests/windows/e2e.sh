#!/usr/bin/env bash
# The Windows program under Wine, in a virtual X server (Xvfb, no window manager), driven as a
# person would with the mouse and keyboard, and checked on screenshots of its window.
# Usage: tests/windows/e2e.sh ORRELUNE_EXE WORK_DIR WINE_PREFIX
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
program=$(realpath "$1")
work=$2
prefix=$3
mkdir -p "$work" "$(dirname "$prefix")"
work=$(realpath "$work")
prefix=$(realpath "$prefix")
cd "$work"
rm -f ./*.xwd

# shellcheck source=tests/windows/wine-env.sh
. "$here/wine-env.sh" "$prefix"
g++ -std=c++20 -O2 -Wall -Wextra -Werror -o shot "$here/shot.cpp"

# Wine draws the dialog's Japanese labels only under a Japanese locale, with a Japanese font.
if ! locale -a 2>/dev/null | grep -qix 'ja_JP.utf8'; then
  echo "e2e: the ja_JP.UTF-8 locale is missing (scripts/windows-deps.sh test generates it)" >&2
  exit 1
fi
export LANG=ja_JP.UTF-8 LC_ALL=ja_JP.UTF-8

xvfb_pid=
program_pid=
cleanup() {
  wine_stop
  if [ -n "$xvfb_pid" ]; then kill "$xvfb_pid" 2>/dev/null || true; fi
}
trap cleanup EXIT

# A free display number, chosen by the server itself.
exec 3>"$work/display"
Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp >"$work/xvfb.log" 2>&1 &
xvfb_pid=$!
exec 3>&-
for _ in $(seq 50); do [ -s "$work/display" ] && break; sleep 0.1; done
[ -s "$work/display" ] || { echo "e2e: Xvfb did not start" >&2; cat "$work/xvfb.log" >&2; exit 1; }
DISPLAY=":$(head -n1 "$work/display")"
export DISPLAY

failures=0
pass() { echo "PASS: $1"; }
fail() {
  echo "FAIL: $1"
  failures=$((failures + 1))
}

start_program() {
  wine_run "$program" >"$work/program.log" 2>&1 &
  program_pid=$!
  window=
  for _ in $(seq 150); do
    window=$(xdotool search --name '^Orrelune$' 2>/dev/null | head -n1 || true)
    [ -n "$window" ] && break
    sleep 0.2
  done
  [ -n "$window" ] || return 1
  # Let the first frames arrive.
  sleep 1
}

# The client area below the menu bar, in window coordinates, as far as the 1000 x 700 field goes.
client_region() {
  eval "$(xdotool getwindowgeometry --shell "$window")"
  local w=$((WIDTH < 1000 ? WIDTH : 1000)) h=$((HEIGHT - 30 < 670 ? HEIGHT - 30 : 670))
  echo "0 30 $w $h"
}

grab() { xwd -silent -id "$window" >"$work/$1.xwd"; }
# Prints one field (ink, colours, digest, ...) of a screenshot's client area.
measure() {
  # shellcheck disable=SC2046
  ./shot "$work/$1.xwd" $(client_region) | tr ' ' '\n' | sed -n "s/^$2=//p"
}

# Other windows of the program on screen (menu pop-ups, the dialog), one id a line.
other_windows() {
  local id
  for id in $(xdotool search --onlyvisible --class orrelune.exe 2>/dev/null || true); do
    [ "$id" = "$window" ] && continue
    eval "$(xdotool getwindowgeometry --shell "$id")"
    # Wine keeps 1 x 1 helper windows mapped; they are not what a person sees.
    [ "$WIDTH" -gt 1 ] && echo "$id"
  done
  return 0
}

# Waits until a window other than the main one is on screen (want=1) or none is (want=0).
wait_other() {
  local _
  for _ in $(seq 50); do
    if [ "$1" = 1 ] && [ -n "$(other_windows)" ]; then return 0; fi
    if [ "$1" = 0 ] && [ -z "$(other_windows)" ]; then return 0; fi
    sleep 0.2
  done
  return 1
}

# Opens the menu with a click on its title, then picks item N (1 = START) with the keyboard.
menu_command() {
  xdotool mousemove --window "$window" 15 10 click 1
  wait_other 1 || { echo "e2e: the menu did not open" >&2; return 1; }
  local _
  for _ in $(seq "$1"); do xdotool key Down; done
  xdotool key Return
  wait_other 0 || { echo "e2e: the menu did not close" >&2; return 1; }
}

# Grabs two frames GAP seconds apart as NAME-1 and NAME-2, up to three times until they are
# equal (want=same) or differ (want=differ): a slow machine may paint late, but a program that
# never freezes, or never moves, fails every try.
frames() {
  local name=$1 gap=$2 want=$3 _
  for _ in 1 2 3; do
    grab "$name-1"
    sleep "$gap"
    grab "$name-2"
    if [ "$(measure "$name-1" digest)" = "$(measure "$name-2" digest)" ]; then
      [ "$want" = same ] && return 0
    else
      [ "$want" = differ ] && return 0
    fi
  done
  return 1
}

if ! start_program; then
  fail "window appears: no window named Orrelune within 30 s"
  cat "$work/program.log"
  exit 1
fi

# Scenario: the window opens and shows a field of coloured particles.
grab appears
ink=$(measure appears ink)
colours=$(measure appears colours)
if [ "$ink" -ge 200 ] && [ "$colours" -ge 5 ]; then
  pass "window appears with particles ($ink pixels of ink in $colours colours)"
else
  fail "window appears with particles: $ink pixels of ink in $colours colours"
fi

# Scenario: STOP freezes the picture.
if menu_command 2 && frames stopped 1.5 same && [ "$(measure stopped-2 ink)" -ge 200 ]; then
  pass "STOP freezes the picture"
else
  fail "STOP freezes the picture: the frames 1.5 s apart differ, or the field is empty"
fi

# Scenario: START animates again.
if menu_command 1 && frames started 1 differ; then
  pass "START animates"
else
  fail "START animates: the frames 1 s apart are the same"
fi

# Scenario: closing the window (Alt+F4, the system menu's Close) ends the process with 0.
xdotool key alt+F4
status=
for _ in $(seq 75); do
  if ! kill -0 "$program_pid" 2>/dev/null; then
    wait "$program_pid" && status=0 || status=$?
    break
  fi
  sleep 0.2
done
if [ "$status" = 0 ] && [ -z "$(xdotool search --name '^Orrelune$' 2>/dev/null || true)" ]; then
  pass "closing the window ends the process (exit 0)"
else
  fail "closing the window ends the process: ${status:-still running after 15 s}"
fi

if [ "$failures" -ne 0 ]; then
  echo "e2e: $failures scenario(s) failed; screenshots in $work"
  exit 1
fi
echo "e2e: all scenarios passed"
