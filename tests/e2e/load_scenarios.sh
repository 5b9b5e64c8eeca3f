# The scenarios of input under load and of extreme window sizes, sourced by scenario.sh (which
# provides fail, eventually, probe, shot, menu and the dialog's helpers). At 50000 particles
# without merging a step outlasts many keystrokes: what is typed during one step reaches the
# program in one batch, and must still be taken one input at a time, each acted on before the
# next is looked at.

# slow_steps: 50000 particles without merging; sets step (milliseconds between frames).
slow_steps() {
  open_dialog
  type_box count 50000
  type_box merge 0
  xdotool key Return
  dialog_closed
  next_step
  echo "a frame every $step ms"
}

# next_step: returns just after a frame was shown, when the next step has begun.
next_step() {
  step=$(probe step Orrelune 400 $((menu_bar + 100)) 200 200 | sed -n 's/^step=//p')
  [ -n "$step" ] || fail "the animation does not move"
}

# The menu's keys for a command: F10 opens the menu bar, Down the pop-up and then each item.
menu_keys() {
  local keys="F10" i
  for i in $(seq "$1"); do keys+=" Down"; done
  echo "$keys Return"
}

# dialogs_are N: N dialogs are on screen.
dialogs_are() {
  local n
  n=$(xdotool search --onlyvisible --name '^Dialog$' 2>/dev/null | wc -l)
  [ "$n" -eq "$1" ] || { echo "$n dialogs are on screen, not $1"; return 1; }
}

# click_menu_item N: clicks the menu open and its N-th item, without waiting for the program.
click_menu_item() {
  xdotool mousemove $((X + 20)) $((Y + menu_bar / 2)) click 1 \
    mousemove $((Px + 40)) $((Py + 12 + ($1 - 1) * 25)) click 1
}

# take_typed_ahead: Escape ends whatever dialog the keys typed before left open, and the main
# window's menu opening again shows that all of it has been dealt with. (The dialog that the
# first keys open may come and go before a window manager has shown it.)
take_typed_ahead() {
  xdotool key Escape
  probe gone Dialog >/dev/null || fail "a dialog is still open: $(dialogs_are 0)"
  handled
}

# dialog_took_all_input: what was sent before has been dealt with once the dialog takes what is
# typed after it.
dialog_took_all_input() {
  find_dialog
  type_box count 77
  [ "$(read_box count)" = 77 ] || fail "the count box did not take the typing"
}

# alive: the program still runs.
alive() { kill -0 "$app_pid" 2>/dev/null || fail "the program ended (see program.log)"; }

# no_warnings: nothing from GLib or GTK on the program's output.
no_warnings() {
  ! grep -E 'CRITICAL|WARNING' "$out/program.log" || fail "the program logged a warning"
}

# rss_below MB: the program's resident memory is under MB megabytes.
rss_below() {
  local kb
  kb=$(awk '/^VmRSS:/ { print $2 }' "/proc/$app_pid/status")
  [ "$((kb / 1024))" -lt "$1" ] || { echo "the program holds $((kb / 1024)) MB, not under $1 MB"; return 1; }
}

# resize W H: sets the window's size and, without a window manager to change it, waits for it.
resize() {
  xdotool windowsize "$window" "$1" "$2"
  [ -n "$wm" ] || eventually size_is "$1" "$2"
}

# context_menu_open: a pop-up (an override-redirect window of a menu's size) is on screen.
context_menu_open() {
  local w
  for w in $(xwininfo -root -children | awk '/^ +0x/ { print $1 }'); do
    xwininfo -id "$w" -stats | awk '/Map State:/ { m = $3 } /Override Redirect State:/ { o = $4 }
      /Width:/ { w = $2 } /Height:/ { h = $2 }
      END { exit !(m == "IsViewable" && o == "yes" && w >= 48 && h >= 48) }' && return 0
  done
  echo "no pop-up is on screen"
  return 1
}

no_popup() { ! context_menu_open >/dev/null || { echo "a pop-up is still on screen"; return 1; }; }

# coloured_in X0 Y0 X1 Y1 NAME: how many pixels of that part of the screen are not white; the
# part is kept as NAME.png.
coloured_in() {
  import -window root -crop "$(($3 - $1))x$(($4 - $2))+$1+$2" +repage "$out/$5.png" || fail "no screenshot $5"
  convert "$out/$5.png" -fill black +opaque white -format '%[fx:int((1-mean)*w*h+0.5)]' info:
}

# visible_painted NAME: the part of the client area on the screen is painted: particles where
# the field (the top-left 1050 x 700) shows, else the white beside it (a window manager may
# have moved the window up or left of the screen). Unpainted, it would be black.
visible_painted() {
  place "$window" now_
  local top=$((now_Y + menu_bar))
  local x0=$((now_X > 0 ? now_X : 0)) y0=$((top > 0 ? top : 0))
  local x1=$((now_X + 1050 < SCREEN_WIDTH ? now_X + 1050 : SCREEN_WIDTH)) y1=$((top + 700 < SCREEN_HEIGHT ? top + 700 : SCREEN_HEIGHT))
  local n
  if [ $((x1 - x0)) -ge 200 ] && [ $((y1 - y0)) -ge 150 ]; then
    n=$(coloured_in "$x0" "$y0" "$x1" "$y1" "$1")
    [ "$n" -gt 100 ] || { echo "only $n coloured pixels in the field in $1"; return 1; }
    return 0
  fi
  # Below or right of the field, as much of the client area as the screen shows.
  x0=$((now_X + 1050 > 0 ? now_X + 1050 : 0))
  [ $((SCREEN_WIDTH - x0)) -ge 100 ] || { x0=$((now_X > 0 ? now_X : 0)); y0=$((top + 700 > 0 ? top + 700 : 0)); }
  x1=$((now_X + now_WIDTH < SCREEN_WIDTH ? now_X + now_WIDTH : SCREEN_WIDTH))
  y1=$((now_Y + now_HEIGHT < SCREEN_HEIGHT ? now_Y + now_HEIGHT : SCREEN_HEIGHT))
  [ $((x1 - x0)) -gt 0 ] && [ $((y1 - y0)) -gt 0 ] || { echo "no part of the client area is on the screen"; return 1; }
  n=$(coloured_in "$x0" "$y0" "$x1" "$y1" "$1")
  [ "$n" -eq 0 ] || { echo "$n pixels beside the field are not the white background in $1"; return 1; }
}

run_load_scenario() {
  case $1 in
  load_one_dialog)
    # "parameter" chosen twice within one step: the first opens the dialog and disables the
    # main window before the second is looked at. Typed, the second goes to the dialog (whose
    # Enter ends it); clicked, it goes nowhere and the dialog stays, alone.
    slow_steps
    next_step
    # shellcheck disable=SC2046
    xdotool key --delay 5 $(menu_keys $PARAMETER) $(menu_keys $PARAMETER)
    take_typed_ahead
    dialogs_are 0 || fail "$(dialogs_are 0): the second choice opened a dialog of its own"
    next_step
    # shellcheck disable=SC2046
    xdotool key --delay 5 $(menu_keys $PARAMETER)
    click_menu_item $PARAMETER
    dialog_took_all_input
    dialogs_are 1 || fail "$(dialogs_are 1)"
    press_cancel
    dialog_closed
    handled
    dialogs_are 0 || fail "a second dialog opened after the first closed"
    ;;
  load_no_command_behind_dialog)
    # "parameter" and then STOP within one step: STOP does not reach the main window, so the
    # animation goes on, behind the dialog and after it.
    slow_steps
    next_step
    # shellcheck disable=SC2046
    xdotool key --delay 5 $(menu_keys $PARAMETER) $(menu_keys $STOP)
    take_typed_ahead
    shot after-dialog
    eventually shot_changed moving after-dialog
    next_step
    # shellcheck disable=SC2046
    xdotool key --delay 5 $(menu_keys $PARAMETER)
    click_menu_item $STOP
    dialog_took_all_input
    local right="$((1050 - DWIDTH - 10))x500+$((DWIDTH + 10))+50"
    shot behind
    eventually crop_changed behind-later behind "$right"
    press_cancel
    dialog_closed
    shot after-second-dialog
    eventually shot_changed moving-again after-second-dialog
    ;;
  load_no_close_behind_dialog)
    # "parameter" and then a close request within one step: the close reaches a disabled window
    # and is refused; the dialog stays.
    slow_steps
    next_step
    # shellcheck disable=SC2046
    xdotool key --delay 5 $(menu_keys $PARAMETER)
    "$xclose" "$window" || fail "could not send the close request"
    dialog_took_all_input
    alive
    dialogs_are 1 || fail "$(dialogs_are 1)"
    press_cancel
    dialog_closed
    # Again, with the main window's menu asked for after the close.
    next_step
    # shellcheck disable=SC2046
    xdotool key --delay 5 $(menu_keys $PARAMETER)
    "$xclose" "$window" || fail "could not send the close request"
    xdotool key F10
    dialog_took_all_input
    alive
    press_cancel
    dialog_closed
    handled
    no_warnings
    # Now the main window takes its close again.
    "$xclose" "$window" || fail "could not send the close request"
    exits_with 0
    ;;
  load_close_during_popup)
    # A close request to the dialog while a box's context menu is open closes the dialog.
    open_dialog
    set -- ${BOX[count]}
    xdotool mousemove $((DX + ($1 + 20) * bx / 4)) $((DY + ($2 + 7) * by / 8)) click 3
    eventually context_menu_open
    "$xclose" "$dialog" || fail "could not send the close request"
    dialog_closed
    eventually no_popup
    alive
    handled
    no_warnings
    ;;
  load_huge_window)
    # Client areas of more than 2^31 bytes of pixels: the program paints what is on the screen
    # and keeps memory for no more.
    eventually rss_below 400
    local size
    for size in "32767 16390" "23171 23180" "16000 16000"; do
      # shellcheck disable=SC2086
      resize $size
      eventually visible_painted "huge-${size// /x}"
      alive
      eventually rss_below 400
    done
    resize 1050 "$HEIGHT"
    # A window manager may have moved it away: back where it was.
    [ -z "$wm" ] || xdotool windowmove "$window" "$X" "$Y"
    eventually visible_painted back
    eventually rss_below 400
    no_warnings
    ;;
  load_tiny_window)
    # Smaller than the menu bar wants, which only a window manager would refuse.
    local size
    for size in "1 1" "10 10" "30 5" "60 40" "1 400" "800 1" "1050 24"; do
      # shellcheck disable=SC2086
      xdotool windowsize "$window" $size
      handled_small
    done
    resize 1050 "$HEIGHT"
    eventually particles back
    alive
    no_warnings
    ;;
  load_server_lost)
    # The X server goes away: the program says why before it ends.
    kill "$xvfb_pid"
    xvfb_pid=
    exits_with 1
    grep -q 'lost the connection to the X server' "$out/program.log" ||
      fail "the program ended without saying why: $(cat "$out/program.log")"
    ;;
  *)
    fail "unknown scenario"
    ;;
  esac
}

# handled_small: the program has taken everything sent so far (the size, too), even when its
# window is too small to open the menu with the mouse: F10 and Down open the menu's pop-up.
# Without a window manager the keys go to the window under the pointer.
handled_small() {
  place "$window" now_
  xdotool mousemove "$now_X" "$now_Y"
  xdotool key F10 Down
  eventually context_menu_open
  xdotool key Escape Escape
  eventually no_popup
}
