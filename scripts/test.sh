#!/usr/bin/env bash
# Installs what is missing, builds everything in Release and runs every test,
# then the install test (scripts/install-test.sh); then builds the Qt-free core again with AddressSanitizer and
# UndefinedBehaviorSanitizer and runs its tests once more.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
build=${BUILD_DIR:-build}
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DGLOBELAYERS_TESTS=ON -DGLOBELAYERS_WERROR=ON
cmake --build "$build" -j "$(nproc)"
ctest --test-dir "$build" --output-on-failure -j "$(nproc)"
# Installs the build, builds the Debian package, installs it into a fresh
# root and runs the installed batch on the example.
bash scripts/install-test.sh "$build"

if [ "${GLOBELAYERS_SKIP_SANITIZE:-0}" != 1 ]; then
  asan="$build-asan"
  # Without -Werror here: GCC 12 warns falsely inside libstdc++'s <regex>
  # (maybe-uninitialized) when the sanitizers instrument it.
  cmake -S . -B "$asan" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DGLOBELAYERS_GUI=OFF -DGLOBELAYERS_SANITIZE=ON
  cmake --build "$asan" -j "$(nproc)"
  # A sanitizer report ends a program with a status of its own (the default
  # is 1, which the batch also gives for an ordinary refusal), so that no
  # test can take a report for an expected failure.
  ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}exitcode=86" \
  UBSAN_OPTIONS="${UBSAN_OPTIONS:+$UBSAN_OPTIONS:}halt_on_error=1:exitcode=87:print_stacktrace=1" \
    ctest --test-dir "$asan" --output-on-failure -j "$(nproc)"
fi
