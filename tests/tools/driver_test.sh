#!/usr/bin/env bash
# The driver's command line is a contract: options, exit codes, output lines, --load and --dump.
# Usage: driver_test.sh DRIVER WORK_DIR VERSION
set -u
driver=$1
work=$2
version=$3
rm -rf "$work" && mkdir -p "$work"
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
expect_line() {  # expect_line NAME OUTPUT PATTERN
  grep -qE -- "$3" <<<"$2" || fail "$1: no line matching '$3' in: $2"
}

out=$("$driver" --help); rc=$?
out_help=$out
[ $rc -eq 0 ] || fail "--help exits $rc"
expect_line help "$out" '^usage: orrelune-sim'

# The version is the project's, alone on stdout, whatever follows.
out=$("$driver" --version --bogus 2>&1); rc=$?
[ $rc -eq 0 ] && [ "$out" = "orrelune-sim $version" ] || fail "--version exits $rc with: $out"

# Every option --help lists is one the driver takes, with as many values as --help names.
while read -r name operands; do
  case $name in --help | --version) continue ;; esac
  args=()
  for operand in $operands; do
    case $operand in
    K | SECONDS) args+=(3) ;;
    PATTERN) args+=("$work/listed-%d.png") ;;
    FILE) args+=("$work/listed-file") ;;
    NAME) args+=(exact) ;;
    *) args+=(1) ;;
    esac
  done
  [ "$name" = --load ] && printf '0 1 1 10 10 0 0\n' >"$work/listed-file"
  "$driver" --clock 1 --count 5 "$name" "${args[@]}" >"$work/listed.out" 2>&1 ||
    fail "$name ${args[*]}, as --help lists it: $(cat "$work/listed.out")"
  # One value fewer is a mistake the driver names.
  if [ ${#args[@]} -gt 0 ]; then
    "$driver" --clock 1 --count 5 "$name" "${args[@]:1}" >/dev/null 2>"$work/listed.err"
    [ $? -eq 2 ] || fail "$name with a value missing is taken"
  fi
done < <(sed -n 's/^  \(--[a-z-]*\(  *[A-Z][A-Z]*\)*\).*/\1/p' <<<"$out_help")

# refused NAME PATTERN [ENV=VALUE...] -- ARGS...: the driver exits 2 having written nothing on
# stdout, and says why in one line on stderr that matches PATTERN; a command-line mistake adds
# the hint to --help as a second line.
refused() {
  local name=$1 pattern=$2 settings=()
  shift 2
  while [ "$1" != -- ]; do settings+=("$1"); shift; done
  shift
  env "${settings[@]}" "$driver" "$@" >"$work/out" 2>"$work/err"
  local rc=$?
  [ $rc -eq 2 ] || fail "$name exits $rc"
  [ -s "$work/out" ] && fail "$name wrote on stdout: $(head -c 300 "$work/out")"
  head -n1 "$work/err" | grep -qE -- "^orrelune-sim: $pattern" || fail "$name says: $(head -n1 "$work/err")"
  local hint=$'Try \'orrelune-sim --help\'.'
  if [ ${#settings[@]} -eq 0 ]; then
    [ "$(wc -l <"$work/err")" -eq 2 ] && [ "$(sed -n 2p "$work/err")" = "$hint" ] ||
      fail "$name: not the reason and the hint: $(cat "$work/err")"
  else
    [ "$(wc -l <"$work/err")" -eq 1 ] || fail "$name: more than one line: $(cat "$work/err")"
  fi
}

refused unknown-option "unknown option '--bogus'$" -- --bogus
refused missing-value "option '--ticks' needs a value$" -- --ticks
refused bad-ticks "--ticks needs a count of ticks, not '1x'$" -- --ticks 1x
refused bad-engine "--engine needs 'exact', 'fast' or 'literal', not 'FAST'$" -- --engine FAST
refused bad-clock "--clock needs whole seconds, not 'noon'$" -- --clock noon

# Thread counts: 1 to the maximum --help names; the results never depend on the count.
max=$(sed -n 's/^  --threads T .* 1 to \([0-9][0-9]*\) .*/\1/p' <<<"$("$driver" --help)")
[ -n "$max" ] || fail "--help names no most threads"
for threads in 0 -1 $((max + 1)) 100000 2147483647 99999999999999999999 1x; do
  refused "threads-$threads" "--threads needs a count of threads from 1 to $max, not '$threads'$" -- \
    --clock 77 --count 3000 --ticks 1 --threads "$threads"
done
one=$("$driver" --clock 77 --count 3000 --ticks 1 --threads 1)
most=$("$driver" --clock 77 --count 3000 --ticks 1 --threads "$max")
[ "$one" = "$most" ] || fail "--threads $max: $most, not $one"

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

# A NaN sum prints without its sign, whichever NaN the build's order of operations ends in; NaNs
# of either sign in the records print the same summary too.
printf '0 inf 1 10 10 3 0\n1 inf 1 500 300 0 -1\n2 1 1 700 100 0 0\n' >"$work/infinite"
out=$("$driver" --load "$work/infinite" --merge 0 --ticks 3)
expect_line nan-sum "$out" '^ticks=3 lastIndex=2 idleTicks=0 live=3 mass=inf px=nan py=nan hash=[0-9a-f]{16}$'
printf '0 1 1 10 10 nan -nan\n' >"$work/nan"
printf '0 1 1 10 10 -nan nan\n' >"$work/minus-nan"
a=$("$driver" --load "$work/nan"); b=$("$driver" --load "$work/minus-nan")
expect_line nan-records "$a" ' px=nan py=nan '
[ "${a% hash=*}" = "${b% hash=*}" ] || fail "NaNs of either sign: '$a' and '$b'"

# GSL's variables. A generator name GSL does not know: one line naming the variable and the names
# GSL knows, nothing run. A seed GSL takes whatever it is, and the clock overrides it.
refused unknown-generator "GSL_RNG_TYPE='bogus' names no GSL generator; GSL's generators are .*, mt19937, .*$" \
  GSL_RNG_TYPE=bogus -- --clock 5 --ticks 3
refused unknown-generator-load "GSL_RNG_TYPE='MT19937' names no GSL generator" GSL_RNG_TYPE=MT19937 -- \
  --load "$work/two" --dump
refused empty-generator "GSL_RNG_TYPE='' names no GSL generator" GSL_RNG_TYPE= -- --clock 5
plain=$("$driver" --clock 5 --ticks 3)
named=$(GSL_RNG_TYPE=mt19937 "$driver" --clock 5 --ticks 3 2>"$work/err")
[ "$named" = "$plain" ] || fail "GSL_RNG_TYPE=mt19937, GSL's default, changes the run: $named"
grep -q '^GSL_RNG_TYPE=mt19937$' "$work/err" || fail "GSL did not say which generator it took: $(cat "$work/err")"
for seed in 7 garbage -1 99999999999999999999999; do
  seeded=$(GSL_RNG_SEED=$seed "$driver" --clock 5 --ticks 3 2>/dev/null); rc=$?
  [ $rc -eq 0 ] && [ "$seeded" = "$plain" ] || fail "GSL_RNG_SEED=$seed: exit $rc, $seeded"
done

# ORRELUNE_ENGINE is the program's; the driver takes its engine from --engine alone, silently.
out=$(ORRELUNE_ENGINE=FAST "$driver" --clock 5 --ticks 3 2>"$work/err")
[ "$out" = "$plain" ] && [ ! -s "$work/err" ] || fail "ORRELUNE_ENGINE=FAST reached the driver: $out $(cat "$work/err")"
out=$(ORRELUNE_ENGINE=fast "$driver" --clock 5 --ticks 3)
[ "$out" = "$plain" ] || fail "ORRELUNE_ENGINE=fast changed the driver's engine"

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
