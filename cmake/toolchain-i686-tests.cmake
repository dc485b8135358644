# The 32-bit test build: the in-process suites whose behaviour depends on the system's bitness,
# built as the shipped program's bitness, with the posix thread model (GoogleTest needs
# std::mutex) instead of the product's win32 one.
include(${CMAKE_CURRENT_LIST_DIR}/toolchain-i686.cmake)
set(CMAKE_C_COMPILER i686-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER i686-w64-mingw32-g++-posix)
