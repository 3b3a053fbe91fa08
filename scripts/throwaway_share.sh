# shellcheck shell=bash disable=SC2034  # sets variables for the script that sources it
# Sourced by the demo and the benchmark: sets up the machine, builds
# sharemapper, and starts a throwaway Samba share on 127.0.0.1 with a private
# key store, connection table and working directory, all removed on exit.
#
# Sets: top (the checkout), sm (the binary), work (the scratch folder),
# fixture (the server script), share_user, share_password.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
top=$(pwd)

bash scripts/setup.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$(nproc 2>/dev/null || echo 2)" --target sharemapper >/dev/null
sm="$top/build/src/sharemapper"

work=$(mktemp -d "${TMPDIR:-/tmp}/sharemapper-$1.XXXXXX")
fixture="$top/tests/samba/samba_fixture.sh"
# shellcheck source=tests/samba/test_account
. "$top/tests/samba/test_account"
share_user=$TEST_USER
share_password=$TEST_PASSWORD
cleanup() {
  bash "$fixture" stop "$work/server" >/dev/null 2>&1 || true
  rm -rf "$work"
}
trap cleanup EXIT
# The test account that the server switches to must reach the share folders.
chmod 0755 "$work"

# Private state: nothing of the user's own drives or records is touched.
export XDG_CONFIG_HOME="$work/config" XDG_RUNTIME_DIR="$work/runtime"
mkdir -p "$XDG_CONFIG_HOME" "$XDG_RUNTIME_DIR" "$work/cwd"
chmod 0700 "$XDG_RUNTIME_DIR"
cd "$work/cwd"
