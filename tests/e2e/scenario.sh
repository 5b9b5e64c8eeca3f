#!/usr/bin/env bash
# One end-to-end scenario: starts a virtual X server and the program, works the menu with the
# mouse and keyboard as a person would, and checks screenshots of the window's client area.
# Usage: scenario.sh NAME PROGRAM XCLOSE SHOTS-DIR
# The screenshots and logs of a failed scenario stay in SHOTS-DIR/NAME.
set -u
scenario=$1
program=$2
xclose=$3
out=$4/$scenario
rm -rf "$out"
mkdir -p "$out"

xvfb_pid=
app_pid=
cleanup() {
  [ -n "$app_pid" ] && kill "$app_pid" 2>/dev/null
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null
  wait 2>/dev/null
}
trap cleanup EXIT

fail() {
  echo "FAILED ($scenario): $*" >&2
  echo "screenshots and logs: $out" >&2
  exit 1
}

# Xvfb picks a free display and tells us which.
Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$out/display" 2>"$out/xvfb.log" &
xvfb_pid=$!
for _ in $(seq 100); do [ -s "$out/display" ] && break; sleep 0.1; done
[ -s "$out/display" ] || fail "Xvfb did not start"
export DISPLAY=":$(head -n1 "$out/display")"
export NO_AT_BRIDGE=1

"$program" >"$out/program.log" 2>&1 &
app_pid=$!
window=$(timeout 15 xdotool search --sync --onlyvisible --name '^Orrelune$' | head -n1)
[ -n "$window" ] || fail "no window titled Orrelune appeared"
eval "$(xdotool getwindowgeometry --shell "$window")"
# The client area is the part below the menu bar, 700 pixels high on this screen.
[ "$WIDTH" -eq 1050 ] || fail "window is $WIDTH pixels wide, not 1050"
menu_bar=$((HEIGHT - 700))
[ "$menu_bar" -gt 0 ] || fail "window is only $HEIGHT pixels high"
sleep 1

# shot NAME: the client area (as large as it is now) into NAME.png.
shot() {
  local w h
  eval "$(xdotool getwindowgeometry --shell "$window" | sed 's/^/local_/')"
  w=$local_WIDTH
  h=$((local_HEIGHT - menu_bar))
  import -window root -crop "${w}x${h}+${X}+$((Y + menu_bar))" +repage "$out/$1.png" || fail "no screenshot $1"
}

# differing A B: how many pixels differ between two screenshots.
differing() {
  compare -metric AE "$out/$1.png" "$out/$2.png" null: 2>&1 | awk '{ printf "%d", $1 + 0 }'
}

same() {
  local n
  n=$(differing "$1" "$2")
  [ "$n" -eq 0 ] || fail "$1 and $2 should be the same picture; $n pixels differ"
}

changed() {
  local n
  n=$(differing "$1" "$2")
  [ "$n" -gt 50 ] || fail "$1 and $2 should differ; only $n pixels do"
}

# settled NAME: waits until two screenshots 0.3 s apart agree (a command may reach the program
# a little late on a busy machine), and keeps the picture as NAME.png.
settled() {
  for _ in $(seq 10); do
    shot "$1"
    sleep 0.3
    shot "$1-again"
    [ "$(differing "$1" "$1-again")" -eq 0 ] && return 0
  done
  fail "the picture did not come to rest after $1"
}

# menu N: opens the pop-up "menu" with a click and takes its N-th item with the keyboard.
menu() {
  xdotool mousemove $((X + 20)) $((Y + menu_bar / 2)) click 1
  sleep 0.4
  for _ in $(seq "$1"); do xdotool key Down; done
  xdotool key Return
  sleep 0.4
}
START=1
STOP=2
INITIALIZE=4

# repaint: makes the window paint itself again by resizing it and putting the size back.
repaint() {
  xdotool windowsize "$window" 600 400
  sleep 0.5
  xdotool windowsize "$window" "$WIDTH" "$HEIGHT"
  sleep 0.7
}

. "$(dirname "$0")/dialog_scenarios.sh"

case $scenario in
appears)
  shot first
  # Particles on white: many coloured pixels in many colours.
  coloured=$(convert "$out/first.png" -fill black +opaque white -format '%[fx:int((1-mean)*w*h+0.5)]' info:)
  colours=$(convert "$out/first.png" -format '%k' info:)
  [ "$coloured" -gt 300 ] || fail "only $coloured coloured pixels"
  [ "$colours" -gt 20 ] || fail "only $colours colours"
  sleep 0.5
  shot later
  changed first later
  ;;
stop_freezes)
  menu $STOP
  settled stopped
  sleep 1
  shot still
  same stopped still
  # Repainting a stopped picture draws the same frame again.
  repaint
  shot repainted
  same stopped repainted
  ;;
start_animates)
  menu $STOP
  settled stopped
  menu $START
  sleep 0.6
  shot started
  changed stopped started
  sleep 0.6
  shot later
  changed started later
  ;;
initialize_while_stopped)
  menu $STOP
  settled stopped
  menu $INITIALIZE
  sleep 0.6
  shot initialized
  same stopped initialized
  repaint
  shot repainted
  changed stopped repainted
  ;;
close_exits)
  "$xclose" "$window" || fail "could not send the close request"
  for _ in $(seq 50); do kill -0 "$app_pid" 2>/dev/null || break; sleep 0.1; done
  kill -0 "$app_pid" 2>/dev/null && fail "the program still runs 5 s after its window was closed"
  wait "$app_pid"
  code=$?
  app_pid=
  [ "$code" -eq 0 ] || fail "the program ended with exit code $code"
  ;;
dialog_*)
  run_dialog_scenario "$scenario"
  ;;
*)
  fail "unknown scenario"
  ;;
esac

grep -q CRITICAL "$out/program.log" && fail "the program logged a critical message"
rm -rf "$out"
exit 0
