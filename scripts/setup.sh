#!/usr/bin/env bash
# Installs every Debian package the build and the tests need.
# Non-interactive and idempotent: packages already present are left alone.
set -euo pipefail

packages=(
  build-essential cmake pkg-config git
  libpoco-dev libcxxopts-dev liblog4cxx-dev libsmbclient-dev libsqlite3-dev
  libgtest-dev libgmock-dev googletest
  samba samba-vfs-modules smbclient
  mingw-w64 wine64
  clang libclang-rt-14-dev
  hyperfine time valgrind shellcheck
  curl python3 python3-yaml
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
