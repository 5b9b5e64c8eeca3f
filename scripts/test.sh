#!/usr/bin/env bash
# Builds and runs every test: the optimised build, then its Debian package's install round, then
# the same tests under AddressSanitizer and UndefinedBehaviorSanitizer, then a short benchmark
# smoke run, then the Windows build and its zip under Wine.
# Usage: scripts/test.sh [--quick]
# --quick leaves out the package's round (which installs and removes it as root), the sanitizer
# build and the Windows part, for a developer's day; CI runs everything. The build trees are the
# presets of CMakePresets.json.
set -euo pipefail
cd "$(dirname "$0")/.."

quick=0
case ${1:-} in
--quick) quick=1 ;;
"") ;;
*) echo "usage: scripts/test.sh [--quick]" >&2; exit 2 ;;
esac

scripts/deps.sh test
jobs=$(nproc)

cmake --preset optimised >/dev/null
# The machine first, so that a red run names its processor and the kernel level it ran.
if ! log=$(cmake --build --preset optimised --target orrelune-machine -j"$jobs" 2>&1); then
  echo "$log"
  exit 1
fi
machine=$(build/tests/orrelune-machine)
echo "$machine"
cmake --build --preset optimised -j"$jobs"
ctest --preset optimised -j"$jobs"

# The Debian package made from the build above, installed with apt, started from its desktop
# entry and removed again (as root; see tests/dist/deb_round.sh); then the sanitizer build.
if [ "$quick" = 0 ]; then
  tests/dist/deb_round.sh build build/deb-round
  cmake --preset asan >/dev/null
  cmake --build --preset asan -j"$jobs"
  ctest --preset asan -j"$jobs"
fi

# The benchmarks are measured by hand; here they only have to run.
build/bench/orrelune-bench --benchmark_filter='count:500/' --benchmark_min_time=0.01
build/bench/orrelune-render-bench --benchmark_filter='count:500/' --benchmark_min_time=0.01
build/bench/orrelune-fast-bench --benchmark_filter='Bound/threads:1|BM_Step/engine:[12]/threads:[12]/count:500/' \
  --benchmark_min_time=0.01
build/bench/orrelune-divsqrt-bench --benchmark_min_time=0.01
# The rounded division and square root against the instructions, on a thousandth of the full
# sweep's lanes, for each vector instruction set this processor has.
case ${machine##*kernels: } in
avx512) sets=(avx2 avx512) ;;
avx2) sets=(avx2) ;;
*) sets=() ;;
esac
for set in "${sets[@]}"; do build/bench/orrelune-divsqrt-sweep --isa "$set" --lanes 1e6; done
# The fast kernels' inverse cube against x^(-3/2), on a thousandth of the full sweep's lanes.
for set in "${sets[@]}"; do build/bench/orrelune-inverse-cube-sweep --isa "$set" --lanes 1e6; done

# The Windows build (MinGW-w64), checked under Wine against the Linux build above.
if [ "$quick" = 0 ]; then scripts/windows-test.sh; fi
