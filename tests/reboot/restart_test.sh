#!/usr/bin/env bash
# Queues files and folders for deletion at restart in a prefix of its own, restarts that
# prefix's Windows and checks that they are gone (and that an unqueued file stays).
#   restart_test.sh WINE_PREFIX_SCRIPT PREFIX HELPER_EXE [wow64|win32]
# wow64: a 32-bit helper in a 64-bit prefix; win32: a 32-bit helper in a 32-bit prefix (both
# exit 77, skipped, where this machine cannot run 32-bit programs).
set -u
prefix_script=${1:?wine-prefix.sh}; prefix=${2:?prefix}; helper=${3:?helper exe}; kind=${4:-}
export WINEPREFIX=$(realpath -m "$prefix") WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
wine=/usr/lib/wine/wine64
helper_wine=$wine
up_flag=""
if [ -n "$kind" ]; then
  bash "$(dirname "$prefix_script")/can-run-32bit.sh" || exit 77
  helper_wine=/usr/lib/wine/wine
  [ "$kind" = win32 ] && { wine=/usr/lib/wine/wine; up_flag=--win32; export WINEARCH=win32; }
fi
server=/usr/lib/wine/wineserver64
[ -x "$server" ] || server=/usr/lib/wine/wineserver
root="$WINEPREFIX/drive_c/qtx restart"
# "Program Folder/..." lies in a folder of its own below the root.
at() { case $1 in "Program Folder"*) echo "$WINEPREFIX/drive_c/qtx restart program${1#Program Folder}" ;; *) echo "$root/$1" ;; esac; }
status=0
fail() { echo "FAIL: $*"; status=1; }

"$prefix_script" up "$WINEPREFIX" $up_flag || { echo "cannot create $WINEPREFIX"; exit 1; }
"$helper_wine" "$helper" </dev/null || fail "helper exited with $?"
# What the restart is given: the Session Manager key is one key for both registry views.
"$wine" reg query 'HKLM\System\CurrentControlSet\Control\Session Manager' /v PendingFileRenameOperations \
  </dev/null 2>/dev/null | tr -d '\r' | grep PendingFileRenameOperations || fail "nothing queued"
for p in "Program Folder/sub dir/deeper/x.dat" "Program Folder/app.exe" "single file.txt"; do
  [ -e "$(at "$p")" ] || fail "$p missing before the restart"
done

"$server" -k
"$wine" wineboot --restart </dev/null >/dev/null 2>&1 || fail "wineboot --restart failed"
"$server" -w

for p in "Program Folder/sub dir/deeper/x.dat" "Program Folder/sub dir/deeper" \
         "Program Folder/sub dir/lib.dll" "Program Folder/sub dir" "Program Folder/app.exe" \
         "Program Folder" "single file.txt"; do
  [ -e "$(at "$p")" ] && fail "$p still there after the restart"
done
[ -e "$root/keep.txt" ] || fail "keep.txt (not queued) was deleted"
pending=$("$wine" reg query 'HKLM\System\CurrentControlSet\Control\Session Manager' /v PendingFileRenameOperations </dev/null 2>/dev/null | grep -c PendingFileRenameOperations)
[ "$pending" = 0 ] || fail "PendingFileRenameOperations still present after the restart"
"$prefix_script" down "$WINEPREFIX"
[ $status = 0 ] && echo "restart removed every queued file and folder"
exit $status
