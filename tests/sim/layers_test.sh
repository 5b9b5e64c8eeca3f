#!/usr/bin/env bash
# Calls inside the simulation go down only: run control -> engines -> kernels and model, and no
# source file calls into a file that calls it back, however long the way round. Read off the
# built libraries' symbols: what each object file defines and what it needs from elsewhere.
# Usage: tests/sim/layers_test.sh MODEL_LIB KERNELS_LIB ENGINES_LIB SIM_LIB
set -euo pipefail
[ $# -eq 4 ] || { echo "usage: $0 MODEL_LIB KERNELS_LIB ENGINES_LIB SIM_LIB" >&2; exit 2; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

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

# Which layers each may call.
allowed() {
  case $1 in
  model) echo "model" ;;
  kernels) echo "kernels" ;;
  engines) echo "engines kernels model" ;;
  sim) echo "sim engines model" ;;
  esac
}

awk '$3 == "D" { print $4, $1, $2 }' "$work/symbols" | sort -k1,1 >"$work/defined"
awk '$3 == "U" { print $4, $1, $2 }' "$work/symbols" | sort -k1,1 >"$work/needed"
# symbol, caller layer, caller file, callee layer, callee file
join "$work/needed" "$work/defined" >"$work/calls"

failed=0
while read -r symbol from fromFile to toFile; do
  if ! allowed "$from" | tr ' ' '\n' | grep -qx "$to"; then
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

calls=$(wc -l <"$work/calls")
if [ "$calls" -lt 20 ]; then
  # The libraries always call each other this much; fewer means the symbols were not read.
  echo "only $calls calls between files found"
  failed=1
fi
[ "$failed" -eq 0 ] && echo "layers: $calls calls, every one downwards, no file calls back"
exit "$failed"
