#!/usr/bin/env bash
# Runs a Windows program under wine64 in a Wine prefix of its own:
#
#   wine_emulator.sh PREFIX program.exe [arguments...]
#
# CMake uses it as CMAKE_CROSSCOMPILING_EMULATOR, so ctest in the Windows
# build tree (and gtest_discover_tests) run the test programs this way. The
# prefix (below the build tree, never ~/.wine) is created on first use under
# a lock, so that tests running in parallel share one finished prefix. The
# program's exit status is passed on (as Linux sees it: its low 8 bits).
#
# Environment: SHAREMAPPER_WINE (default: wine64 from PATH or /usr/lib/wine);
# SHAREMAPPER_WINEPREFIX, when set, replaces PREFIX (for tests that need a
# prefix of their own).
set -euo pipefail

prefix=${SHAREMAPPER_WINEPREFIX:-$1}
shift

wine=${SHAREMAPPER_WINE:-}
if [ -z "$wine" ]; then
  wine=$(command -v wine64 || true)
  [ -n "$wine" ] || wine=/usr/lib/wine/wine64
fi
wineserver=$(dirname "$wine")/wineserver
[ -x "$wineserver" ] || wineserver=$(command -v wineserver || echo /usr/lib/wine/wineserver)

export WINEPREFIX=$prefix
export WINEARCH=win64
export WINEDEBUG=${WINEDEBUG:--all}
# No Mono or Gecko: they would be offered for download on prefix creation.
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}
# The locale decides Wine's code pages: this one gives ANSI 1252 and OEM 437.
export LANG=C.UTF-8 LC_ALL=C.UTF-8
# Nothing may open a window.
unset DISPLAY WAYLAND_DISPLAY

ready=$prefix/.sharemapper-prefix-ready
if [ ! -f "$ready" ]; then
  mkdir -p "$(dirname "$prefix")"
  exec 8>"$prefix.lock"
  flock 8
  if [ ! -f "$ready" ]; then
    # Whatever is there is a prefix whose creation was interrupted.
    rm -rf "$prefix"
    if ! "$wine" wineboot -i >"$prefix-boot.log" 2>&1; then
      echo "wine_emulator: wineboot failed; see $prefix-boot.log" >&2
      exit 1
    fi
    "$wineserver" -w || true
    [ -d "$prefix/drive_c" ] || { echo "wine_emulator: no drive_c in $prefix" >&2; exit 1; }
    touch "$ready"
  fi
  flock -u 8
  exec 8>&-
fi

exec "$wine" "$@"
