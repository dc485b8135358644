#!/usr/bin/env bash
# Installs what is missing, builds both targets and runs every test (CTest under 64-bit Wine,
# in a fresh disposable prefix under build/x64).
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
bash "$root/scripts/install-deps.sh"
bash "$root/scripts/build.sh"
cd "$root/build/x64"
# Where 32-bit programs cannot run, one line says so: the end-to-end tests use the x86_64 twin
# and the proof tests report themselves skipped.
bash "$root/scripts/can-run-32bit.sh" || export QTX_E2E_TWIN=1
# The full proof (label "proof") is not part of this run yet: under Wine every file is owned by
# the user, so the program's folder-trust check rightly refuses the planted suite folders and
# their modules' registrations stay. Run it with: ctest -L proof
echo "not run: the full proof (ctest -L proof); it needs a trusted-folder answer that Wine cannot give"
ctest --output-on-failure -j2 -LE proof "$@"
