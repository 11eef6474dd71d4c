# Cross-builds for 64-bit IBM Z Linux, a big-endian CPU, with Debian's cross
# compiler, and runs the tests under qemu-s390x. Debian's sound and terminal
# libraries for s390x are not installed, so quibbet is built to render only
# (QUIBBET_INTERACTIVE=OFF), with the engine, the files and their tests:
#   cmake -S . -B build-s390x -DCMAKE_TOOLCHAIN_FILE=cmake/s390x-linux-gnu.cmake
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR s390x)

set(quibbet_triple s390x-linux-gnu)
set(CMAKE_C_COMPILER ${quibbet_triple}-gcc)
set(CMAKE_CXX_COMPILER ${quibbet_triple}-g++)
# s390x has fused multiply-add instructions too.
set(CMAKE_C_FLAGS_INIT "-ffp-contract=off")
set(CMAKE_CXX_FLAGS_INIT "-ffp-contract=off")

set(CMAKE_FIND_ROOT_PATH /usr/${quibbet_triple})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(QUIBBET_INTERACTIVE OFF CACHE BOOL "")
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-s390x -L /usr/${quibbet_triple})
