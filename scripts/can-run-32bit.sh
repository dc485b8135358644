#!/usr/bin/env bash
# Whether this machine runs 32-bit Windows programs: the kernel must execute 32-bit code and
# 32-bit Wine must be installed. Prints one line and fails when it cannot.
if ! out=$(/usr/lib/wine/wine --version 2>&1); then
  echo "this machine cannot run 32-bit programs ($(head -1 <<<"$out")): only the x86_64 twin's tests run"
  exit 1
fi
exit 0
