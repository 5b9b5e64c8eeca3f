# The scenarios that need a window manager, sourced by scenario.sh (run with --wm), which also
# provides the dialog's helpers. What the window manager shows and does is read from the
# properties it sets (allowed actions, stacking, the active window) and from screenshots of the
# frames; its buttons are clicked where they are drawn.

# atoms WINDOW PROPERTY: the atoms of a property, one a line.
atoms() { xprop -id "$1" "$2" | sed 's/^[^=]*= //; s/, /\n/g'; }

# window_property WINDOW PROPERTY: the property's value as xprop prints it.
window_property() { xprop -id "$1" "$2" | sed 's/^[^=:]*[=:] *//'; }

# caption_buttons X Y W H: the buttons drawn in a strip of a caption (screen pixels): columns
# with dark pixels in them, grouped into runs, one a button. Prints the middle of each run.
caption_buttons() {
  import -window root -crop "${3}x$4+$1+$2" +repage "$out/caption.png"
  convert "$out/caption.png" -colorspace gray -threshold 50% -negate -scale "${3}x1!" -depth 8 txt:- |
    awk -F'[,: ]+' -v x0="$1" '/^[0-9]/ {
        dark = $0 !~ /#000000/
        if (dark && start < 0) start = $1
        if (!dark && start >= 0) { print x0 + int((start + $1 - 1) / 2); start = -1 }
      }
      BEGIN { start = -1 }
      END { if (start >= 0) print x0 + int((start + $1) / 2) }'
}

# main_caption: the right end of the main window's caption, drawn by the window manager, up to
# its border: sets CAPTION (X Y W H for caption_buttons) and CAPTION_MIDDLE (its middle row).
main_caption() {
  local left right top bottom
  IFS=', ' read -r left right top bottom <<<"$(window_property "$window" _NET_FRAME_EXTENTS)"
  [ "${top:-0}" -gt 8 ] || fail "the main window has no caption (frame extents: $left $right $top $bottom)"
  place "$window" main_
  CAPTION="$((main_X + main_WIDTH - 90)) $((main_Y - top + 4)) 90 $((top - 8))"
  CAPTION_MIDDLE=$((main_Y - top / 2))
}

# dialog_caption: the right end of the dialog's caption, whoever draws it: the window manager
# (in its frame, above the dialog's window) or the dialog itself (inside its window, above the
# client area).
dialog_caption() {
  local left right top bottom
  IFS=', ' read -r left right top bottom <<<"$(window_property "$dialog" _NET_FRAME_EXTENTS)"
  place "$dialog" dialog_
  local first=$((dialog_Y - ${top:-0} + DX - dialog_X + 2))
  [ $((DY - first)) -gt 8 ] || fail "the dialog has no caption"
  CAPTION="$((DX + DWIDTH - 90)) $first 90 $((DY - first - 2))"
  CAPTION_MIDDLE=$(((first + DY) / 2))
}

# buttons_are N: the caption strip in CAPTION shows N buttons.
buttons_are() {
  local n
  # shellcheck disable=SC2086
  n=$(caption_buttons $CAPTION | wc -l)
  [ "$n" -eq "$1" ] || { echo "the caption shows $n buttons, not $1"; return 1; }
}

# click_close: clicks the rightmost button of the caption in CAPTION (the close button).
click_close() {
  local x
  # shellcheck disable=SC2086
  x=$(caption_buttons $CAPTION | tail -n1)
  [ -n "$x" ] || fail "no close button in the caption"
  xdotool mousemove "$x" "$CAPTION_MIDDLE" click 1
}

# active_is ID: the window manager's active window is ID.
active_is() {
  local active
  active=$(xprop -root _NET_ACTIVE_WINDOW | sed -n 's/.*# //p')
  [ "$((active))" -eq "$(($1))" ] || { echo "the active window is $active, not $1"; return 1; }
}

# above WINDOW OTHER: WINDOW is stacked above OTHER.
above() {
  local order
  order=$(xprop -root _NET_CLIENT_LIST_STACKING | sed 's/^[^#]*# //; s/, /\n/g' | while read -r id; do echo $((id)); done)
  local a b
  a=$(grep -nx "$(($1))" <<<"$order" | cut -d: -f1)
  b=$(grep -nx "$(($2))" <<<"$order" | cut -d: -f1)
  [ -n "$a" ] && [ -n "$b" ] && [ "$a" -gt "$b" ] || { echo "window $1 is not above $2 (stacking: $(paste -sd' ' <<<"$order"))"; return 1; }
}

has_atom() { atoms "$1" "$2" | grep -qx "$3"; }

# iconic WINDOW, shown_normally WINDOW: the window manager has iconified the window, or shows it.
iconic() {
  xprop -id "$1" WM_STATE | grep -q 'window state: Iconic' || { echo "window $1 is not iconified"; return 1; }
}
shown_normally() {
  xprop -id "$1" WM_STATE | grep -q 'window state: Normal' || { echo "window $1 is not shown"; return 1; }
}

# menu_shown: a menu of the window manager's (a viewable override-redirect window) is on screen.
menu_shown() {
  local id
  for id in $(xwininfo -root -children | sed -n 's/^ *\(0x[0-9a-f]*\) .*/\1/p'); do
    xwininfo -id "$id" | grep -q 'Override Redirect State: yes' && xwininfo -id "$id" | grep -q 'Map State: IsViewable' &&
      return 0
  done
  echo "no menu on screen"
  return 1
}

run_wm_scenario() {
  [ -n "$wm" ] || fail "$1 needs a window manager (--wm)"
  case $1 in
  wm_main_window)
    [ "$(window_property "$window" _NET_WM_NAME)" = '"Orrelune"' ] || fail "the main window's title is not Orrelune"
    has_atom "$window" _NET_WM_WINDOW_TYPE _NET_WM_WINDOW_TYPE_NORMAL || fail "the main window is not a normal window"
    local action
    for action in CLOSE MINIMIZE MAXIMIZE_HORZ MAXIMIZE_VERT RESIZE MOVE; do
      has_atom "$window" _NET_WM_ALLOWED_ACTIONS "_NET_WM_ACTION_$action" ||
        fail "the window manager does not offer $action for the main window"
    done
    # Minimise, maximise and close in its caption.
    main_caption
    eventually buttons_are 3
    # Resizable by the person: a drag on the frame's lower right corner.
    local left right top bottom
    IFS=', ' read -r left right top bottom <<<"$(window_property "$window" _NET_FRAME_EXTENTS)"
    xdotool mousemove $((main_X + main_WIDTH + right - 1)) $((main_Y + main_HEIGHT + bottom - 1)) mousedown 1
    xdotool mousemove_relative -- -150 -100
    xdotool mousemove_relative -- -150 -100 mouseup 1
    eventually size_is $((main_WIDTH - 300)) $((main_HEIGHT - 200))
    ;;
  wm_close_button)
    eventually active_is "$window"
    main_caption
    click_close
    exits_with 0
    ;;
  wm_dialog_frame)
    open_dialog
    [ "$(window_property "$dialog" _NET_WM_NAME)" = '"Dialog"' ] || fail "the dialog's title is not Dialog"
    has_atom "$dialog" _NET_WM_WINDOW_TYPE _NET_WM_WINDOW_TYPE_DIALOG || fail "the dialog is not of the dialog type"
    has_atom "$dialog" _NET_WM_STATE _NET_WM_STATE_MODAL || fail "the dialog is not modal"
    has_atom "$dialog" _NET_WM_STATE _NET_WM_STATE_SKIP_TASKBAR || fail "the dialog is in the task bar"
    [ "$(($(window_property "$dialog" WM_TRANSIENT_FOR | sed 's/.*# //')))" -eq "$window" ] ||
      fail "the dialog is not transient for the main window"
    local action
    for action in RESIZE MAXIMIZE_HORZ MAXIMIZE_VERT; do
      has_atom "$dialog" _NET_WM_ALLOWED_ACTIONS "_NET_WM_ACTION_$action" && fail "the dialog can $action"
    done
    # A fixed frame: as small as it is large.
    local sizes
    sizes=$(xprop -id "$dialog" WM_NORMAL_HINTS | sed -n 's/.*program specified m[a-z]* size: //p' | sort -u | wc -l)
    [ "$sizes" -eq 1 ] || fail "the dialog's smallest and largest sizes differ"
    # The window manager's frame, as on its other windows: a caption as high as the main window's
    # and borders as wide, and nothing of the dialog's own above its client area.
    local left right top bottom main_left main_right main_top main_bottom
    IFS=', ' read -r left right top bottom <<<"$(window_property "$dialog" _NET_FRAME_EXTENTS)"
    IFS=', ' read -r main_left main_right main_top main_bottom <<<"$(window_property "$window" _NET_FRAME_EXTENTS)"
    [ "${top:-0}" -gt 8 ] || fail "the window manager draws no caption for the dialog (frame extents: $left $right $top $bottom)"
    [ "$top" -eq "$main_top" ] && [ "$left" -eq "$main_left" ] && [ "$right" -eq "$main_right" ] ||
      fail "the dialog's frame ($left $right $top $bottom) differs from the main window's ($main_left $main_right $main_top $main_bottom)"
    [ "$DY" -eq "$dialog_Y" ] && [ "$DHEIGHT" -eq "$dialog_HEIGHT" ] ||
      fail "the dialog draws a caption of its own: its client area starts $((DY - dialog_Y)) pixels down"
    # Its client area where Windows puts it: at the template's place (0, 0) of the main window's.
    place "$window" main_
    [ "$DX" -eq "$main_X" ] && [ "$DY" -eq $((main_Y + menu_bar)) ] ||
      fail "the dialog's client area is at $DX,$DY, not at the main window's client area ($main_X,$((main_Y + menu_bar)))"
    # The caption carries the window manager's buttons.
    dialog_caption
    # shellcheck disable=SC2086
    [ -n "$(caption_buttons $CAPTION)" ] || fail "the dialog's caption shows no buttons"
    dialog_shot frame
    xdotool key Escape
    dialog_closed
    ;;
  wm_dialog_minimise)
    open_dialog
    eventually active_is "$dialog"
    # Iconify from the window manager's window menu (Alt+Space, then its "Ico_nify").
    xdotool key alt+space
    eventually menu_shown
    xdotool key n
    # The dialog and its owner go down together ...
    eventually iconic "$dialog"
    eventually iconic "$window"
    # ... and come back together when the main window is brought back, as a task bar does.
    xdotool windowactivate "$window"
    eventually shown_normally "$window"
    eventually shown_normally "$dialog"
    eventually above "$dialog" "$window"
    eventually active_is "$dialog"
    # Still the same dialog, painted again where it now stands, and it takes the keyboard.
    local before=$dialog
    find_dialog
    [ "$dialog" = "$before" ] || fail "another dialog came back"
    # shellcheck disable=SC2046
    probe drawn Dialog $(drawn_args) >/dev/null || fail "the dialog was not painted again"
    type_box count 33
    [ "$(read_box count)" = 33 ] || fail "the count box did not take the typing after the dialog came back"
    xdotool key Escape
    dialog_closed
    eventually active_is "$window"
    ;;
  wm_dialog_header_bar)
    # Where the desktop asks dialogs for a header bar, GTK draws the caption, as in its own.
    stop_program
    mkdir -p "$out/gtk-settings/gtk-3.0"
    printf '[Settings]\ngtk-dialogs-use-header=true\n' >"$out/gtk-settings/gtk-3.0/settings.ini"
    start_program XDG_CONFIG_HOME="$out/gtk-settings"
    open_dialog
    local left right top bottom
    IFS=', ' read -r left right top bottom <<<"$(window_property "$dialog" _NET_FRAME_EXTENTS)"
    [ "${top:-0}" -eq 0 ] || fail "the window manager draws a caption too (frame extents: $left $right $top $bottom)"
    [ $((DY - dialog_Y)) -gt 8 ] || fail "no header bar above the dialog's client area"
    has_atom "$dialog" _NET_WM_WINDOW_TYPE _NET_WM_WINDOW_TYPE_DIALOG || fail "the dialog is not of the dialog type"
    has_atom "$dialog" _NET_WM_STATE _NET_WM_STATE_MODAL || fail "the dialog is not modal"
    dialog_shot header
    # Its close button is Cancel.
    type_box count 1
    dialog_caption
    click_close
    dialog_closed
    open_dialog
    [ "$(read_box count)" = 500 ] || fail "the header bar's close button changed the count"
    xdotool key Escape
    dialog_closed
    ;;
  wm_dialog_close_button)
    menu $STOP
    settled stopped
    open_dialog
    type_box count 1
    dialog_caption
    click_close
    dialog_closed
    eventually shot_same after-close stopped
    open_dialog
    [ "$(read_box count)" = 500 ] || fail "the close button changed the count"
    xdotool key Escape
    dialog_closed
    ;;
  wm_dialog_stays_above)
    open_dialog
    eventually above "$dialog" "$window"
    # Clicks on the main window: its client area, its caption, its menu, its close button.
    place "$window" main_
    xdotool mousemove $((main_X + 800)) $((main_Y + 400)) click 1
    main_caption
    xdotool mousemove $((main_X + main_WIDTH / 2)) "$CAPTION_MIDDLE" click 1
    xdotool mousemove $((main_X + 20)) $((main_Y + menu_bar / 2)) click 1
    click_close
    # Those clicks came before the typing: once the box shows it, they were dealt with.
    type_box count 77
    [ "$(read_box count)" = 77 ] || fail "the count box did not take the typing"
    "$probe" --timeout 0 nopopup >/dev/null || fail "the main window's menu opened behind the dialog"
    kill -0 "$app_pid" 2>/dev/null || fail "the program ended while its dialog was open"
    "$probe" --timeout 0 window Dialog >/dev/null || fail "the dialog went away"
    eventually above "$dialog" "$window"
    press_cancel
    dialog_closed
    ;;
  wm_focus_returns)
    eventually active_is "$window"
    open_dialog
    eventually active_is "$dialog"
    xdotool key Escape
    dialog_closed
    eventually active_is "$window"
    open_dialog
    eventually active_is "$dialog"
    press_ok
    dialog_closed
    eventually active_is "$window"
    # The main window takes the keyboard again: its menu opens with F10.
    xdotool key F10
    probe popup >/dev/null || fail "F10 did not open the main window's menu"
    xdotool key Escape
    close_menu
    ;;
  *)
    fail "unknown scenario"
    ;;
  esac
}
