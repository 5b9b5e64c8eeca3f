#!/usr/bin/env bash
# The driver's command line is a contract: options, exit codes, output lines, --load and --dump.
# Usage: driver_test.sh DRIVER WORK_DIR
set -u
driver=$1
work=$2
rm -rf "$work" && mkdir -p "$work"
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
expect_line() {  # expect_line NAME OUTPUT PATTERN
  grep -qE -- "$3" <<<"$2" || fail "$1: no line matching '$3' in: $2"
}

out=$("$driver" --help); rc=$?
[ $rc -eq 0 ] || fail "--help exits $rc"
expect_line help "$out" '^usage: orrelune-sim'

"$driver" --bogus >/dev/null 2>"$work/err"; rc=$?
[ $rc -eq 2 ] || fail "unknown option exits $rc"
grep -q "unknown option '--bogus'" "$work/err" || fail "unknown option not named"
"$driver" --ticks >/dev/null 2>"$work/err"; rc=$?
[ $rc -eq 2 ] || fail "missing value exits $rc"
"$driver" --ticks 1x >/dev/null 2>&1; rc=$?
[ $rc -eq 2 ] || fail "bad tick count exits $rc"

out=$("$driver" --clock 1000 --count -300 --params)
expect_line count "$out" '^params count=300 gravity=20.000000 density=5.000000 radius=2.000000 speed=0.000000 spread=50.000000 scale=1.000000 merge=1$'
expect_line count "$out" '^ticks=0 lastIndex=299 idleTicks=0 live=[0-9]+ '
out=$("$driver" --clock 1000 --count 12abc --radius 10 --merge yes --params)
expect_line lenient "$out" '^params count=12 .* radius=10.000000 .* merge=0$'
out=$("$driver" --clock 1000 --count 500 --radius 10 --params)
expect_line cap "$out" 'radius=6.708204'

# A fixed clock gives the same records every time; radii are whole, positions in the field.
"$driver" --clock 1234 --dump >"$work/a" && "$driver" --clock 1234 --dump >"$work/b"
cmp -s "$work/a" "$work/b" || fail "same clock, different dumps"
records=$(grep -cvE '^ticks=' "$work/a")
[ "$records" -eq 500 ] || fail "dump has $records records"
awk '!/^ticks=/ { if ($3 != int($3) || $4 < 0 || $4 > 1000 || $5 < 0 || $5 > 700) bad++ }
     END { exit bad > 0 }' "$work/a" || fail "a record with a fractional radius or off the field"

# --load takes back what --dump wrote, bit for bit, and the run goes on from it.
grep -vE '^ticks=' "$work/a" >"$work/pop"
"$driver" --clock 99 --load "$work/pop" --dump >"$work/c"
diff <(grep -v '^ticks=' "$work/a") <(grep -v '^ticks=' "$work/c") >/dev/null || fail "load/dump round trip"
[ "$(tail -n1 "$work/a" | sed 's/.*hash=//')" = "$(tail -n1 "$work/c" | sed 's/.*hash=//')" ] || fail "hash after load"
t1=$("$driver" --clock 1234 --ticks 50 | tail -n1)
t2=$("$driver" --clock 99 --load "$work/pop" --ticks 50 | tail -n1)
[ "$t1" = "$t2" ] || fail "50 ticks from the loaded population differ: $t1 / $t2"
out=$("$driver" --load "$work/pop" --count 3 --params)
expect_line load-count "$out" '^params count=500 '

# Bad files name the file and the line, and nothing runs.
printf '0 1 1 1 1 0 0\n1 1 1 oops 1 0 0\n' >"$work/bad"
out=$("$driver" --load "$work/bad" --ticks 5 2>"$work/err"); rc=$?
[ $rc -eq 2 ] || fail "malformed file exits $rc"
[ -z "$out" ] || fail "malformed file still printed: $out"
grep -q "bad:2:" "$work/err" || fail "malformed line not named: $(cat "$work/err")"
printf '0 1 1 1 1 0 0\n5 1 1 1 1 0 0\n' >"$work/gap"
"$driver" --load "$work/gap" >/dev/null 2>&1; [ $? -eq 2 ] || fail "index gap accepted"
"$driver" --load "$work/missing" >/dev/null 2>"$work/err"; rc=$?
[ $rc -eq 2 ] || fail "missing file exits $rc"
grep -q "missing" "$work/err" || fail "missing file not named"

# Summary sums: two bodies with known momentum.
printf '0 2 1 10 10 3 0\n1 4 1 500 300 0 -1\n2 0 0 0 0 0 0\n' >"$work/two"
out=$("$driver" --load "$work/two")
expect_line sums "$out" '^ticks=0 lastIndex=2 idleTicks=0 live=2 mass=6 px=6 py=-4 hash=[0-9a-f]{16}$'

# Extreme texts must finish their ticks.
out=$("$driver" --clock 5 --gravity 1e308 --speed 1e300 --spread 1e999 --density 1e999 --ticks 20)
expect_line extreme "$out" '^ticks=20 '
# Each removal pass frees about half of an all-dead table.
out=$("$driver" --clock 5 --count 50000 --radius 0 --ticks 20)
expect_line dead-field "$out" '^ticks=20 lastIndex=-1 '

# Pictures (their pixels are checked in the unit tests): a PNG of the 1050 x 700 drawing, the
# same bytes for the same field, frames every K ticks numbered from 0.
png_size() { od -An -tx1 -j16 -N8 "$1" | tr -d ' \n'; }
printf '0 1 10 100 100 0 0\n1 1 20 500 350 0 0\n' >"$work/known"
out=$("$driver" --load "$work/known" --png "$work/known.png" 2>"$work/err"); rc=$?
[ $rc -eq 0 ] || fail "--png exits $rc: $(cat "$work/err")"
expect_line png-summary "$out" '^ticks=0 lastIndex=1 idleTicks=0 live=2 '
[ "$(head -c 8 "$work/known.png" | od -An -tx1 | tr -d ' \n')" = 89504e470d0a1a0a ] || fail "--png wrote no PNG file"
[ "$(png_size "$work/known.png")" = 0000041a000002bc ] || fail "the picture is not 1050 x 700: $(png_size "$work/known.png")"
"$driver" --load "$work/known" --png "$work/again.png" >/dev/null
cmp -s "$work/known.png" "$work/again.png" || fail "the same field gave two different pictures"
ls "$work" | grep -q '\.part$' && fail "a temporary picture file was left behind"

mkdir -p "$work/frames"
"$driver" --clock 7 --count 50 --ticks 10 --png-every 4 "$work/frames/%03d.png" >/dev/null || fail "--png-every failed"
[ "$(ls "$work/frames" | paste -sd' ')" = "000.png 001.png 002.png" ] || fail "frames after 0, 4 and 8 of 10 ticks: $(ls "$work/frames")"
"$driver" --clock 7 --count 50 --ticks 8 --png "$work/after8.png" >/dev/null
cmp -s "$work/frames/002.png" "$work/after8.png" || fail "frame 2 of every 4 ticks is not the field after 8 ticks"
for bad in "--png-every 4 $work/frame.png" "--png-every 4 $work/%d-%s.png" "--png-every 0 $work/%d.png" "--png-every 4" \
  "--png"; do
  # shellcheck disable=SC2086
  "$driver" $bad >/dev/null 2>&1; rc=$?
  [ $rc -eq 2 ] || fail "'$bad' exits $rc"
done

# A picture that cannot be written: one line, exit 2, before the run (this one would take long).
for path in "$work/no-folder/x.png" "$work" "$work/no-folder/%d.png"; do
  option=--png
  case $path in *%d*) option="--png-every 1" ;; esac
  # shellcheck disable=SC2086
  out=$(timeout 60 "$driver" --clock 5 --count 20000 --merge 0 --ticks 100000 $option "$path" 2>"$work/err"); rc=$?
  [ $rc -eq 2 ] || fail "unwritable '$path' exits $rc"
  [ -z "$out" ] || fail "unwritable '$path' still printed: $out"
  [ "$(wc -l <"$work/err")" -eq 1 ] && grep -q "^orrelune-sim: cannot write '${path//%d/0}': " "$work/err" ||
    fail "unwritable '$path' not told in one line: $(cat "$work/err")"
done
[ ! -e "$work/no-folder" ] || fail "a folder was made for an unwritable picture"

# Progress: nothing on stderr without a terminal; on one, a line redrawn in place and cleared,
# so that what the terminal shows last is the summary line, as it is on stdout.
long="--clock 1000 --count 2000 --merge 0 --ticks 400 --threads 1"
# shellcheck disable=SC2086
plain=$("$driver" $long 2>"$work/err")
[ ! -s "$work/err" ] || fail "progress text without a terminal: $(tr '\r' '|' <"$work/err")"
if command -v script >/dev/null; then
  script -qec "$driver $long" /dev/null >"$work/tty" </dev/null
  grep -aq 'tick [0-9]* of 400, [0-9.]* ticks/s, .* left' "$work/tty" || fail "no progress on a terminal: $(tr '\r' '|' <"$work/tty")"
  shown=$(tr -d '\n' <"$work/tty" | sed 's/\r$//; s/.*\r//')
  [ "$shown" = "$plain" ] || fail "the terminal ends with [$shown], not the summary [$plain]"
else
  fail "script (util-linux) is missing: the progress on a terminal went untested"
fi

if [ $failures -ne 0 ]; then echo "$failures failed"; exit 1; fi
echo "driver: all checks passed"
