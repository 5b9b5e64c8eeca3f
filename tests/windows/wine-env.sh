# Sourced: a private Wine prefix for the Windows checks, and helpers to run programs in it.
# Usage: . tests/windows/wine-env.sh PREFIX_DIR
WINE=/usr/lib/wine/wine64
WINESERVER=/usr/lib/wine/wineserver64
if [ ! -x "$WINE" ]; then
  echo "Wine is missing ($WINE); install wine64 (scripts/windows-deps.sh test)" >&2
  exit 1
fi
export WINEPREFIX=$1
export WINEDEBUG=-all
# No Mono or Gecko installer prompts: the program needs neither .NET nor HTML.
export WINEDLLOVERRIDES="mscoree,mshtml="

# The first start creates the prefix (several seconds), with noise about services that a prefix
# without a display cannot start; done once, quietly, so the checks' output stays readable.
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  mkdir -p "$WINEPREFIX"
  "$WINE" wineboot --init >"$WINEPREFIX.wineboot.log" 2>&1 || true
  "$WINESERVER" -w
fi

wine_run() { "$WINE" "$@"; }
# Ends this prefix's Wine server and every process in it (nothing outside the prefix).
wine_stop() { "$WINESERVER" -k 2>/dev/null || true; }
