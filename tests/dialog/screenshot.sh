#!/usr/bin/env bash
# Takes a picture of dialog 102 after a run, on a virtual X screen, in a prefix of its own:
#   screenshot.sh SOURCE_DIR BUILD_DIR PROGRAM.exe
# Writes BUILD_DIR/dialog.png. Exit 77 (skipped) when xvfb-run is not installed.
set -u
src=${1:?source dir}; build=${2:?build dir}; program=${3:?program}
command -v xvfb-run >/dev/null 2>&1 || { echo "xvfb-run not installed: skipped"; exit 77; }
command -v convert >/dev/null 2>&1 || { echo "convert not installed: skipped"; exit 77; }

prefix=$(realpath -m "$build/wineprefix-screen")
"$src/scripts/wine-prefix.sh" up "$prefix" --keep || exit 1
export WINEPREFIX=$prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
wine=/usr/lib/wine/wine64
server=/usr/lib/wine/wineserver64
[ -x "$server" ] || server=/usr/lib/wine/wineserver
"$wine" reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d x11 /f </dev/null >/dev/null 2>&1
# No window manager runs on the virtual screen: Wine draws the frame and caption itself.
"$wine" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f </dev/null >/dev/null 2>&1
# The graphics driver is chosen when the prefix's processes start: start them afresh on the X screen.
"$src/scripts/wine-prefix.sh" down "$prefix"

bmp=$(realpath -m "$build/dialog.bmp"); png=$(realpath -m "$build/dialog.png")
rm -f "$bmp" "$png"
xvfb-run -a -s "-screen 0 1024x768x24" bash -c '"$1" "$2" "$3" </dev/null; rc=$?; "$4" -k; exit $rc' \
  run "$wine" "$program" "Z:${bmp//\//\\}" "$server"
rc=$?
[ $rc -eq 0 ] && [ -s "$bmp" ] || { echo "capture failed ($rc)"; exit 1; }
convert "$bmp" "$png" || exit 1
echo "written $png"
