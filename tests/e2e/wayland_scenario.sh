#!/usr/bin/env bash
# One end-to-end scenario on Wayland: a headless compositor (weston or sway), the program as its
# client, worked with the keyboard (wtype) and the compositor's own commands (swaymsg), checked on
# screenshots of the output (weston-screenshooter, grim).
# Usage: wayland_scenario.sh weston|sway NAME PROGRAM DRIVEN-PROGRAM SHOTS-DIR
# DRIVEN-PROGRAM is the program with a named pipe through which the scenarios choose menu items
# (see menudriver.cpp): under sway a GTK menu opened with F10 takes the arrow keys but not Return.
# Weston's headless backend has no input devices at all, so under weston only what needs no
# input runs. sway refuses to run as root: as root, the compositor and the program run as the
# unprivileged user orrelune-test (created here when missing), on a copy of the program in the
# scenario's folder, which that user owns. The screenshots and logs of a failed scenario stay in
# SHOTS-DIR/COMPOSITOR_NAME.
set -u
compositor=$1
scenario=$2
program=$3
case $scenario in dialog_* | load_*) program=$4 ;; esac
out=$5/${compositor}_$scenario
rm -rf "$out"
mkdir -p "$out/home" "$out/run" "$out/config" "$out/shots"
chmod 700 "$out/run"
PATIENCE=${ORRELUNE_E2E_PATIENCE:-30}
TEST_USER=orrelune-test
SOCKET=wl-orrelune
# The output, and the field's size in it.
SCREEN_WIDTH=1280
SCREEN_HEIGHT=1024

# The compositor and the program as started (runuser, when root) and as they run.
compositor_pid=
compositor_real=
app_pid=
app_real=
keyboard_pid=
keyboard_real=
cleanup() {
  [ -n "$keyboard_pid" ] && kill ${keyboard_real:-} "$keyboard_pid" 2>/dev/null
  [ -n "$app_pid" ] && kill ${app_real:-} "$app_pid" 2>/dev/null
  [ -n "$compositor_pid" ] && kill ${compositor_real:-} "$compositor_pid" 2>/dev/null
  wait 2>/dev/null
}
trap cleanup EXIT

fail() {
  echo "FAILED ($compositor $scenario): $*" >&2
  echo "screenshots and logs: $out" >&2
  exit 1
}

# eventually, exits_with, disc_stats.
. "$(dirname "$0")/common.sh"

for tool in "$compositor" jq convert compare; do
  command -v "$tool" >/dev/null || fail "$tool is missing (scripts/deps.sh test installs it)"
done
cp "$program" "$out/orrelune"
as_user=()
if [ "$(id -u)" -eq 0 ]; then
  id "$TEST_USER" >/dev/null 2>&1 ||
    useradd --system --user-group --no-create-home --home-dir /nonexistent --shell /usr/sbin/nologin "$TEST_USER" ||
    fail "cannot create the user $TEST_USER"
  chown -R "$TEST_USER:" "$out"
  as_user=(runuser -u "$TEST_USER" --)
fi

# as_user COMMAND...: runs a command in the session, as the user the compositor runs as, with no
# X display: GTK picks Wayland as it does on a Wayland desktop.
as_user() {
  "${as_user[@]}" env -i PATH=/usr/local/bin:/usr/bin:/bin HOME="$out/home" XDG_RUNTIME_DIR="$out/run" \
    XDG_CONFIG_HOME="$out/config" LANG=C.UTF-8 NO_AT_BRIDGE=1 WAYLAND_DISPLAY=$SOCKET ${SWAYSOCK:+SWAYSOCK=$SWAYSOCK} \
    "$@"
}

# real_pid PIDFILE: the process id a started command wrote.
real_pid() { [ -s "$1" ] && cat "$1" || { echo "no process id in $1"; return 1; }; }

# started PIDFILE COMMAND...: runs COMMAND as the session's user, its process id in PIDFILE.
started() {
  local pidfile=$1
  shift
  as_user sh -c 'echo $$ >"$0"; exec "$@"' "$pidfile" "$@"
}

socket_up() { [ -S "$out/run/$SOCKET" ] || { echo "no Wayland socket $SOCKET"; return 1; }; }

case $compositor in
weston)
  # No panel, a plain background: the field is the only white on the output.
  cat >"$out/config/weston.ini" <<INI
[core]
idle-time=0
[shell]
panel-position=none
background-image=
background-color=0xff406080
INI
  started "$out/compositor.pid" weston --backend=headless-backend.so --use-pixman --debug --socket=$SOCKET --width=$SCREEN_WIDTH \
    --height=$SCREEN_HEIGHT --idle-time=0 >"$out/compositor.log" 2>&1 &
  compositor_pid=$!
  eventually real_pid "$out/compositor.pid"
  compositor_real=$(real_pid "$out/compositor.pid")
  eventually socket_up
  ;;
sway)
  # Its title bars' text grey, not white: the field is the only white on the output.
  cat >"$out/config/sway" <<CONF
xwayland disable
output HEADLESS-1 resolution ${SCREEN_WIDTH}x$SCREEN_HEIGHT position 0 0 background #406080 solid_color
client.focused #285577 #285577 #c0c0c0 #2e9ef4 #285577
client.focused_inactive #5f676a #5f676a #c0c0c0 #484e50 #5f676a
client.unfocused #222222 #222222 #a0a0a0 #292d2e #222222
CONF
  started "$out/compositor.pid" env WLR_BACKENDS=headless WLR_LIBINPUT_NO_DEVICES=1 WLR_RENDERER=pixman \
    sway --config "$out/config/sway" >"$out/compositor.log" 2>&1 &
  compositor_pid=$!
  eventually real_pid "$out/compositor.pid"
  compositor_real=$(real_pid "$out/compositor.pid")
  # sway names its sockets itself, in the session's own folder.
  sway_sockets() {
    local ipc wayland
    ipc=$(ls "$out/run"/sway-ipc.*.sock 2>/dev/null | head -n1)
    wayland=$(ls "$out/run" | grep -x 'wayland-[0-9]*' | head -n1)
    [ -n "$ipc" ] && [ -n "$wayland" ] || { echo "sway did not start"; return 1; }
    echo "$ipc $wayland"
  }
  eventually sway_sockets
  read -r SWAYSOCK SOCKET <<<"$(sway_sockets)"
  ;;
*)
  fail "unknown compositor"
  ;;
esac

# screenshot NAME: the whole output into NAME.png.
screenshot() {
  case $compositor in
  weston)
    # weston-screenshooter writes into the folder it runs in, named by the second.
    local dir="$out/shots/$1"
    mkdir -p "$dir"
    [ ${#as_user[@]} -eq 0 ] || chown "$TEST_USER:" "$dir"
    (cd "$dir" && as_user weston-screenshooter) >/dev/null 2>&1 || return 1
    mv "$dir"/wayland-screenshot-*.png "$out/$1.png" 2>/dev/null || return 1
    ;;
  sway)
    as_user grim "$out/shots/$1.png" >/dev/null 2>&1 && mv "$out/shots/$1.png" "$out/$1.png"
    ;;
  esac
}

# field NAME: a screenshot NAME, and where the white part of the output is in it, the field:
# WxH+X+Y into NAME.field.
field() {
  screenshot "$1" || { echo "no screenshot $1"; return 1; }
  local box
  box=$(convert "$out/$1.png" -fill black +opaque white -format '%@' info:)
  [[ $box =~ ^[0-9]+x[0-9]+\+[0-9]+\+[0-9]+$ ]] || { echo "nothing white in $1"; return 1; }
  echo "$box" >"$out/$1.field"
}

# crop NAME [AT]: the field's part of screenshot NAME (where it is in screenshot AT), into
# NAME-field.png.
crop() { convert "$out/$1.png" -crop "$(cat "$out/${2:-$1}.field")" +repage "$out/$1-field.png"; }

# particles NAME: a screenshot NAME whose field holds many coloured pixels in many colours.
particles() {
  field "$1" || return 1
  crop "$1"
  local coloured colours
  coloured=$(convert "$out/$1-field.png" -fill black +opaque white -format '%[fx:int((1-mean)*w*h+0.5)]' info:)
  colours=$(convert "$out/$1-field.png" -format '%k' info:)
  [ "$coloured" -gt 300 ] && [ "$colours" -gt 20 ] ||
    { echo "only $coloured coloured pixels in $colours colours in the field ($(cat "$out/$1.field"))"; return 1; }
}

# moved NAME REF: a new screenshot NAME whose field differs from REF's, taken at the same place.
moved() {
  screenshot "$1" || { echo "no screenshot $1"; return 1; }
  crop "$1" "$2"
  local n
  n=$(compare -metric AE "$out/$1-field.png" "$out/$2-field.png" null: 2>&1 | awk '{ printf "%d", $1 + 0 }')
  [ "$n" -gt 50 ] || { echo "the field did not move: only $n pixels differ between $2 and $1"; return 1; }
}

# one_disc NAME: the field holds only white and black, the black pixels one disc.
one_disc() {
  field "$1" || return 1
  crop "$1"
  local stats
  stats=$(disc_stats "$out/$1-field.png")
  set -- $stats
  [ "$2" -eq 0 ] && [ "$1" -gt 2000 ] && [ "$3" -le 170 ] && [ "$4" -le 170 ] ||
    { echo "not one disc: $1 black pixels over ${3}x$4, $2 others"; return 1; }
}

# tree_has TITLE / tree_lacks TITLE: sway shows a window with that title, or none.
titled() { as_user swaymsg -t get_tree | jq -e --arg t "$1" '[.. | objects | select(.name? == $t)] | length > 0' >/dev/null; }
tree_has() { titled "$1" || { echo "no window titled $1"; return 1; }; }
tree_lacks() { ! titled "$1" || { echo "a window titled $1 is still there"; return 1; }; }
windows_titled() { as_user swaymsg -t get_tree | jq --arg t "$1" '[.. | objects | select(.name? == $t)] | length'; }

# choose LABEL: chooses the menu item with that label.
choose() { echo "$1" >"$out/menu" || fail "could not choose $1"; }

# keys WTYPE-ARGS...: one wtype call with the whole sequence (separate calls lose keys).
keys() { as_user wtype -s 100 -d 20 "$@" || fail "wtype failed"; }
program_log() { cat "$out/program.log"; }

# no_warnings: nothing from GLib or GTK on the program's output. Under weston, which offers no
# seat at all, GTK itself asks for the seat's keyboard and says it has none, as any GTK program
# does there; nothing else may come.
no_warnings() {
  local seatless="gdk_seat_get_keyboard: assertion 'GDK_IS_SEAT (seat)' failed"
  [ "$compositor" = weston ] || seatless='^$never'
  ! grep -v "$seatless" "$out/program.log" | grep -E 'CRITICAL|WARNING|Gtk-|GLib-' ||
    fail "the program logged a warning or a critical message"
}


# The program starts on a seat with no keyboard (sway's has none until wtype brings one).
mkfifo "$out/menu"
[ ${#as_user[@]} -eq 0 ] || chown "$TEST_USER:" "$out/menu"
started "$out/program.pid" env ORRELUNE_E2E_MENU="$out/menu" "$out/orrelune" >"$out/program.log" 2>&1 &
app_pid=$!
eventually real_pid "$out/program.pid"
app_real=$(real_pid "$out/program.pid")
eventually particles first
[ "$compositor" = weston ] || eventually tree_has Orrelune

# Then a keyboard comes, and stays: the program binds it once. (Each wtype call brings one of its
# own, whose first keys a program busy with a long step would miss while it binds it.)
if [ "$compositor" = sway ]; then
  started "$out/keyboard.pid" wtype -s 3600000 >/dev/null 2>&1 &
  keyboard_pid=$!
  eventually real_pid "$out/keyboard.pid"
  keyboard_real=$(real_pid "$out/keyboard.pid")
  seat_has_keyboard() {
    as_user swaymsg -t get_seats | jq -e '.[0].capabilities > 0' >/dev/null || { echo "the seat has no keyboard"; return 1; }
  }
  eventually seat_has_keyboard
  sleep 1
fi

case $scenario in
appears)
  # Mapped, painted white with particles, and animating.
  eventually moved later first
  # The app id is the desktop entry's name, so that the desktop pairs the window with its entry.
  if [ "$compositor" = sway ]; then
    app_id=$(as_user swaymsg -t get_tree | jq -r '[.. | objects | select(.name? == "Orrelune")][0].app_id')
    [ "$app_id" = "${ORRELUNE_APP_ID:-}" ] || fail "the window's app id is $app_id, not ${ORRELUNE_APP_ID:-unset}"
  fi
  ;;
dialog_round)
  # Open, type, OK: one disc of radius 50, at rest; open, type, CANCEL: nothing changes; Escape
  # and the compositor's close do the same as CANCEL.
  choose parameter
  eventually tree_has Dialog
  screenshot dialog
  # The focus starts on OK; the boxes follow CANCEL in the template's order.
  keys -k Tab -k Tab -k 1 -k Tab -k Tab -k Tab -k 5 -k 0 -k Tab -k Tab -k 0 -k Return
  eventually tree_lacks Dialog
  eventually one_disc disc
  choose parameter
  eventually tree_has Dialog
  # Shift+Tab from the count box reaches CANCEL, which Enter then presses.
  keys -k Tab -k Tab -k 5 -k 0 -k 0 -M shift -k Tab -m shift -k Return
  eventually tree_lacks Dialog
  eventually one_disc after-cancel
  choose parameter
  eventually tree_has Dialog
  keys -k Tab -k Tab -k 5 -k 0 -k 0 -k Escape
  eventually tree_lacks Dialog
  choose parameter
  eventually tree_has Dialog
  keys -k Tab -k Tab -k 5 -k 0 -k 0
  as_user swaymsg '[title="^Dialog$"] kill' >/dev/null || fail "swaymsg could not close the dialog"
  eventually tree_lacks Dialog
  eventually one_disc after-close
  no_warnings
  ;;
dialog_opens)
  # Weston takes no input: the dialog is opened, and shows over the field (which it covers by
  # more than a third of its 441 x 236 pixels) while the field goes on moving beside it.
  # STOP, chosen behind it, is not taken.
  stopped_field() { crop "$1" first && convert "$out/$1-field.png" -fill black +opaque white -format '%[fx:int((1-mean)*w*h+0.5)]' info:; }
  choose parameter
  choose STOP
  covered() {
    screenshot "$1" || { echo "no screenshot $1"; return 1; }
    local before after
    before=$(stopped_field first)
    after=$(stopped_field "$1")
    [ $((after - before)) -gt 35000 ] || { echo "only $((after - before)) more pixels of the field are covered"; return 1; }
  }
  eventually covered dialog
  # Beside the dialog, right of the field's first 500 pixels, the particles go on.
  read -r w h x y <<<"$(sed 's/[x+]/ /g' "$out/first.field")"
  echo "$((w - 500))x$h+$((x + 500))+$y" >"$out/beside.field"
  beside_moves() {
    screenshot "$1" || { echo "no screenshot $1"; return 1; }
    crop "$1" beside && crop dialog beside
    local n
    n=$(compare -metric AE "$out/$1-field.png" "$out/dialog-field.png" null: 2>&1 | awk '{ printf "%d", $1 + 0 }')
    [ "$n" -gt 50 ] || { echo "the field beside the dialog did not move"; return 1; }
  }
  eventually beside_moves later
  ;;
resize)
  # Floating, the window takes any size the compositor gives it: smaller than the field, and
  # larger than the output.
  local_size() { as_user swaymsg "[title=\"^Orrelune\$\"] $1" >/dev/null || fail "swaymsg could not $1"; }
  local_size "floating enable"
  # field_size NAME: the field's width and height in screenshot NAME.
  field_size() { sed 's/x/ /; s/+.*//' "$out/$1.field"; }
  # sized W H NAME: asks for a size and a place (again at each try: a size asked for while the
  # window is being floated may be overtaken), and keeps a screenshot NAME. The field is the
  # client area less the menu bar, as much of it as the output shows.
  sized() {
    local_size "resize set width $1 px height $2 px"
    local_size "move position 0 0"
    particles "$3" || return 1
    local w h
    read -r w h <<<"$(field_size "$3")"
    [ "$w" -le "$1" ] && [ "$h" -le "$2" ] && [ "$w" -ge $(($1 < SCREEN_WIDTH ? $1 - 20 : SCREEN_WIDTH - 20)) ] ||
      { echo "the field is ${w}x$h, not that of a $1 x $2 window"; return 1; }
  }
  eventually sized 640 400 small
  eventually moved small-later small
  eventually sized 2400 1800 large
  eventually moved large-later large
  local_size "floating disable"
  eventually particles tiled
  no_warnings
  ;;
load_no_close_behind_dialog)
  # At 50000 particles without merging a step outlasts the keys: "parameter" and then the
  # compositor's close, within one step. The close reaches a disabled window and is refused; the
  # dialog stays, and takes Escape. Then the close ends the program.
  choose parameter
  eventually tree_has Dialog
  keys -k Tab -k Tab -k 5 -k 0 -k 0 -k 0 -k 0 -k Tab -k Tab -k Tab -k Tab -k Tab -k Tab -k Tab -k 0 -k Return
  eventually tree_lacks Dialog
  eventually particles slow
  eventually moved slow-later slow
  choose parameter
  as_user swaymsg '[title="^Orrelune$"] kill' >/dev/null || fail "swaymsg could not close the window"
  eventually tree_has Dialog
  sleep 2
  kill -0 "$app_pid" 2>/dev/null || fail "the program ended behind its dialog"
  [ "$(windows_titled Dialog)" -eq 1 ] || fail "$(windows_titled Dialog) dialogs are open, not 1"
  keys -k Escape
  eventually tree_lacks Dialog
  no_warnings
  as_user swaymsg '[title="^Orrelune$"] kill' >/dev/null || fail "swaymsg could not close the window"
  exits_with 0
  ;;
close_exits)
  # The compositor's close ends the program with exit code 0.
  as_user swaymsg '[title="^Orrelune$"] kill' >/dev/null || fail "swaymsg could not close the window"
  exits_with 0
  no_warnings
  ;;
compositor_lost)
  # The compositor goes away: the program says so in one line and ends with 1.
  kill -9 "$compositor_real" || fail "no compositor to kill"
  wait "$compositor_pid" 2>/dev/null
  compositor_pid=
  compositor_real=
  exits_with 1
  lines=$(grep -c -v -e "gdk_seat_get_keyboard: assertion 'GDK_IS_SEAT (seat)' failed" -e '^$' "$out/program.log")
  grep -q "^orrelune: lost the connection to the Wayland compositor $SOCKET; the program ends.$" "$out/program.log" &&
    [ "$lines" -eq 1 ] || fail "not the one line on stderr: $(program_log)"
  ;;
*)
  fail "unknown scenario"
  ;;
esac

no_warnings
# ORRELUNE_E2E_KEEP=1 keeps the screenshots of a scenario that passed, to be looked at.
[ "${ORRELUNE_E2E_KEEP:-0}" = 1 ] || rm -rf "$out"
exit 0
