#!/usr/bin/env bash
# The Windows zip as a user takes it: unpacked, it holds both programs and the licences, and its
# orrelune-sim.exe runs under Wine and gives the Linux driver's summary line.
# Usage: tests/windows/zip_test.sh ZIP LINUX_DRIVER WORK_DIR [WINE_PREFIX]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
zip=$(realpath "$1")
linux=$(realpath "$2")
work=$3
prefix=${4:-$work/wineprefix}
rm -rf "$work" && mkdir -p "$work" "$(dirname "$prefix")"
work=$(realpath "$work")
prefix=$(realpath "$prefix")
fail() { echo "windows zip: FAILED: $*" >&2; exit 1; }

version=$("$linux" --version | sed 's/^orrelune-sim //')
[ "$(basename "$zip")" = "orrelune-$version-win64.zip" ] || fail "the zip is $(basename "$zip"), not for version $version"
(cd "$work" && cmake -E tar xf "$zip")
top=$work/orrelune-$version-win64
expected="COPYRIGHT.txt LICENSE.txt licences/gcc-runtime.txt licences/mingw-w64-runtime.txt orrelune-sim.exe orrelune.exe"
got=$(cd "$top" && find . -type f | sed 's|^\./||' | LC_ALL=C sort | tr '\n' ' ')
[ "$got" = "$expected " ] || fail "the zip holds: $got; expected: $expected"
grep -q 'GNU GENERAL PUBLIC LICENSE' "$top/LICENSE.txt" || fail "LICENSE.txt is not the GPL"
grep -q 'stb_image_write' "$top/COPYRIGHT.txt" || fail "COPYRIGHT.txt does not name stb"
grep -q 'GCC RUNTIME LIBRARY EXCEPTION' "$top/licences/gcc-runtime.txt" || fail "no GCC runtime exception"

# shellcheck source=tests/windows/wine-env.sh
. "$here/wine-env.sh" "$prefix"
# Wine's server outlives its programs for a while; one started here, without a display, would
# serve the window checks that follow in the same prefix and show them nothing.
trap wine_stop EXIT
# A drawn population's velocities pass through the C libraries' sin, cos and log, which may
# differ in the last bit, so the first run agrees up to the masses; a loaded one agrees to the bit.
got=$(cd "$work" && wine_run "$top/orrelune-sim.exe" --clock 5 --ticks 10 | tr -d '\r' | sed 's/ px=.*//')
want=$("$linux" --clock 5 --ticks 10 | sed 's/ px=.*//')
[ "$got" = "$want" ] || fail "orrelune-sim.exe --clock 5 --ticks 10 gives '$got', not '$want'"
"$linux" --clock 5 --dump | grep -v '^ticks=' >"$work/state.txt"
got=$(cd "$work" && wine_run "$top/orrelune-sim.exe" --load state.txt --ticks 10 | tr -d '\r')
want=$("$linux" --load "$work/state.txt" --ticks 10)
[ "$got" = "$want" ] || fail "orrelune-sim.exe --load --ticks 10 gives '$got', not '$want'"
[ "$(wine_run "$top/orrelune-sim.exe" --version | tr -d '\r')" = "orrelune-sim $version" ] || fail "orrelune-sim.exe --version"
rm -rf "$work"
echo "windows zip: $(basename "$zip") unpacked; its orrelune-sim.exe runs under Wine as the Linux driver does"
