#!/usr/bin/env bash
# Installs what is missing, builds in Release and runs the main job.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
build=${BUILD_DIR:-build}
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DGLOBELAYERS_BENCH=ON
cmake --build "$build" -j "$(nproc)"
echo
echo "Built in $build. Benchmarks: $build/bench/globelayers_bench"
