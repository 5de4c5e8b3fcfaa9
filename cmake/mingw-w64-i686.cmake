# 32-bit Windows build: the release setup.exe. Checked statically, and installed whole under
# 32-bit Wine where qemu-i386 runs it (scripts/wine32.sh).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86)
set(TQ_TRIPLE i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
