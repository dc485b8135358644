#!/usr/bin/env bash
# Builds the product for both targets:
#   build/i686/qtxClear.exe  the shipped 32-bit program
#   build/x64/               the 64-bit build of the same sources, its tests and tools
#   build/i686t/             the 32-bit build of the bitness-dependent in-process suites
#   build.sh                 everything
#   build.sh TARGET...       only these targets of the 64-bit build, without the 32-bit product
#                            and the 32-bit suites
#   build.sh --product TARGET...  the 32-bit product and these targets (the main job's)
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
product=0
[ $# -eq 0 ] && product=1
[ "${1:-}" = --product ] && { product=1; shift; }
if [ $product = 1 ]; then
  cmake --no-warn-unused-cli -S . -B build/i686 -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-i686.cmake >/dev/null
  ninja -C build/i686 qtxClear
fi
cmake --no-warn-unused-cli -S . -B build/x64 -G Ninja -DCMAKE_BUILD_TYPE=Release -DQTX_TESTS=ON \
  -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-x86_64.cmake \
  -DQTX_I686_EXE="$root/build/i686/qtxClear.exe" >/dev/null
ninja -C build/x64 "$@"
[ $# -eq 0 ] || exit 0
cmake --no-warn-unused-cli -S . -B build/i686t -G Ninja -DCMAKE_BUILD_TYPE=Release -DQTX_TESTS=ON \
  -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-i686-tests.cmake -DQTX_I686_EXE="$root/build/i686/qtxClear.exe" >/dev/null
ninja -C build/i686t
