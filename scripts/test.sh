#!/usr/bin/env bash
# Sets up a fresh Debian 12 machine, builds everything and runs every test:
# the normal build (with the Windows layer under Wine and the tests against a
# loopback Samba server), then the same tests built with AddressSanitizer and
# UndefinedBehaviorSanitizer.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh

jobs=$(nproc 2>/dev/null || echo 2)

echo "== build"
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DSHAREMAPPER_WINE_TESTS=ON >/dev/null
cmake --build build -j"$jobs"
echo "== tests"
(cd build && ctest --output-on-failure -j"$jobs" --timeout 600)

echo "== sanitizer build"
cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=Debug -DSHAREMAPPER_SANITIZE=ON -DSHAREMAPPER_WINE_TESTS=OFF >/dev/null
cmake --build build-asan -j"$jobs"
echo "== sanitizer tests"
(cd build-asan && ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  ctest --output-on-failure -j"$jobs" --timeout 600 -E 'bench')

echo "== fuzzing (bounded)"
FUZZ_SECONDS=${FUZZ_SECONDS:-60} bash tests/fuzz/run_fuzz.sh
