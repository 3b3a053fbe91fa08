#!/usr/bin/env bash
# Builds the libFuzzer target with clang in build-fuzz and runs it over the
# seed corpus for a bounded time (FUZZ_SECONDS, 60 by default).
set -euo pipefail
cd "$(dirname "$0")/../.."

jobs=$(nproc 2>/dev/null || echo 2)
seconds=${FUZZ_SECONDS:-60}

CC=clang CXX=clang++ cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DSHAREMAPPER_FUZZ=ON -DSHAREMAPPER_TESTS=ON -DSHAREMAPPER_WERROR=ON \
  -DFUZZ_SECONDS="$seconds" >/dev/null
cmake --build build-fuzz -j"$jobs" --target sharemapper_fuzz
(cd build-fuzz && ctest --output-on-failure -R '^fuzz_inputs$')
