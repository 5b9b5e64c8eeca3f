#!/usr/bin/env bash
# Calls and includes inside the simulation go down only: run control -> engines -> kernels and
# model. No source file calls into a file that calls it back, however long the way round (read off
# the built libraries' symbols: what each object file defines and what it needs from elsewhere);
# no file includes a header of a layer above it or beside it, a lower layer's private header or a
# platform header (read off the sources).
# Usage: tests/sim/layers_test.sh SIM_DIR MODEL_LIB KERNELS_LIB ENGINES_LIB SIM_LIB
# With --self-test first, it checks itself: the tree as it is passes, and a copy with a wrong
# include, or the symbols with a wrong call, each fail.
set -euo pipefail
selfTest=0
if [ "${1:-}" = --self-test ]; then
  selfTest=1
  shift
fi
[ $# -eq 5 ] || { echo "usage: $0 [--self-test] SIM_DIR MODEL_LIB KERNELS_LIB ENGINES_LIB SIM_LIB" >&2; exit 2; }
simDir=$1
shift

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Which layers each may call, and whose headers it may include (engines/include is the engines'
# public face; the rest of engines/ is theirs alone).
allowedCalls() {
  case $1 in
  model) echo "model" ;;
  kernels) echo "kernels" ;;
  engines) echo "engines kernels model" ;;
  sim) echo "sim engines model" ;;
  esac
}
allowedIncludes() {
  case $1 in
  model) echo "model" ;;
  kernels) echo "kernels" ;;
  engines) echo "engines engines-public kernels model" ;;
  sim) echo "sim engines-public model" ;;
  esac
}
# The layer of a file by its path under sim/.
layerOf() {
  case $1 in
  model/*) echo model ;;
  kernels/*) echo kernels ;;
  engines/include/*) echo engines-public ;;
  engines/*) echo engines ;;
  */*) echo unknown ;;
  *) echo sim ;;
  esac
}
# Angle-bracket headers a layer may include: the C++ library's (no extension), the vector
# intrinsics in the kernels, GSL in the model. Anything else is the platform's.
allowedSystemHeader() {
  case $2 in
  *.* | */*) ;;
  *) return 0 ;;
  esac
  case $1:$2 in
  kernels:immintrin.h | model:gsl/*) return 0 ;;
  esac
  return 1
}

# Every #include of the sources under $1 against the layers; prints each wrong one, and fails if
# there is any (or if too few includes were read for the check to mean anything).
checkIncludes() {
  local dir=$1 failed=0 count=0
  declare -A homeOf=()
  while read -r header; do
    local name=${header##*/}
    if [ -n "${homeOf[$name]:-}" ]; then
      echo "two headers named $name: ${homeOf[$name]} and $header"
      failed=1
    fi
    homeOf[$name]=$header
  done < <(cd "$dir" && find . -name '*.h' | sed 's|^\./||' | sort)
  while read -r file; do
    local from
    from=$(layerOf "$file")
    [ "$from" = engines-public ] && from=engines
    while read -r kind name; do
      count=$((count + 1))
      if [ "$kind" = system ]; then
        allowedSystemHeader "$from" "$name" || { echo "$file includes the platform header <$name>"; failed=1; }
        continue
      fi
      local home=${homeOf[${name##*/}]:-}
      if [ -z "$home" ]; then
        echo "$file includes \"$name\", which is no header of the simulation"
        failed=1
        continue
      fi
      local to
      to=$(layerOf "$home")
      if ! allowedIncludes "$from" | tr ' ' '\n' | grep -qx "$to"; then
        echo "layer $from ($file) includes $home of layer $to"
        failed=1
      fi
    done < <(sed -nE 's/^[[:space:]]*#[[:space:]]*include[[:space:]]*"([^"]+)".*/local \1/p;
                      s/^[[:space:]]*#[[:space:]]*include[[:space:]]*<([^>]+)>.*/system \1/p' "$dir/$file")
  done < <(cd "$dir" && find . -name '*.h' -o -name '*.cpp' | sed 's|^\./||' | sort)
  if [ "$count" -lt 50 ]; then
    echo "only $count includes found under $dir"
    failed=1
  fi
  [ "$failed" -eq 0 ] && echo "includes: $count, every one downwards, through public headers"
  return "$failed"
}

# One line per symbol: layer, object file, U (needed) or D (defined here, not inline), symbol.
# Inline functions and templates (weak, V and W) are emitted wherever they are used: no call
# into another file.
for entry in model:$1 kernels:$2 engines:$3 sim:$4; do
  layer=${entry%%:*}
  nm -A -P -g "${entry#*:}" | awk -v layer="$layer" '
    { member = $1; sub(/^.*\[/, "", member); sub(/\]:$/, "", member) }
    $3 == "U" { print layer, member, "U", $2; next }
    $3 ~ /^[TDBR]$/ { print layer, member, "D", $2 }'
done >"$work/symbols"

# The calls the symbols in $1 make between files; prints each one that goes up or across, and any
# loop among files, and fails if there is one.
checkCalls() {
  local symbols=$1 failed=0
  awk '$3 == "D" { print $4, $1, $2 }' "$symbols" | sort -k1,1 >"$work/defined"
  awk '$3 == "U" { print $4, $1, $2 }' "$symbols" | sort -k1,1 >"$work/needed"
  # symbol, caller layer, caller file, callee layer, callee file
  join "$work/needed" "$work/defined" >"$work/calls"
  while read -r symbol from fromFile to toFile; do
    if ! allowedCalls "$from" | tr ' ' '\n' | grep -qx "$to"; then
      echo "layer $from ($fromFile) calls up or across into $to ($toFile): $symbol"
      failed=1
    fi
  done <"$work/calls"
  # Calls between different files; tsort fails on any loop among them.
  awk '$3 != $5 { print $2 "/" $3, $4 "/" $5 }' "$work/calls" | sort -u >"$work/edges"
  if ! tsort "$work/edges" >/dev/null 2>"$work/loops"; then
    echo "files that call each other round:"
    cat "$work/loops"
    failed=1
  fi
  local calls
  calls=$(wc -l <"$work/calls")
  if [ "$calls" -lt 20 ]; then
    # The libraries always call each other this much; fewer means the symbols were not read.
    echo "only $calls calls between files found"
    failed=1
  fi
  [ "$failed" -eq 0 ] && echo "calls: $calls, every one downwards, no file calls back"
  return "$failed"
}

if [ "$selfTest" -eq 0 ]; then
  failed=0
  checkIncludes "$simDir" || failed=1
  checkCalls "$work/symbols" || failed=1
  exit "$failed"
fi

# The self-test: each planted fault must be caught, and the tree as it is must pass.
failed=0
expectCaught() {
  local what=$1
  shift
  if "$@" >"$work/out" 2>&1; then
    echo "not caught: $what"
    failed=1
  else
    echo "caught: $what: $(head -n 1 "$work/out")"
  fi
}
# A copy of the tree with one line added at the top of one file.
plant() {
  rm -rf "$work/tree"
  cp -r "$simDir" "$work/tree"
  sed -i "1i $2" "$work/tree/$1"
}
checkIncludes "$simDir" >/dev/null || { echo "the tree as it is does not pass"; failed=1; }
checkCalls "$work/symbols" >/dev/null || { echo "the calls as they are do not pass"; failed=1; }
plant engines/dispatch.cpp '#include "simulation.h"'
expectCaught "an engine including run control's header" checkIncludes "$work/tree"
plant run_control.cpp '#include "exact_engine.h"'
expectCaught "run control including an engine's private header" checkIncludes "$work/tree"
plant model/store.cpp '#include "kernels.h"'
expectCaught "the model including the kernels' header" checkIncludes "$work/tree"
plant kernels/kernel_choice.cpp '#include <windows.h>'
expectCaught "a platform header" checkIncludes "$work/tree"
# The model needing a symbol the engines define: a call upwards.
engineSymbol=$(awk '$1 == "engines" && $3 == "D" { print $4; exit }' "$work/symbols")
{ cat "$work/symbols"; echo "model store.cpp.o U $engineSymbol"; } >"$work/planted"
expectCaught "the model calling an engine" checkCalls "$work/planted"
# Two files of the kernels calling each other.
{
  cat "$work/symbols"
  echo "kernels kernels_planted_a.o U planted_b"
  echo "kernels kernels_planted_a.o D planted_a"
  echo "kernels kernels_planted_b.o U planted_a"
  echo "kernels kernels_planted_b.o D planted_b"
} >"$work/planted"
expectCaught "two files calling each other" checkCalls "$work/planted"
exit "$failed"
