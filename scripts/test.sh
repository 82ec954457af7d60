#!/usr/bin/env bash
# Installs what is missing, builds everything in Release and runs every test;
# then builds the Qt-free core again with AddressSanitizer and
# UndefinedBehaviorSanitizer and runs its tests once more.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
build=${BUILD_DIR:-build}
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DGLOBELAYERS_TESTS=ON
cmake --build "$build" -j "$(nproc)"
ctest --test-dir "$build" --output-on-failure -j "$(nproc)"

if [ "${GLOBELAYERS_SKIP_SANITIZE:-0}" != 1 ]; then
  asan="$build-asan"
  cmake -S . -B "$asan" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DGLOBELAYERS_GUI=OFF -DGLOBELAYERS_SANITIZE=ON
  cmake --build "$asan" -j "$(nproc)"
  ctest --test-dir "$asan" --output-on-failure -j "$(nproc)"
fi
