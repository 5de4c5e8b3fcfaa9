# The engine's native tests as 32-bit x86 code, the width of the release: gcc -m32 on an x86-64
# Debian host (g++-multilib; zlib and libdeflate from the i386 architecture), GoogleTest built
# from its sources, every test program run through qemu-i386, as the kernel here runs no 32-bit
# programs. qemu's "max" processor has SSE2 and carry-less multiplication, so the CRC's folding
# runs in 32-bit code too.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(CMAKE_C_COMPILER gcc)
set(CMAKE_CXX_COMPILER g++)
set(CMAKE_C_FLAGS_INIT -m32)
set(CMAKE_CXX_FLAGS_INIT -m32)
set(CMAKE_EXE_LINKER_FLAGS_INIT -m32)
set(CMAKE_LIBRARY_ARCHITECTURE i386-linux-gnu)
# The host's 64-bit GoogleTest must not be taken: tests/CMakeLists.txt builds it from its sources.
set(CMAKE_DISABLE_FIND_PACKAGE_GTest ON)
find_program(TQ_QEMU_I386 qemu-i386-static REQUIRED)
set(CMAKE_CROSSCOMPILING_EMULATOR ${TQ_QEMU_I386} -cpu max)
