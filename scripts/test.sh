#!/usr/bin/env bash
# Installs what is missing, builds both targets and runs every test: CTest under Wine, in fresh
# disposable prefixes under build/x64, the full proof of the shipped program (label "proof") in a
# 64-bit and a 32-bit prefix included; then the 32-bit build of the bitness-dependent suites
# (build/i686t), each under WOW64 and on 32-bit Windows in a prefix of its own.
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
bash "$root/scripts/install-deps.sh"
bash "$root/scripts/build.sh"
cd "$root/build/x64"
# Where 32-bit programs cannot run, one line says so: the end-to-end tests use the x86_64 twin
# and the proof tests and the 32-bit suites report themselves skipped.
bash "$root/scripts/can-run-32bit.sh" || export QTX_E2E_TWIN=1
status=0
ctest --output-on-failure -j2 "$@" || status=$?
cd "$root/build/i686t"
ctest --output-on-failure -j2 "$@" || status=$?
exit $status
