#!/usr/bin/env bash
# Sets up a fresh Debian 12 machine, builds everything and runs every test:
# the normal build (with the tests against a loopback Samba server), the
# Windows program and its tests under Wine (scripts/build-windows.sh, which
# also makes and checks the zip), the dependency script's fetching against a
# local mirror, the Linux tests built with AddressSanitizer and
# UndefinedBehaviorSanitizer, and bounded fuzzing. The Windows workflow for a
# hosted runner (.github/workflows/windows.yml) cannot run here: it is only
# parsed.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh

jobs=$(nproc 2>/dev/null || echo 2)

# Each step's heading says how long the run has taken so far and how long
# the step before took.
last=0
step() { echo "== $1 (at ${SECONDS} s; the step before took $((SECONDS - last)) s)"; last=$SECONDS; }

step "shell scripts"
shellcheck -x scripts/*.sh scripts/win32-deps/*.sh tests/samba/samba_fixture.sh tests/fuzz/*.sh \
  cmake/*.sh packaging/windows/*.sh tests/wine_provider/*.sh .ci/run

step "Windows workflow (parsed only)"
python3 - .github/workflows/windows.yml <<'PY'
import sys, yaml
with open(sys.argv[1]) as f:
    workflow = yaml.safe_load(f)
runners = [job.get("runs-on", "") for job in workflow["jobs"].values()]
if not any(str(r).startswith("windows-") for r in runners):
    sys.exit(f"{sys.argv[1]}: no job runs on a hosted Windows runner ({runners})")
print(f"{sys.argv[1]}: parses; runners {runners}")
PY

step "build"
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DSHAREMAPPER_WERROR=ON >/dev/null
cmake --build build -j"$jobs"
step "tests"
(cd build && ctest --output-on-failure -j"$jobs" --timeout 600)

step "Windows build"
bash scripts/build-windows.sh

step "dependency fetch from a local mirror"
bash scripts/win32-deps/test_fetch.sh

step "sanitizer build"
cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=Debug -DSHAREMAPPER_SANITIZE=ON -DSHAREMAPPER_WERROR=ON >/dev/null
cmake --build build-asan -j"$jobs"
step "sanitizer tests"
(cd build-asan && ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  ctest --output-on-failure -j"$jobs" --timeout 600 -E 'bench')

step "fuzzing (bounded)"
FUZZ_SECONDS=${FUZZ_SECONDS:-30} bash tests/fuzz/run_fuzz.sh
step "done"
