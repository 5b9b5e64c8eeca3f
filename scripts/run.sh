#!/usr/bin/env bash
# Builds the program and starts it.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh build
cmake -S . -B build-app -DCMAKE_BUILD_TYPE=RelWithDebInfo -DORRELUNE_TESTS=OFF -DORRELUNE_BENCHMARKS=OFF >/dev/null
cmake --build build-app -j"$(nproc)"
# Until the window exists, the headless driver shows the model running.
exec build-app/tools/orrelune-sim --params --ticks 1000 "$@"
