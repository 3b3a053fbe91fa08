#!/usr/bin/env bash
# Builds the Windows program on Linux and tests it under Wine:
#
#   scripts/build-windows.sh [--sources DIR]
#
# Sets up the machine (scripts/setup.sh), cross-builds the dependencies into
# their cache (scripts/win32-deps/build.sh; --sources names the folder of
# their source archives), configures and builds the Windows build tree
# (build-win, or $SHAREMAPPER_WIN_BUILD) with mingw-w64, runs its tests under
# wine64 in a Wine prefix below that tree, makes the zip and checks it. The
# last line printed is the path of the zip.
set -euo pipefail
cd "$(dirname "$0")/.."
repo=$(pwd)

bash scripts/setup.sh

jobs=${SHAREMAPPER_JOBS:-$(nproc 2>/dev/null || echo 2)}
build=${SHAREMAPPER_WIN_BUILD:-build-win}
case "$build" in /*) ;; *) build=$repo/$build ;; esac

echo "== Windows dependencies (at ${SECONDS} s)"
prefix=$(SHAREMAPPER_JOBS=$jobs bash scripts/win32-deps/build.sh "$@" | tail -n 1)
echo "$prefix"

echo "== Windows build ($build) (at ${SECONDS} s)"
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_TOOLCHAIN_FILE="$repo/cmake/mingw-w64-x86_64.cmake" \
  -DSHAREMAPPER_WIN32_PREFIX="$prefix" -DSHAREMAPPER_WERROR=ON \
  -DSHAREMAPPER_LICENCE_DIR="$prefix/share/licences" >/dev/null
cmake --build "$build" -j"$jobs"

# Every Wine prefix of the build tree is left without a running wineserver.
stop_wine() {
  local p
  for p in "$build"/wineprefix*; do
    if [ -d "$p" ]; then WINEPREFIX=$p /usr/lib/wine/wineserver -k 2>/dev/null || true; fi
  done
}
trap stop_wine EXIT

echo "== Windows tests (under Wine) (at ${SECONDS} s)"
# A test program that connects just as the prefix's wineserver shuts down
# fails in Wine itself ("wine client error: recvmsg: Connection reset by
# peer", seen once in about eight runs): a failed test gets a second run.
(cd "$build" && ctest --output-on-failure -j"$jobs" --timeout 600 --repeat until-pass:2)

echo "== Windows package (at ${SECONDS} s)"
(cd "$build" && cpack -G ZIP >/dev/null)
zip=$build/sharemapper-$(sed -n 's/^project(sharemapper VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)-win64.zip
bash packaging/windows/check_zip.sh "$zip" "$build/wineprefix"
echo "$zip"
