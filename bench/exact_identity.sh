#!/usr/bin/env bash
# The exact engine against the literal one through the driver: for each clock, size and merge
# setting, the last line (counts, sums and the hash of every record's bytes) after the run must be
# the same for --engine literal and for --engine exact on 1 and 2 threads. Writes one CSV row a run
# and exits non-zero on any difference.
# Usage: bench/exact_identity.sh DRIVER OUT.csv [CLOCKS] [SIZES]
#   SIZES: "count:ticks ..." (default "500:1000 3000:1000 20000:3")
set -euo pipefail
driver=$1
out=$2
clocks=${3:-20}

# count ticks: 1000 ticks at 500 and 3000 particles; the literal step at 20000 takes seconds a
# tick, so a few ticks there.
read -r -a sizes <<<"${4:-500:1000 3000:1000 20000:3}"
echo "count,merge,clock,ticks,threads,same,literal_line,exact_line" >"$out"
differences=0
for size in "${sizes[@]}"; do
  count=${size%:*}
  ticks=${size#*:}
  for merge in 1 0; do
    for ((k = 1; k <= clocks; ++k)); do
      clock=$((1000 * k + count))
      args=(--count "$count" --merge "$merge" --clock "$clock" --ticks "$ticks")
      literal=$("$driver" "${args[@]}" --engine literal)
      for threads in 1 2; do
        exact=$("$driver" "${args[@]}" --engine exact --threads "$threads")
        same=yes
        if [ "$exact" != "$literal" ]; then
          same=no
          differences=$((differences + 1))
        fi
        echo "$count,$merge,$clock,$ticks,$threads,$same,$literal,$exact" >>"$out"
      done
    done
    echo "count $count merge $merge: $clocks clocks done, $differences differences so far" >&2
  done
done
[ "$differences" -eq 0 ] || { echo "exact_identity: $differences runs differ" >&2; exit 1; }
echo "exact_identity: every run identical" >&2
