# The parameter dialog's scenarios, sourced by scenario.sh (which provides fail, shot, same,
# changed, settled, menu and the program's window). The dialog is worked with the mouse and
# keyboard; what a box holds is read as a person would copy it: Ctrl+A, Ctrl+C.

PARAMETER=3
# Where each edit sits in the template, in dialog units (x y).
declare -A BOX=([count]="49 15" [gravity]="49 46" [density]="48 76" [radius]="49 106"
  [speed]="131 15" [spread]="129 44" [scale]="131 76" [merge]="132 106")
BOX_ORDER=(count gravity density radius speed spread scale merge)
# The labels in dialog units (x y w h) and how many characters each has; the Latin one apart.
JAPANESE_LABELS=("15 19 25 8 3" "14 50 33 8 4" "14 79 33 8 4" "14 105 34 16 6" "93 14 36 16 6" "94 45 35 18 6"
  "99 105 28 15 5")
LATIN_LABEL="99 79 33 14"

# open_dialog: chooses "parameter" and waits for the dialog. Sets dialog, its geometry
# (DX DY DWIDTH DHEIGHT) and the base units bx, by recovered from its size (252 x 145 units).
open_dialog() {
  menu $PARAMETER
  dialog=$(timeout 5 xdotool search --sync --onlyvisible --name '^Dialog$' | head -n1)
  [ -n "$dialog" ] || fail "the dialog did not open"
  eval "$(xdotool getwindowgeometry --shell "$dialog" | sed 's/^/D/')"
  bx=$(((DWIDTH * 4 + 126) / 252))
  by=$(((DHEIGHT * 8 + 72) / 145))
  [ "$bx" -gt 2 ] && [ "$by" -gt 5 ] || fail "the dialog is only ${DWIDTH}x$DHEIGHT pixels"
  sleep 0.3
}

# click_control X Y W H: clicks the middle of a control given in dialog units.
click_control() {
  xdotool mousemove $((DX + ($1 + $3 / 2) * bx / 4)) $((DY + ($2 + $4 / 2) * by / 8)) click 1
  sleep 0.2
}

# read_box NAME: what the box shows, copied to the clipboard.
read_box() {
  printf 'nothing copied' | xclip -selection clipboard
  set -- ${BOX[$1]}
  click_control "$1" "$2" 40 14
  xdotool key ctrl+a ctrl+c
  sleep 0.2
  timeout 3 xclip -o -selection clipboard
}

# type_box NAME TEXT: replaces what the box holds.
type_box() {
  local text=$2
  set -- ${BOX[$1]}
  click_control "$1" "$2" 40 14
  xdotool key ctrl+a
  xdotool type --delay 20 "$text"
  sleep 0.2
}

press_ok() { click_control 195 7 50 14; }
press_cancel() { click_control 195 24 50 14; }

# dialog_closed: waits until the dialog has left the screen.
dialog_closed() {
  for _ in $(seq 30); do
    xdotool search --onlyvisible --name '^Dialog$' >/dev/null 2>&1 || { sleep 0.5; return 0; }
    sleep 0.1
  done
  fail "the dialog is still open"
}

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
  kill "$app_pid"
  wait "$app_pid" 2>/dev/null
  cat >"$out/fonts.conf" <<CONF
<?xml version="1.0"?>
<!DOCTYPE fontconfig SYSTEM "fonts.dtd">
<fontconfig>
  <dir>/usr/share/fonts/truetype/dejavu</dir>
  <cachedir>$out/fontcache</cachedir>
  <include ignore_missing="yes">/etc/fonts/conf.d</include>
</fontconfig>
CONF
  FONTCONFIG_FILE="$out/fonts.conf" "$program" >"$out/program-without-japanese.log" 2>&1 &
  app_pid=$!
  window=$(timeout 15 xdotool search --sync --onlyvisible --name '^Orrelune$' | head -n1)
  [ -n "$window" ] || fail "the program did not come back"
  sleep 1
}

# white_field NAME: fails unless the client area in NAME.png is all white.
white_field() {
  local coloured
  coloured=$(convert "$out/$1.png" -fill black +opaque white -format '%[fx:int((1-mean)*w*h+0.5)]' info:)
  [ "$coloured" -eq 0 ] || fail "$coloured pixels are not white in $1"
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
    shot after-cancel
    same stopped after-cancel
    open_dialog
    type_box count 1
    xdotool key Escape
    dialog_closed
    shot after-escape
    same stopped after-escape
    open_dialog
    type_box count 1
    "$xclose" "$dialog" || fail "could not send the close request"
    dialog_closed
    shot after-close
    same stopped after-close
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
    shot empty
    white_field empty
    ;;
  dialog_one_disc)
    open_dialog
    type_box count 1
    type_box radius 50
    type_box spread 0
    press_ok
    dialog_closed
    shot disc
    # Only white and black; the black pixels fill a disc's share of their bounding box.
    local stats
    stats=$(convert "$out/disc.png" -depth 8 txt:- | awk -F'[,: ]+' '
      /#FFFFFF/ { next }
      /#000000/ { n++; if (!seen || $1 < x0) x0 = $1; if ($1 > x1) x1 = $1
                  if (!seen || $2 < y0) y0 = $2; if ($2 > y1) y1 = $2; seen = 1; next }
      /^[0-9]/ { other++ }
      END { printf "%d %d %d %d", n, other, x1 - x0 + 1, y1 - y0 + 1 }')
    set -- $stats
    [ "$2" -eq 0 ] || fail "$2 pixels are neither white nor black"
    [ "$1" -gt 2000 ] || fail "only $1 black pixels"
    [ "$3" -le 170 ] && [ "$4" -le 170 ] || fail "the black pixels spread over ${3}x$4"
    [ "$3" -ge 40 ] && [ "$4" -ge 40 ] || fail "the black pixels cover only ${3}x$4"
    local share=$(($1 * 100 / ($3 * $4)))
    [ "$share" -ge 70 ] && [ "$share" -le 90 ] || fail "black fills $share% of its box, not a disc's 79%"
    ;;
  dialog_unchanged_ok)
    menu $STOP
    settled stopped
    open_dialog
    xdotool key Return
    dialog_closed
    settled redrawn
    changed stopped redrawn
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
    sleep 0.6
    shot behind-2
    local n
    n=$(crop_difference behind-1 behind-2 "$right")
    [ "$n" -gt 50 ] || fail "the animation behind the dialog stood still ($n pixels changed)"
    # The main window takes no input meanwhile: its close button does nothing.
    "$xclose" "$window" || fail "could not send the close request"
    sleep 0.5
    kill -0 "$app_pid" 2>/dev/null || fail "the program ended while its dialog was open"
    xdotool search --onlyvisible --name '^Dialog$' >/dev/null || fail "the dialog went away"
    press_cancel
    dialog_closed
    ;;
  *)
    fail "unknown scenario"
    ;;
  esac
}
