#!/usr/bin/env bash
# Sets up the machine, builds sharemapper and runs it with the given arguments
# (without arguments it lists the mapped drives).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DSHAREMAPPER_TESTS=OFF >/dev/null
cmake --build build -j"$(nproc 2>/dev/null || echo 2)" --target sharemapper >/dev/null
exec ./build/src/sharemapper "$@"
