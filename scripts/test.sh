#!/usr/bin/env bash
# Builds and runs every test: the optimised build, then the same tests under
# AddressSanitizer and UndefinedBehaviorSanitizer, then a short benchmark smoke run.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/deps.sh test
jobs=$(nproc)

cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DORRELUNE_WERROR=ON -DORRELUNE_TESTS=ON -DORRELUNE_BENCHMARKS=ON >/dev/null
cmake --build build -j"$jobs"
ctest --test-dir build --output-on-failure -j"$jobs"

cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=Debug -DORRELUNE_SANITIZE=ON -DORRELUNE_WERROR=ON -DORRELUNE_TESTS=ON \
  -DORRELUNE_BENCHMARKS=OFF >/dev/null
cmake --build build-asan -j"$jobs"
ctest --test-dir build-asan --output-on-failure -j"$jobs" -LE e2e

# The benchmarks are measured by hand; here they only have to run.
build/bench/orrelune-bench --benchmark_filter='count:500/' --benchmark_min_time=0.01
build/bench/orrelune-render-bench --benchmark_filter='count:500/' --benchmark_min_time=0.01
build/bench/orrelune-fast-bench --benchmark_filter='Bound/threads:1|BM_Step/engine:[12]/threads:[12]/count:500/' \
  --benchmark_min_time=0.01
build/bench/orrelune-divsqrt-bench --benchmark_min_time=0.01
# The rounded division and square root against the instructions, on a thousandth of the full sweep's lanes.
build/bench/orrelune-divsqrt-sweep --lanes 1e6

# The Windows build (MinGW-w64), checked under Wine against the Linux build above.
scripts/windows-test.sh
