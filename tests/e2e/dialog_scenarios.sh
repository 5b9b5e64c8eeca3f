# The parameter dialog's scenarios, sourced by scenario.sh (which provides fail, eventually,
# probe, shot and its comparisons, settled, menu and the program's window). The dialog is worked
# with the mouse and keyboard; what a box holds is read as a person would copy it: Ctrl+A, Ctrl+C.

# Where each edit sits in the template, in dialog units (x y).
declare -A BOX=([count]="49 15" [gravity]="49 46" [density]="48 76" [radius]="49 106"
  [speed]="131 15" [spread]="129 44" [scale]="131 76" [merge]="132 106")
BOX_ORDER=(count gravity density radius speed spread scale merge)
# The labels in dialog units (x y w h) and how many characters each has; the Latin one apart.
JAPANESE_LABELS=("15 19 25 8 3" "14 50 33 8 4" "14 79 33 8 4" "14 105 34 16 6" "93 14 36 16 6" "94 45 35 18 6"
  "99 105 28 15 5")
LATIN_LABEL="99 79 33 14"

# Dialog units to pixels of the dialog, with the base units of the dialog on screen.
px() { echo $(($1 * bx / 4)); }
py() { echo $(($1 * by / 8)); }

# An empty stretch of the dialog, between the right column of boxes and the buttons: one colour
# once the dialog is painted, whatever lay under it before.
BACKGROUND="176 50 16 90"

# drawn_args [japanese]: what xprobe's "drawn" needs: the Latin label's ink (or every label's,
# with "japanese") and the empty stretch, in pixels of the dialog.
drawn_args() {
  local label x y w h c
  set -- ${1:-}
  if [ "${1:-}" = japanese ]; then
    for label in "${JAPANESE_LABELS[@]}"; do
      read -r x y w h c <<<"$label"
      echo "$(px "$x") $(py "$y") $(px "$w") $(py "$h") $((14 * c))"
    done
  fi
  read -r x y w h <<<"$LATIN_LABEL"
  echo "$(px "$x") $(py "$y") $(px "$w") $(py "$h") 60"
  read -r x y w h <<<"$BACKGROUND"
  echo "-- $(px "$x") $(py "$y") $(px "$w") $(py "$h")"
}

# find_dialog: waits for the dialog's window; sets dialog (its window), client (its client
# area's window), the client area's place (DX DY DWIDTH DHEIGHT) and the base units bx, by
# recovered from its size (252 x 145 units).
find_dialog() {
  local where
  where=$(probe window Dialog) || fail "the dialog did not open"
  eval "$(placed dialog_ <<<"$where")"
  dialog=$dialog_ID
  where=$(probe client Dialog) || fail "the dialog has no client area"
  eval "$(placed D <<<"$where")"
  client=$DID
  bx=$(((DWIDTH * 4 + 126) / 252))
  by=$(((DHEIGHT * 8 + 72) / 145))
  [ "$bx" -gt 2 ] && [ "$by" -gt 5 ] || fail "the dialog is only ${DWIDTH}x$DHEIGHT pixels"
}

# open_dialog: chooses "parameter" and waits until the dialog is painted.
open_dialog() {
  menu $PARAMETER
  find_dialog
  # shellcheck disable=SC2046
  probe drawn Dialog $(drawn_args) >/dev/null || fail "the dialog was not painted"
}

# click_control X Y W H: clicks the middle of a control given in dialog units.
click_control() {
  xdotool mousemove $((DX + ($1 + $3 / 2) * bx / 4)) $((DY + ($2 + $4 / 2) * by / 8)) click 1
}

# read_box NAME: what the box shows, copied to the clipboard.
read_box() {
  # xclip stays to hold the selection until another program takes it: not on our output, which
  # a caller's $(...) would wait on.
  printf 'nothing copied' | xclip -selection clipboard >/dev/null 2>&1
  set -- ${BOX[$1]}
  click_control "$1" "$2" 40 14
  xdotool key ctrl+a ctrl+c
  local text deadline=$((SECONDS + PATIENCE))
  while text=$(timeout 5 xclip -o -selection clipboard 2>/dev/null); [ "$text" = "nothing copied" ]; do
    [ "$SECONDS" -lt "$deadline" ] || break
    sleep 0.1
  done
  printf '%s' "$text"
}

# type_box NAME TEXT: replaces what the box holds.
type_box() {
  local text=$2
  set -- ${BOX[$1]}
  click_control "$1" "$2" 40 14
  xdotool key ctrl+a
  xdotool type --delay 20 "$text"
}

press_ok() { click_control 195 7 50 14; }
press_cancel() { click_control 195 24 50 14; }

# dialog_closed: waits until the dialog has left the screen.
dialog_closed() { probe gone Dialog >/dev/null || fail "the dialog is still open"; }

expect_boxes() {
  local i text
  for i in "${!BOX_ORDER[@]}"; do
    text=$(read_box "${BOX_ORDER[$i]}")
    [ "$text" = "$1" ] || fail "the ${BOX_ORDER[$i]} box shows '$text', not '$1'"
    shift
  done
}

# dialog_shot NAME: the dialog's client area into NAME.png.
dialog_shot() {
  import -window root -crop "${DWIDTH}x${DHEIGHT}+${DX}+${DY}" +repage "$out/$1.png" || fail "no screenshot $1"
}

# region X Y W H: an ImageMagick crop of a rectangle given in dialog units.
region() {
  echo "$(($3 * bx / 4))x$(($4 * by / 8))+$(($1 * bx / 4))+$(($2 * by / 8))"
}

# dark_pixels PNG CROP: how many pixels of the crop are darker than mid-grey (ink).
dark_pixels() {
  convert "$1" -crop "$2" +repage -colorspace gray -threshold 50% -negate \
    -format '%[fx:int(mean*w*h+0.5)]' info:
}

# crop_difference A B CROP: how many pixels of the crop differ between two pictures.
crop_difference() {
  convert "$out/$1.png" -crop "$3" +repage "$out/crop-a.png"
  convert "$out/$2.png" -crop "$3" +repage "$out/crop-b.png"
  compare -metric AE "$out/crop-a.png" "$out/crop-b.png" null: 2>&1 | awk '{ printf "%d", $1 + 0 }'
}

# Runs the program again, seeing only the DejaVu fonts: no glyph for Japanese text, so
# the labels come out as boxes. Their pictures are the ones the real labels must not match.
restart_without_japanese_fonts() {
  stop_program
  cat >"$out/fonts.conf" <<CONF
<?xml version="1.0"?>
<!DOCTYPE fontconfig SYSTEM "fonts.dtd">
<fontconfig>
  <dir>/usr/share/fonts/truetype/dejavu</dir>
  <cachedir>$out/fontcache</cachedir>
  <include ignore_missing="yes">/etc/fonts/conf.d</include>
</fontconfig>
CONF
  start_program FONTCONFIG_FILE="$out/fonts.conf"
}

# Runs the program again under a theme that is GTK's own with the default button magenta.
DEFAULT_MARK='#ff00ff'
restart_with_default_marking_theme() {
  stop_program
  mkdir -p "$out/themes/themes/DefaultMark/gtk-3.0"
  cat >"$out/themes/themes/DefaultMark/gtk-3.0/gtk.css" <<CSS
@import url("resource:///org/gtk/libgtk/theme/Adwaita/gtk-contained.css");
button.default { background-image: none; background-color: $DEFAULT_MARK; }
CSS
  start_program XDG_DATA_DIRS="$out/themes:${XDG_DATA_DIRS:-/usr/local/share:/usr/share}" GTK_THEME=DefaultMark
}

# marked X Y W H: how many pixels of a control (dialog units) the theme's default mark covers.
marked() {
  dialog_shot marks
  convert "$out/marks.png" -crop "$(region "$@")" +repage -fill black +opaque "$DEFAULT_MARK" \
    -fill white -opaque "$DEFAULT_MARK" -format '%[fx:int(mean*w*h+0.5)]' info:
}

# default_button_is ok|cancel: that button shows the default mark, the other one none.
default_button_is() {
  local ok cancel
  ok=$(marked 195 7 50 14)
  cancel=$(marked 195 24 50 14)
  case $1 in
  ok) [ "$ok" -gt 200 ] && [ "$cancel" -eq 0 ] ;;
  cancel) [ "$cancel" -gt 200 ] && [ "$ok" -eq 0 ] ;;
  esac || { echo "the default mark covers $ok pixels of OK and $cancel of CANCEL, wanted on $1 alone"; return 1; }
}

# white_field NAME: a screenshot NAME whose client area is all white.
white_field() {
  local coloured
  shot "$1"
  coloured=$(convert "$out/$1.png" -fill black +opaque white -format '%[fx:int((1-mean)*w*h+0.5)]' info:)
  [ "$coloured" -eq 0 ] || { echo "$coloured pixels are not white in $1"; return 1; }
}

# one_disc NAME: a screenshot NAME with only white and black, the black pixels filling a disc's
# share of their bounding box.
one_disc() {
  local stats
  shot "$1"
  stats=$(disc_stats "$out/$1.png")
  set -- $stats
  [ "$2" -eq 0 ] || { echo "$2 pixels are neither white nor black"; return 1; }
  [ "$1" -gt 2000 ] || { echo "only $1 black pixels"; return 1; }
  [ "$3" -le 170 ] && [ "$4" -le 170 ] || { echo "the black pixels spread over ${3}x$4"; return 1; }
  [ "$3" -ge 40 ] && [ "$4" -ge 40 ] || { echo "the black pixels cover only ${3}x$4"; return 1; }
  local share=$(($1 * 100 / ($3 * $4)))
  [ "$share" -ge 70 ] && [ "$share" -le 90 ] || { echo "black fills $share% of its box, not a disc's 79%"; return 1; }
}

# crop_changed NAME REF CROP: a new screenshot NAME differs from REF within CROP.
crop_changed() {
  local n
  shot "$1"
  n=$(crop_difference "$1" "$2" "$3")
  [ "$n" -gt 50 ] || { echo "only $n pixels of $3 changed between $2 and $1"; return 1; }
}

# start_ibus_anthy: a session bus and IBus on it with the Anthy engine, all in the scenario's
# folder; sets ibus_address. Debian's Python runs the engine, whatever python3 comes first on PATH.
start_ibus_anthy() {
  command -v ibus-daemon >/dev/null && [ -x /usr/libexec/ibus-engine-anthy ] ||
    fail "IBus or Anthy is missing (scripts/deps.sh test installs them)"
  mkdir -p "$out/ibus-home"
  local bus
  bus=$(HOME="$out/ibus-home" dbus-daemon --session --fork --print-address=1 --print-pid=1) || fail "no session bus"
  export DBUS_SESSION_BUS_ADDRESS=${bus%%$'\n'*}
  bus_pid=${bus##*$'\n'}
  ibus_env=(HOME="$out/ibus-home" XDG_CONFIG_HOME="$out/ibus-home/config" XDG_CACHE_HOME="$out/ibus-home/cache")
  env "${ibus_env[@]}" PATH=/usr/bin:/bin ibus-daemon --panel=disable --emoji-extension=disable >"$out/ibus.log" 2>&1 &
  ibus_pid=$!
  eventually anthy_engine
  ibus_address=$(env "${ibus_env[@]}" ibus address)
}

# anthy_engine: IBus answers and has Anthy as its engine. (Setting it may report a failure of
# the keyboard layout's switch, which does not matter here.)
anthy_engine() {
  local engine
  env "${ibus_env[@]}" ibus engine anthy >/dev/null 2>&1
  engine=$(env "${ibus_env[@]}" ibus engine 2>/dev/null)
  [ "$engine" = anthy ] || { echo "IBus's engine is '$engine', not anthy"; return 1; }
}

# mostly_off_screen: the main window lies mostly above and left of the screen.
mostly_off_screen() {
  place "$window" now_
  [ "$now_X" -le -900 ] && [ "$now_Y" -le -550 ] || { echo "the main window is at $now_X,$now_Y"; return 1; }
}

# frame_extents WINDOW: the window manager's frame around it (left right top bottom), 0 0 0 0
# without a window manager.
frame_extents() {
  local extents
  extents=$(xprop -id "$1" _NET_FRAME_EXTENTS | sed -n 's/^[^=]*= //p' | tr -d ,)
  echo "${extents:-0 0 0 0}"
}

run_dialog_scenario() {
  case $1 in
  dialog_opens)
    open_dialog
    dialog_shot dialog
    expect_boxes 500 20.000000 5.000000 2.000000 0.000000 50.000000 1.000000 1
    # The labels are drawn with ink: a Japanese character at this size has about 20 dark
    # pixels, a "?" standing in for one about 9.
    local label ink
    for label in "${JAPANESE_LABELS[@]}"; do
      set -- $label
      ink=$(dark_pixels "$out/dialog.png" "$(region $label)")
      [ "$ink" -ge $((14 * $5)) ] || fail "the label at $label (dialog units) has only $ink dark pixels"
    done
    ink=$(dark_pixels "$out/dialog.png" "$(region $LATIN_LABEL)")
    [ "$ink" -ge 60 ] || fail "the label \"biglight ×\" has only $ink dark pixels"
    xdotool key Escape
    dialog_closed
    restart_without_japanese_fonts
    # Boxes for glyphs may widen the dialog: measure both pictures in the first run's units.
    local bx0=$bx by0=$by
    open_dialog
    bx=$bx0
    by=$by0
    dialog_shot without-japanese
    # Same layout in both runs: the Latin label is drawn alike.
    local n
    n=$(crop_difference dialog without-japanese "$(region $LATIN_LABEL)")
    [ "$n" -eq 0 ] || fail "the Latin label differs between the runs ($n pixels): not comparable"
    for label in "${JAPANESE_LABELS[@]}"; do
      n=$(crop_difference dialog without-japanese "$(region $label)")
      [ "$n" -gt 20 ] || fail "the label at $label looks like missing glyphs (only $n pixels differ)"
    done
    xdotool key Escape
    dialog_closed
    ;;
  dialog_cancels)
    menu $STOP
    settled stopped
    # Cancel, Escape and the close button each leave everything as it was.
    open_dialog
    type_box count 1
    press_cancel
    dialog_closed
    eventually shot_same after-cancel stopped
    open_dialog
    type_box count 1
    xdotool key Escape
    dialog_closed
    eventually shot_same after-escape stopped
    open_dialog
    type_box count 1
    "$xclose" "$dialog" || fail "could not send the close request"
    dialog_closed
    eventually shot_same after-close stopped
    open_dialog
    [ "$(read_box count)" = 500 ] || fail "the count changed"
    xdotool key Escape
    dialog_closed
    ;;
  dialog_empty)
    open_dialog
    # By keyboard alone: the focus starts on OK; two Tabs reach the count box, whose text
    # is then selected, as Windows selects it.
    xdotool key Tab Tab
    xdotool type 0
    xdotool key Return
    dialog_closed
    eventually white_field empty
    ;;
  dialog_one_disc)
    open_dialog
    type_box count 1
    type_box radius 50
    type_box spread 0
    press_ok
    dialog_closed
    eventually one_disc disc
    ;;
  dialog_unchanged_ok)
    menu $STOP
    settled stopped
    open_dialog
    xdotool key Return
    dialog_closed
    settled_changed redrawn stopped
    ;;
  dialog_capped_radius)
    open_dialog
    type_box count 500
    type_box radius 10
    # Enter in a box presses the default button, OK.
    xdotool key Return
    dialog_closed
    open_dialog
    local radius
    radius=$(read_box radius)
    [ "$radius" = 6.708204 ] || fail "the radius box shows '$radius', not 6.708204"
    press_cancel
    dialog_closed
    ;;
  dialog_runs_behind)
    open_dialog
    # The part of the client area right of the dialog keeps moving.
    local right="$((1050 - DWIDTH - 10))x600+$((DWIDTH + 10))+50"
    shot behind-1
    eventually crop_changed behind-2 behind-1 "$right"
    # The main window takes no input meanwhile: its close button does nothing. The request came
    # before the typing, so once the box shows what was typed, it has been dealt with.
    "$xclose" "$window" || fail "could not send the close request"
    type_box count 77
    [ "$(read_box count)" = 77 ] || fail "the count box did not take the typing"
    kill -0 "$app_pid" 2>/dev/null || fail "the program ended while its dialog was open"
    "$probe" --timeout 0 window Dialog >/dev/null || fail "the dialog went away"
    press_cancel
    dialog_closed
    ;;
  dialog_slow_step)
    # 50000 particles without merging: each step takes many periods of the timer.
    open_dialog
    type_box count 50000
    type_box merge 0
    xdotool key Return
    dialog_closed
    local step
    step=$(probe step Orrelune 400 $((menu_bar + 100)) 200 200 | sed -n 's/^step=//p')
    [ -n "$step" ] || fail "the animation does not move at 50000 particles"
    # Input and painting go ahead of the timer: the click is taken after the step in progress,
    # the dialog painted after at most one more. The margin is for a busy machine.
    local bound=$((2 * step + 2000)) t shown
    echo "a frame every $step ms; the dialog's bound $bound ms"
    open_menu
    xdotool mousemove $((Px + 40)) $((Py + 12 + 2 * 25)) mousedown 1
    t=$(date +%s%N)
    xdotool mouseup 1
    # shellcheck disable=SC2046
    shown=$("$probe" --since "$t" --timeout "$bound" drawn Dialog $(drawn_args japanese)) ||
      fail "the dialog was not painted within $bound ms of the click (a frame every $step ms)"
    echo "dialog painted: $shown"
    t=$(date +%s%N)
    xdotool key Escape
    shown=$("$probe" --since "$t" --timeout "$bound" gone Dialog) ||
      fail "the dialog was still open $bound ms after Escape (a frame every $step ms)"
    echo "dialog gone: $shown"
    ;;
  dialog_default_button)
    # A theme that paints GTK's default button magenta: the button GTK takes for the default
    # shows it. OK is the default while no push button has the focus; a focused push button
    # takes the default over, since Enter presses that one then.
    restart_with_default_marking_theme
    open_dialog
    click_control 49 15 40 14
    eventually default_button_is ok
    xdotool key shift+Tab
    eventually default_button_is cancel
    xdotool key Tab
    eventually default_button_is ok
    xdotool key Escape
    dialog_closed
    ;;
  dialog_input_method)
    # Keys go to the focused box's input method first: Enter confirms a composition and Escape
    # cancels it; only without one do they mean OK and Cancel. GTK's own composition
    # (Ctrl+Shift+U and a character's hex code) takes the path a Japanese input method does.
    stop_program
    start_program GTK_IM_MODULE=gtk-im-context-simple
    open_dialog
    type_box count 12
    xdotool key ctrl+shift+u 3 3 Return
    local text
    text=$(read_box count)
    [ "$text" = 123 ] || fail "Enter during the composition left the count box with '$text', not 123"
    xdotool key End ctrl+shift+u 3 4 Escape
    xdotool type 5
    text=$(read_box count)
    [ "$text" = 1235 ] || fail "Escape during the composition left the count box with '$text', not 1235"
    # Without a composition, Enter is OK: the count typed comes back in the dialog.
    xdotool key End Return
    dialog_closed
    open_dialog
    text=$(read_box count)
    [ "$text" = 1235 ] || fail "OK after the compositions gave a count of '$text', not 1235"
    xdotool key Escape
    dialog_closed
    ;;
  dialog_japanese_input_method)
    # The same with a Japanese input method, IBus with Anthy: a conversion confirmed with Enter
    # goes into the box, one cancelled with Escape leaves it; neither ends the dialog.
    start_ibus_anthy
    stop_program
    start_program GTK_IM_MODULE=ibus IBUS_ADDRESS="$ibus_address"
    open_dialog
    type_box count 12
    # Anthy starts in direct input: Ctrl+J turns it to hiragana.
    xdotool key ctrl+j
    xdotool type --delay 50 ka
    xdotool key Return
    local text
    text=$(read_box count)
    [ "$text" = "12か" ] || fail "Enter during the conversion left the count box with '$text', not 12か"
    xdotool key End
    xdotool type --delay 50 ki
    xdotool key Escape
    text=$(read_box count)
    [ "$text" = "12か" ] || fail "Escape during the conversion left the count box with '$text', not 12か"
    xdotool key End Return
    dialog_closed
    open_dialog
    text=$(read_box count)
    [ "$text" = 12 ] || fail "OK after the conversions gave a count of '$text', not 12"
    xdotool key Escape
    dialog_closed
    ;;
  dialog_on_screen)
    # The main window moved mostly off the screen, up and left: its dialog still opens wholly on
    # the screen, as Windows keeps a new dialog in the work area. The menu is taken by keys.
    xdotool windowmove "$window" -1000 -650
    eventually mostly_off_screen
    # Without a window manager the keys go to the window under the pointer.
    xdotool mousemove 10 30
    # shellcheck disable=SC2046
    xdotool key $(menu_keys $PARAMETER)
    find_dialog
    # shellcheck disable=SC2046
    probe drawn Dialog $(drawn_args) >/dev/null || fail "the dialog was not painted"
    local left right top bottom
    read -r left right top bottom <<<"$(frame_extents "$dialog")"
    [ "$((dialog_X - left))" -ge 0 ] && [ "$((dialog_Y - top))" -ge 0 ] &&
      [ "$((dialog_X + dialog_WIDTH + right))" -le "$SCREEN_WIDTH" ] && [ "$((dialog_Y + dialog_HEIGHT + bottom))" -le "$SCREEN_HEIGHT" ] ||
      fail "the dialog is at $dialog_X,$dialog_Y, ${dialog_WIDTH}x$dialog_HEIGHT (frame $left $right $top $bottom), not wholly on the ${SCREEN_WIDTH}x$SCREEN_HEIGHT screen"
    dialog_shot on-screen
    type_box count 3
    press_ok
    dialog_closed
    ;;
  *)
    fail "unknown scenario"
    ;;
  esac
}
