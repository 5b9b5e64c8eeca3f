#!/usr/bin/env bash
# The Windows program under Wine, in a virtual X server (Xvfb, no window manager), driven as a
# person would with the mouse and keyboard, and checked on screenshots of its window.
# Usage: tests/windows/e2e.sh ORRELUNE_EXE ORRELUNE_SIM_EXE WORK_DIR WINE_PREFIX
# (the driver tells which texts the dialog must show)
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
program=$(realpath "$1")
driver=$(realpath "$2")
work=$3
prefix=$4
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
Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp -noreset >"$work/xvfb.log" 2>&1 &
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

# start_program [NAME=VALUE...]: starts the program, with those variables set, and waits for its window.
start_program() {
  env "$@" "$WINE" "$program" >"$work/program.log" 2>&1 &
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

# The program's menu pop-ups on screen (unnamed windows other than the main one), one id a line.
popups() {
  local id
  for id in $(xdotool search --onlyvisible --class orrelune.exe 2>/dev/null || true); do
    [ "$id" = "$window" ] && continue
    [ -n "$(xdotool getwindowname "$id" 2>/dev/null)" ] && continue
    eval "$(xdotool getwindowgeometry --shell "$id")"
    # Wine keeps 1 x 1 helper windows mapped; they are not what a person sees.
    [ "$WIDTH" -gt 1 ] && echo "$id"
  done
  return 0
}

# Waits until a menu pop-up is on screen (want=1) or none is (want=0).
wait_popup() {
  local _
  for _ in $(seq 50); do
    if [ "$1" = 1 ] && [ -n "$(popups)" ]; then return 0; fi
    if [ "$1" = 0 ] && [ -z "$(popups)" ]; then return 0; fi
    sleep 0.2
  done
  return 1
}

# Opens the menu with a click on its title, then picks item N (1 = START) with the keyboard.
menu_command() {
  xdotool mousemove --window "$window" 15 10 click 1
  wait_popup 1 || { echo "e2e: the menu did not open" >&2; return 1; }
  local _
  for _ in $(seq "$1"); do xdotool key Down; done
  xdotool key Return
  wait_popup 0 || { echo "e2e: the menu did not close" >&2; return 1; }
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

# Waits for the parameter dialog and sets $dialog.
wait_dialog() {
  local _
  dialog=
  for _ in $(seq 50); do
    dialog=$(xdotool search --onlyvisible --name '^Dialog$' 2>/dev/null | head -n1 || true)
    [ -n "$dialog" ] && return 0
    sleep 0.2
  done
  return 1
}

# Copies the focused edit's selected text through Wine's clipboard and prints it.
copy_field() {
  local _ text
  printf '(none)' | xclip -selection clipboard
  xdotool key ctrl+c
  for _ in $(seq 20); do
    text=$(xclip -o -selection clipboard 2>/dev/null || true)
    [ "$text" != "(none)" ] && break
    sleep 0.1
  done
  printf '%s' "$text"
}

# A rectangle of the dialog given in dialog units, in pixels of its window (its client area).
dialog_rect() {
  eval "$(xdotool getwindowgeometry --shell "$dialog")"
  awk -v W="$WIDTH" -v H="$HEIGHT" -v x="$1" -v y="$2" -v w="$3" -v h="$4" 'BEGIN {
    sx = W / 252; sy = H / 145
    printf "%d %d %d %d\n", int(x * sx), int(y * sy), int(w * sx + 0.999), int(h * sy + 0.999) }'
}

# Scenario: "parameter" opens the dialog with the current values and its Japanese labels.
expected=$(wine_run "$driver" --params | tr -d '\r' | sed -n 's/^params //p' | tr ' ' '\n' | sed 's/^[a-z]*=//')
if menu_command 3 && wait_dialog; then
  sleep 0.5
  # With no window manager, keys go to the window under the pointer. Focus starts on OK; Tab
  # walks the controls in template order, and entering an edit selects its whole text.
  xdotool mousemove --window "$dialog" 3 3
  xdotool key Tab
  shown=
  for _ in 1 2 3 4 5 6 7 8; do
    xdotool key Tab
    shown+="$(copy_field)"$'\n'
  done
  if [ "$shown" = "$expected"$'\n' ]; then
    pass "the dialog shows the eight values: $(paste -sd' ' <<<"${shown%$'\n'}")"
  else
    fail "the dialog shows the eight values: shown [$(paste -sd' ' <<<"${shown%$'\n'}")], expected [$(paste -sd' ' <<<"$expected")]"
  fi

  # Three one-line labels (x y w h in dialog units, characters): drawn in a font that has their
  # glyphs, each character differs; missing glyphs come out as copies of one box or "?".
  # Up to three looks, in case the dialog is painted late.
  labels_drawn() {
    local label lx ly lw lh chars glyphs distinct ok=0
    xwd -silent -id "$dialog" >"$work/dialog.xwd"
    for label in "15 19 25 8 3" "14 50 33 8 4" "14 79 33 8 4"; do
      read -r lx ly lw lh chars <<<"$label"
      # shellcheck disable=SC2046
      read -r glyphs distinct <<<"$(./shot "$work/dialog.xwd" $(dialog_rect "$lx" "$ly" "$lw" "$lh") |
        tr ' ' '\n' | sed -n 's/^glyphs=//p; s/^distinct=//p' | tr '\n' ' ')"
      echo "  label at ($lx, $ly): $glyphs pieces of ink, $distinct different, for $chars characters"
      [ "$distinct" -ge $((chars - 1)) ] && ok=$((ok + 1))
    done
    [ "$ok" = 3 ]
  }
  if labels_drawn || { sleep 1 && labels_drawn; } || { sleep 1 && labels_drawn; }; then
    pass "the dialog's Japanese labels are drawn"
  else
    fail "the dialog's Japanese labels are drawn: their glyphs are missing (boxes, question marks or nothing)"
  fi

  # Scenario: OK with a particle count of 0 leaves a white field. Tab from the last edit goes
  # round to OK, Cancel, then the count.
  xdotool key Tab Tab Tab
  xdotool type 0
  xdotool key Return
  for _ in $(seq 50); do
    [ -z "$(xdotool search --onlyvisible --name '^Dialog$' 2>/dev/null || true)" ] && break
    sleep 0.2
  done
  white_field() {
    grab emptied
    [ "$(measure emptied colours)" = 1 ] && [ "$(measure emptied white)" -gt 0 ]
  }
  if [ -z "$(xdotool search --onlyvisible --name '^Dialog$' 2>/dev/null || true)" ] &&
    { white_field || { sleep 1 && white_field; } || { sleep 1 && white_field; }; }; then
    pass "OK with count 0 gives a white field"
  else
    fail "OK with count 0 gives a white field: the dialog is still open, or the field has $(measure emptied ink) pixels of ink"
  fi
else
  fail "\"parameter\" opens the dialog: no window named Dialog within 10 s"
fi

# Sets $status to the program's exit code once it has ended (within 15 s), else leaves it empty.
wait_exit() {
  status=
  local _
  for _ in $(seq 75); do
    if ! kill -0 "$program_pid" 2>/dev/null; then
      wait "$program_pid" && status=0 || status=$?
      return 0
    fi
    sleep 0.2
  done
}

# Scenario: closing the window (Alt+F4, the system menu's Close) ends the process with 0.
close_window() {
  xdotool mousemove --window "$window" 500 300
  xdotool key alt+F4
  wait_exit
}
close_window
if [ "$status" = 0 ] && [ -z "$(xdotool search --name '^Orrelune$' 2>/dev/null || true)" ]; then
  pass "closing the window ends the process (exit 0)"
else
  fail "closing the window ends the process: ${status:-still running after 15 s}"
fi

# Scenario: an engine name the program does not know: one warning on stderr, and it runs.
if start_program ORRELUNE_ENGINE=FAST; then
  warning=$(tr -d '\r' <"$work/program.log" | grep -c ORRELUNE_ENGINE || true)
  if [ "$warning" = 1 ] && tr -d '\r' <"$work/program.log" |
    grep -q "^orrelune: ORRELUNE_ENGINE='FAST' names no engine (exact, fast or literal); using exact$"; then
    pass "ORRELUNE_ENGINE=FAST: one warning, and the window runs"
  else
    fail "ORRELUNE_ENGINE=FAST: the log says: $(tr -d '\r' <"$work/program.log")"
  fi
  close_window
else
  fail "ORRELUNE_ENGINE=FAST: no window named Orrelune within 30 s"
fi

# Scenario: a generator name GSL does not know: a message box instead of the window; OK ends the
# process with 1.
env GSL_RNG_TYPE=bogus "$WINE" "$program" >"$work/program.log" 2>&1 &
program_pid=$!
box=
for _ in $(seq 150); do
  box=$(xdotool search --onlyvisible --name '^Orrelune$' 2>/dev/null | head -n1 || true)
  [ -n "$box" ] && break
  sleep 0.2
done
if [ -n "$box" ]; then
  eval "$(xdotool getwindowgeometry --shell "$box")"
  box_width=$WIDTH
  xwd -silent -id "$box" >"$work/message.xwd" || true
  # With no window manager, keys go to the window under the pointer; OK is the box's default button.
  xdotool mousemove --window "$box" 20 20
  sleep 0.5
  xdotool key Return
  wait_exit
  if [ "$box_width" -lt 1000 ] && [ "$status" = 1 ]; then
    pass "GSL_RNG_TYPE=bogus: a message box ($box_width pixels wide), then exit 1"
  else
    fail "GSL_RNG_TYPE=bogus: a window $box_width pixels wide, exit ${status:-none after 15 s}"
  fi
else
  fail "GSL_RNG_TYPE=bogus: no message box titled Orrelune within 30 s"
fi

if [ "$failures" -ne 0 ]; then
  echo "e2e: $failures scenario(s) failed; screenshots in $work"
  exit 1
fi
echo "e2e: all scenarios passed"
