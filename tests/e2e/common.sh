# What the X11 and the Wayland scenarios share, sourced by scenario.sh and wayland_scenario.sh
# (which provide fail, PATIENCE and app_pid, the program as started).

# eventually CHECK ARGS...: runs CHECK until it succeeds, for at most PATIENCE seconds, and fails
# with what its last try printed.
eventually() {
  local deadline=$((SECONDS + PATIENCE)) why
  until why=$("$@" 2>&1); do
    [ "$SECONDS" -lt "$deadline" ] || fail "${why:-$1 did not hold within $PATIENCE s}"
    sleep 0.1
  done
}

# exits_with CODE: the program ends within PATIENCE seconds with exit code CODE.
exits_with() {
  local deadline=$((SECONDS + PATIENCE)) code
  while kill -0 "$app_pid" 2>/dev/null; do
    [ "$SECONDS" -lt "$deadline" ] || fail "the program still runs after $PATIENCE s"
    sleep 0.1
  done
  wait "$app_pid"
  code=$?
  app_pid=
  app_real=
  [ "$code" -eq "$1" ] || fail "the program ended with exit code $code, not $1"
}

# disc_stats PNG: "BLACK OTHER WIDTH HEIGHT": how many pixels are black and how many neither black
# nor white, and the black pixels' bounding box.
disc_stats() {
  convert "$1" -depth 8 txt:- | awk -F'[,: ]+' '
    /#FFFFFF/ { next }
    /#000000/ { n++; if (!seen || $1 < x0) x0 = $1; if ($1 > x1) x1 = $1
                if (!seen || $2 < y0) y0 = $2; if ($2 > y1) y1 = $2; seen = 1; next }
    /^[0-9]/ { other++ }
    END { printf "%d %d %d %d", n, other, x1 - x0 + 1, y1 - y0 + 1 }'
}
