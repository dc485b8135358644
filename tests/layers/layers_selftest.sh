#!/usr/bin/env bash
# Shows that the layer check rejects what it must: an upward include, an include of an unknown
# folder, a bare include; and passes a tree whose includes all run downward.
set -u
check="$(cd "$(dirname "$0")/../.." && pwd)/scripts/check-layers.sh"
tmp=$(mktemp -d); trap 'rm -rf "$tmp"' EXIT
fail=0
expect() {  # expect pass|fail DESCRIPTION
  local want=$1 what=$2 got=pass
  bash "$check" "$tmp" >"$tmp.out" 2>&1 || got=fail
  if [ "$got" != "$want" ]; then echo "FAIL: $what: expected $want, got $got"; cat "$tmp.out"; fail=1
  else echo "ok: $what"; fi
  rm -f "$tmp.out"
}
mkdir -p "$tmp"/{app,catalog,ui,sysops,setup,base,log}
printf '#include "catalog/catalog.h"\n#include "resources/resource.h"\n' >"$tmp/app/a.cpp"
printf '#include "ui/prompt.h"\n#include "sysops/files.h"\n' >"$tmp/catalog/c.cpp"
printf '#include "base/regkey.h"\n#include "log/log.h"\n' >"$tmp/setup/s.cpp"
printf '#include "resources/resource.h"\n' >"$tmp/log/l.h"
expect pass "downward includes and resource IDs"
printf '#include "app/app_state.h"\n' >"$tmp/setup/up.cpp"
expect fail "setup including app"
rm "$tmp/setup/up.cpp"; printf '#include "ui/prompt.h"\n' >"$tmp/sysops/up.h"
expect fail "sysops including ui"
rm "$tmp/sysops/up.h"; printf '#include "setup/setup_globals.h"\n' >"$tmp/base/up.cpp"
expect fail "base including setup"
rm "$tmp/base/up.cpp"; printf '#include "helpers/x.h"\n' >"$tmp/catalog/unknown.cpp"
expect fail "an unknown folder"
rm "$tmp/catalog/unknown.cpp"; printf '#include "registry.h"\n' >"$tmp/sysops/bare.cpp"
expect fail "an include without a folder"
exit $fail
