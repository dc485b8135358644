#!/usr/bin/env bash
# Shows the shipped program at work: builds it and the stand-ins of the suite's modules and
# services, plants a complete installation of the suite with its bystanders into a fresh 64-bit
# Wine prefix, runs build/i686/qtxClear.exe there very silently (declining the Safe-Mode offer
# as an administrator might), restarts the prefix and prints one table of what was planted,
# removed, queued, left, refused and harmed, judged from the prefix's hives and folders.
# Where this machine cannot run 32-bit programs it says so and runs the x86_64 twin instead.
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
bash "$root/scripts/install-deps.sh"
bash "$root/scripts/build.sh" --product qtxClear boxclick com_module_standin regsvr64_standin \
  qtx_svc_standin proof_standins_i686 >/dev/null
build="$root/build/x64"
rm -rf "$build/proof-64-demo"
exec bash "$root/tests/proof/run-proof.sh" 64 demo "$build" "$root/build/i686/qtxClear.exe"
