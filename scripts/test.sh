#!/usr/bin/env bash
# Installs what is missing, builds both targets and runs every test (CTest under 64-bit Wine,
# in a fresh disposable prefix under build/x64).
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
bash "$root/scripts/install-deps.sh"
bash "$root/scripts/build.sh"
cd "$root/build/x64"
ctest --output-on-failure -j2 "$@"
