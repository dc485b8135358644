#!/usr/bin/env bash
# Benchmark (not a test): how the very-silent run scales with the number of files it has to
# queue for the restart, against a bare reference walk of the same tree in the same prefix.
#   bench.sh [--sizes "1000 10000 50000"] [--exe PATH-TO-qtxClear.exe] [--clean-runs 3] [--no-build]
# (--exe times another build of the program, for example one kept from before a change;
# --no-build uses the tools and program already built.)
#
# In a fresh prefix (build/bench-prefix) it first times the run with nothing installed, then
# for each N plants N files in the suite's setup folder at the root (which the run queues whole
# for the restart): nested folders, long names, every 10th file read-only, every 25th hidden,
# every 200th held open without sharing by a locker process. It times
#   qtxClear.exe /verysilent /prod vhm /log ...   (64-bit build, Safe-Mode question: No)
#   benchwalk.exe walk FOLDER                     (the unavoidable work: read-only attribute
#                                                  cleared, each file deleted, one MoveFileExW
#                                                  per entry that could not be)
# each on a freshly planted tree and from an empty pending-rename list (the reference first,
# then the tree is planted again for the program), and prints one table. The program's run
# does the whole removal, so its time with nothing installed (the clean runs' median) is taken
# off before it is compared with the walk: "walk ratio" is (run - clean) / reference. Times are the
# programs' own: boxclick measures from the program's start to its end (Wine's process
# start included, boxclick's own start not; in the qtxClear runs about 0.15 s for
# answering the Safe-Mode box when one appears).
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
sizes="1000 10000 50000"
exe=""
cleanRuns=3
build=1
while [ $# -gt 0 ]; do
  case "$1" in
  --sizes) sizes=$2; shift 2 ;;
  --exe) exe=$(realpath "$2"); shift 2 ;;
  --clean-runs) cleanRuns=$2; shift 2 ;;
  --no-build) build=0; shift ;;
  *) echo "usage: $0 [--sizes \"N ...\"] [--exe qtxClear.exe] [--clean-runs K] [--no-build]" >&2; exit 2 ;;
  esac
done

if [ "$build" = 1 ]; then
  bash "$root/scripts/install-deps.sh" >/dev/null
  bash "$root/scripts/build.sh" >/dev/null
fi
[ -n "$exe" ] || exe="$root/build/x64/qtxClear.exe"
tools="$root/build/x64/tests/tools"
prefix="$root/build/bench-prefix"
export WINEPREFIX="$prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
wine=/usr/lib/wine/wine64
"$root/scripts/wine-prefix.sh" up "$prefix"
locker=""
release="$prefix/drive_c/bench-release"
cleanup() {
  touch "$release" 2>/dev/null || true
  [ -z "$locker" ] || wait "$locker" 2>/dev/null || true
  "$root/scripts/wine-prefix.sh" down "$prefix"
}
trap cleanup EXIT

# The suite's setup folder at the root: the run queues below it (Wine reports every folder as
# the user's, and the run queues nothing below parents a user could rearrange, such as the
# lasting storage's under ProgramData).
storeWin='C:\~VKINSTL'
store="$prefix/drive_c/~VKINSTL"
pendingKey='HKLM\System\CurrentControlSet\Control\Session Manager'

clearPending() {
  "$wine" reg delete "$pendingKey" /v PendingFileRenameOperations /f </dev/null >/dev/null 2>&1 || true
}

# The program's lifetime in seconds, as boxclick measured it; the run's output goes to $2.
timeProduct() {
  local log=$1 out=$2
  "$wine" "$tools/boxclick.exe" --answer no --timeout 7200 --time 1 -- \
    "Z:$exe" /verysilent /prod vhm /log "$log" </dev/null >"$out" 2>&1 || true
  sed -n 's/^\[time\] \([0-9.]*\) s.*/\1/p' "$out"
}

timeReference() {
  local out=$1
  "$wine" "$tools/boxclick.exe" --timeout 7200 --time 1 -- \
    "Z:$tools/benchwalk.exe" walk "$storeWin" </dev/null >"$out" 2>&1 || true
  sed -n 's/^\[time\] \([0-9.]*\) s.*/\1/p' "$out"
}

# Lays out N files: four areas, batches of ten folders of 100 files each, nested two deep.
plant() {
  python3 - "$store" "$1" <<'EOF'
import os, sys
store, n = sys.argv[1], int(sys.argv[2])
areas = ["Quarantine Items", "Scan History", "Sandbox Cache", "Update Backup"]
for i in range(n):
    leaf = i // 100
    batch = leaf // 10
    folder = os.path.join(store, areas[batch % len(areas)], "Batch %05d" % batch, "Part %02d" % (leaf % 10))
    if i % 100 == 0:
        os.makedirs(folder, exist_ok=True)
    name = ("locked item %06d.dat" if i % 200 == 7 else "Stored object %06d.data") % i
    path = os.path.join(folder, name)
    with open(path, "wb") as f:
        f.write(b"x" * (i % 64))
    if i % 25 == 3:
        try:
            os.setxattr(path, "user.DOSATTRIB", b"0x2")  # hidden, as Wine stores it
        except OSError:
            pass
    if i % 10 == 5:
        os.chmod(path, 0o444)  # read-only
EOF
}

replant() {
  rm -rf "$store"
  mkdir -p "$store"
  plant "$1"
  startLocker
  echo "planted $1 files, $(find "$store" | wc -l) entries with the folders; $(tr -d '\r' <"$prefix/locker.out")"
}

startLocker() {
  rm -f "$release" "$prefix/locker.out"
  "$wine" "$tools/benchwalk.exe" lock "$storeWin" 'C:\bench-release' 7200 </dev/null >"$prefix/locker.out" 2>&1 &
  locker=$!
  for _ in $(seq 600); do grep -q '^locked' "$prefix/locker.out" 2>/dev/null && break; sleep 0.1; done
}

stopLocker() {
  touch "$release"
  wait "$locker" 2>/dev/null || true
  locker=""
}

countLogLines() {  # lines of the saved run log containing $2
  iconv -f UTF-16 -t UTF-8 "$1" 2>/dev/null | grep -c -- "$2" || true
}

echo "== clean prefix, nothing installed ($cleanRuns runs)"
cleanTimes=""
for k in $(seq "$cleanRuns"); do
  t=$(timeProduct 'C:\bench-clean.log' "$prefix/clean.out")
  echo "run $k: ${t:-?} s"
  cleanTimes="$cleanTimes ${t:-nan}"
done

rows=""
for n in $sizes; do
  echo "== N = $n"
  # Both programs get the same tree: each walk empties it, so it is planted before each.
  replant "$n"
  clearPending
  ref=$(timeReference "$prefix/ref-$n.out")
  echo "reference: ${ref:-?} s, $(grep '^walked' "$prefix/ref-$n.out" | tr -d '\r')"
  stopLocker

  replant "$n"
  clearPending
  rm -f "$prefix/drive_c/bench-$n.log"
  ours=$(timeProduct "C:\\bench-$n.log" "$prefix/run-$n.out")
  queued=$(countLogLines "$prefix/drive_c/bench-$n.log" 'MoveFileEx(')
  echo "qtxClear: ${ours:-?} s, $queued entries committed ($(grep -c '^\[box\]' "$prefix/run-$n.out" || true) box)"

  clearPending
  stopLocker
  rows="$rows $n:${ours:-nan}:${ref:-nan}:$queued"
  rm -rf "$store"
done

echo
python3 - "$cleanTimes" $rows <<'EOF'
import math, statistics, sys
clean = [float(x) for x in sys.argv[1].split() if x != "nan"]
base = statistics.median(clean) if clean else float("nan")
print("| files | entries queued | qtxClear (s) | its walk: run - clean (s) | reference walk (s) | walk ratio | whole-run ratio |")
print("|---:|---:|---:|---:|---:|---:|---:|")
for row in sys.argv[2:]:
    n, ours, ref, queued = row.split(":")
    ours, ref = float(ours), float(ref)
    walk = ours - base
    ratio = walk / ref if ref > 0 else float("nan")
    whole = ours / ref if ref > 0 else float("nan")
    print("| %s | %s | %.2f | %.2f | %.2f | %.2fx | %.2fx |"
          % (format(int(n), ","), queued, ours, walk, ref, ratio, whole))
if clean:
    print("\nclean prefix, nothing installed: %.2f s (median of %d: %s)"
          % (statistics.median(clean), len(clean), ", ".join("%.2f" % t for t in clean)))
print("user profiles: not a second axis yet; the run does no per-profile registry work today.")
EOF
