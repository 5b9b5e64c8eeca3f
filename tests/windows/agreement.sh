#!/usr/bin/env bash
# The Windows driver under Wine and the Linux driver must draw the same populations from the same
# clock and parameters, and evolve a loaded population to the same bits.
# Usage: tests/windows/agreement.sh LINUX_DRIVER WINDOWS_DRIVER WORK_DIR [WINE_PREFIX]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
linux=$(realpath "$1")
windows=$(realpath "$2")
work=$3
prefix=${4:-$work/wineprefix}
mkdir -p "$work" "$(dirname "$prefix")"
work=$(realpath "$work")
prefix=$(realpath "$prefix")
cd "$work"

# shellcheck source=tests/windows/wine-env.sh
. "$here/wine-env.sh" "$prefix"

g++ -std=c++20 -O1 -Wall -Wextra -Werror -o compare_dumps "$here/compare_dumps.cpp"

failures=0
# The Windows driver writes CRLF; the comparisons read lines without it.
run_windows() { wine_run "$windows" "$@" | tr -d '\r'; }

# Populations: defaults; 50000 records; a clock beyond 32 bits (the seed keeps the low 32);
# a mean radius above 10, where the Poisson draw goes through the gamma and binomial draws;
# a negative clock.
populations=(
  "--clock 1000"
  "--clock 1700000000 --count 50000 --radius 0.6"
  "--clock 4294968296 --count 2000 --speed 30 --spread 5"
  "--clock 123456789 --count 90 --radius 15 --density 0.5"
  "--clock -86400 --count 3000 --radius 1.5 --spread 80"
)
n=0
for args in "${populations[@]}"; do
  n=$((n + 1))
  # shellcheck disable=SC2086
  "$linux" $args --params --dump >"linux-$n.txt"
  # shellcheck disable=SC2086
  run_windows $args --params --dump >"windows-$n.txt"
  echo "population $n ($args):"
  if ! ./compare_dumps "linux-$n.txt" "windows-$n.txt" 4; then failures=$((failures + 1)); fi
  # The dialog's texts are formatted by each system's own runtime.
  if ! diff <(grep '^params ' "linux-$n.txt") <(grep '^params ' "windows-$n.txt"); then
    echo "FAIL: the parameter texts differ"
    failures=$((failures + 1))
  fi
done

# Evolution: both load the same file and run 100 ticks; the step uses only + - * / and sqrt (and the
# fast engine the processor's estimates, the same for both on one machine), so the states must be
# identical. One file comes from each system (the Windows one has CRLF ends);
# merging on and off; every engine, the exact and fast ones on two threads above the size where
# they split the work between threads; the clock is fixed in case a restart draws a new population.
"$linux" --clock 4242 --count 3000 --radius 2 --dump | grep -v '^ticks=' >from-linux.txt
wine_run "$windows" --clock 777 --count 3000 --radius 1.5 --speed 20 --dump | grep -av '^ticks=' >from-windows.txt
declare -A windows_lines
for args in "--load from-linux.txt --engine literal" "--load from-linux.txt --engine exact --threads 2" \
  "--load from-linux.txt --engine fast --threads 2" "--load from-linux.txt --merge 0 --engine literal" \
  "--load from-linux.txt --merge 0 --engine exact --threads 2" \
  "--load from-windows.txt --gravity 200 --engine fast --threads 2" \
  "--load from-windows.txt --gravity 200 --engine exact --threads 2"; do
  # shellcheck disable=SC2086
  expected=$("$linux" $args --clock 5 --ticks 100)
  # shellcheck disable=SC2086
  actual=$(run_windows $args --clock 5 --ticks 100)
  windows_lines[$args]=$actual
  echo "100 ticks ($args):"
  echo "  linux:   $expected"
  echo "  windows: $actual"
  if [ "$expected" != "$actual" ]; then
    echo "FAIL: the states differ after 100 ticks"
    failures=$((failures + 1))
  fi
done
# The exact engine is the literal step's bytes, on Windows too.
for merge in "" "--merge 0 "; do
  literal=${windows_lines["--load from-linux.txt ${merge}--engine literal"]}
  exact=${windows_lines["--load from-linux.txt ${merge}--engine exact --threads 2"]}
  if [ "$literal" != "$exact" ]; then
    echo "FAIL: on Windows the exact engine (${merge}) ended in $exact, the literal one in $literal"
    failures=$((failures + 1))
  fi
done

# Pictures: the Windows driver draws through GDI32, the Linux one through the layer's own GDI;
# the same field must give the same PNG bytes. A small known population (discs of several
# sizes, one across the right edge of the field into the drawing's extra 50 pixels, one across
# the lower right corner, a dead record), drawn populations of large and of tiny discs and at
# another scale, and a series of frames.
printf '%s\n' '0 1 10 100 100 0 0' '1 1 20 500 350 0 0' '2 1 3 1000 40 0 0' '3 1 15 1040.5 690 0 0' \
  '4 0 0 0 0 0 0' '5 1 0.5 300.25 600.75 0 0' '6 1 7 20.5 680.5 0 0' >known-population.txt
pictures=(
  "known:--load known-population.txt"
  "drawn:--clock 1000 --ticks 20"
  "tiny:--clock 1700000000 --count 50000 --radius 0.6"
  "scaled:--clock 123456789 --count 90 --radius 15 --density 0.5 --scale 2.5"
)
for picture in "${pictures[@]}"; do
  name=${picture%%:*}
  args=${picture#*:}
  rm -f "linux-$name.png" "windows-$name.png"
  # shellcheck disable=SC2086
  "$linux" $args --png "linux-$name.png" >/dev/null
  # shellcheck disable=SC2086
  run_windows $args --png "windows-$name.png" >/dev/null
  if cmp -s "linux-$name.png" "windows-$name.png"; then
    echo "picture $name ($args): the same $(wc -c <"linux-$name.png") bytes"
  else
    differing=
    if command -v compare >/dev/null; then
      differing=" ($(compare -metric AE "linux-$name.png" "windows-$name.png" null: 2>&1) pixels differ)"
    fi
    echo "FAIL: picture $name ($args) differs between Linux and Windows$differing"
    failures=$((failures + 1))
  fi
done
rm -f linux-frame-*.png windows-frame-*.png
"$linux" --clock 42 --count 300 --ticks 6 --png-every 3 linux-frame-%d.png >/dev/null
run_windows --clock 42 --count 300 --ticks 6 --png-every 3 windows-frame-%d.png >/dev/null
for n in 0 1 2; do
  if ! cmp -s "linux-frame-$n.png" "windows-frame-$n.png"; then
    echo "FAIL: frame $n (every 3 ticks) differs between Linux and Windows"
    failures=$((failures + 1))
  fi
done
# An unwritable picture: the Windows driver tells it in one line and exits 2, before the run.
set +e
run_windows --clock 5 --png no-such-folder/x.png >windows-unwritable.out 2>windows-unwritable.err
status=$?
set -e
if [ "$status" -ne 2 ] || [ -s windows-unwritable.out ] || ! grep -q "cannot write 'no-such-folder/x.png'" windows-unwritable.err; then
  echo "FAIL: an unwritable picture on Windows: exit $status, stderr: $(cat windows-unwritable.err)"
  failures=$((failures + 1))
fi

# Mistakes in the command line and the environment: the same exit code and the same lines on
# both systems (the driver's own and GSL's), and the summary of NaN sums. Fresh populations may
# differ by an ulp (above), so the runs start from a file.
printf '0 inf 1 10 10 3 0\n1 inf 1 500 300 0 -1\n2 1 1 700 100 0 0\n' >infinite.txt
mistakes=(
  "-- --bogus"
  "-- --ticks"
  "-- --threads 100000"
  "-- --threads 2147483647"
  "-- --load from-linux.txt --clock 77 --ticks 1 --threads 1024"
  "GSL_RNG_TYPE=bogus -- --clock 5 --ticks 3"
  "GSL_RNG_TYPE=ranlux -- --load from-linux.txt --clock 5"
  "GSL_RNG_SEED=garbage -- --load from-linux.txt --clock 5"
  "ORRELUNE_ENGINE=FAST -- --load from-linux.txt --clock 5"
  "-- --load infinite.txt --merge 0 --ticks 3"
)
for mistake in "${mistakes[@]}"; do
  read -r -a settings <<<"${mistake%%--*}"
  read -r -a args <<<"${mistake#*-- }"
  linux_code=0
  env "${settings[@]}" "$linux" "${args[@]}" >linux.out 2>linux.err || linux_code=$?
  windows_code=0
  env "${settings[@]}" "$WINE" "$windows" "${args[@]}" >windows.out 2>windows.err || windows_code=$?
  sed -i 's/\r$//' windows.out windows.err
  echo "$mistake: exit $linux_code on Linux, $windows_code on Windows"
  if [ "$linux_code" != "$windows_code" ] || ! cmp -s linux.out windows.out || ! cmp -s linux.err windows.err; then
    echo "FAIL: the drivers answer differently"
    diff linux.out windows.out | head -n 5 || true
    diff linux.err windows.err | head -n 5 || true
    failures=$((failures + 1))
  fi
done

if grep -q $'\r' from-windows.txt; then :; else
  echo "FAIL: the Windows driver's dump has no CRLF line ends; the loader's CRLF path went untested"
  failures=$((failures + 1))
fi

wine_stop
if [ "$failures" -ne 0 ]; then
  echo "agreement: $failures check(s) failed"
  exit 1
fi
echo "agreement: Windows and Linux drivers agree"
