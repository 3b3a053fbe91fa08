#!/usr/bin/env bash
# Checks the dependency script's fetching against a local HTTP server on
# 127.0.0.1 that serves the source archives as a mirror would:
#
#   scripts/win32-deps/test_fetch.sh
#
# - into an empty sources folder, --fetch-only fetches all the archives from
#   SHAREMAPPER_WIN32_MIRROR and keeps them, byte for byte;
# - an archive whose SHA-256 does not match is refused and not kept (the
#   mirror only is asked, so that the outcome does not depend on reaching the
#   libraries' own release addresses).
# The archives served are the ones the script finds (or fetches) itself.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$here/build.sh

fail() { echo "test_fetch: $*" >&2; exit 1; }

sources=$(bash "$build" --fetch-only 2>/dev/null | tail -n 1)
[ -d "$sources" ] || fail "the dependency script named no folder of archives"
mapfile -t names < <(sed -n 's/^  "\([^|]*\)|.*/\1/p' "$build")
[ ${#names[@]} -eq 9 ] || fail "expected nine archives in $build, found ${#names[@]}"

work=$(mktemp -d)
server=
cleanup() {
  if [ -n "$server" ]; then kill "$server" 2>/dev/null || true; wait "$server" 2>/dev/null || true; fi
  rm -rf "$work"
}
trap cleanup EXIT

mkdir -p "$work/good" "$work/bad" "$work/empty1" "$work/empty2" "$work/cache"
for name in "${names[@]}"; do
  cp "$sources/$name" "$work/good/$name"
  cp "$sources/$name" "$work/bad/$name"
done
corrupt=${names[2]}
printf 'x' >>"$work/bad/$corrupt"

python3 -u -m http.server 0 --bind 127.0.0.1 --directory "$work" >"$work/server.log" 2>&1 &
server=$!
port=
for _ in $(seq 50); do
  port=$(sed -n 's/.* port \([0-9][0-9]*\).*/\1/p' "$work/server.log" | head -n 1)
  [ -n "$port" ] && break
  sleep 0.1
done
[ -n "$port" ] || fail "the HTTP server did not start: $(cat "$work/server.log")"

export SHAREMAPPER_WIN32_CACHE=$work/cache
if ! SHAREMAPPER_WIN32_SOURCES=$work/empty1 SHAREMAPPER_WIN32_MIRROR=http://127.0.0.1:$port/good/ \
  bash "$build" --fetch-only >"$work/good.log" 2>&1; then
  fail "fetching from the mirror failed: $(cat "$work/good.log")"
fi
for name in "${names[@]}"; do
  cmp -s "$sources/$name" "$work/empty1/$name" || fail "$name was not fetched as served"
done
[ "$(find "$work/empty1" -mindepth 1 | wc -l)" -eq 9 ] || fail "fetching left other files: $(ls -A "$work/empty1")"

if SHAREMAPPER_WIN32_SOURCES=$work/empty2 SHAREMAPPER_WIN32_MIRROR=http://127.0.0.1:$port/bad \
  SHAREMAPPER_WIN32_FETCH=mirror bash "$build" --fetch-only >"$work/bad.log" 2>&1; then
  fail "an archive with the wrong SHA-256 was accepted"
fi
grep -q "/bad/$corrupt has SHA-256" "$work/bad.log" || fail "the refusal does not say why: $(cat "$work/bad.log")"
[ ! -e "$work/empty2/$corrupt" ] || fail "the refused $corrupt was kept"
[ "$(find "$work/empty2" -mindepth 1 | wc -l)" -eq 8 ] || fail "the other eight archives were not kept: $(ls -A "$work/empty2")"
echo "test_fetch: all ${#names[@]} archives fetched from a local mirror and verified; a wrong SHA-256 is refused"
