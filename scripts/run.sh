#!/usr/bin/env bash
# Installs what is missing, builds in Release and runs the main job: the
# synthetic example computed headlessly, then the window when a display is
# there.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
build=${BUILD_DIR:-build}
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release
cmake --build "$build" -j "$(nproc)"

root=$(pwd)
echo
echo "== Example run (synthetic data in examples/) =="
(cd examples && "$root/$build/batch/globelayers-batch" example.ini)
echo
echo "Result file: $root/examples/stations_example_dce.dat (first lines):"
head -n 6 examples/stations_example_dce.dat
echo "Run log:     $root/examples/stations_example_dce.con"

if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ] && [ -x "$build/app/globelayers" ]; then
  echo
  echo "Starting the window: $build/app/globelayers"
  exec "$build/app/globelayers"
else
  echo
  echo "No display: the window was not started. With a display, run $build/app/globelayers"
fi
