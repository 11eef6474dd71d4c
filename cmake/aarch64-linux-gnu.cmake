# Cross-builds the 64-bit ARM Linux program with Debian's cross compiler,
# against the arm64 libraries of Debian's multiarch (libpulse, ALSA,
# ncurses: `scripts/install-deps cross-aarch64`), and runs its tests under
# qemu-aarch64:
#   cmake -S . -B build-aarch64 -DCMAKE_TOOLCHAIN_FILE=cmake/aarch64-linux-gnu.cmake
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)

set(quibbet_triple aarch64-linux-gnu)
set(CMAKE_C_COMPILER ${quibbet_triple}-gcc)
set(CMAKE_CXX_COMPILER ${quibbet_triple}-g++)
# GCC fuses a * b + c into one rounding on aarch64 unless told not to; the
# project's CMakeLists says the same, this covers every check CMake compiles.
set(CMAKE_C_FLAGS_INIT "-ffp-contract=off")
set(CMAKE_CXX_FLAGS_INIT "-ffp-contract=off")

# The C library is in /usr/<triple>; multiarch libraries in
# /usr/lib/<triple>, with their headers shared in /usr/include.
set(CMAKE_LIBRARY_ARCHITECTURE ${quibbet_triple})
set(CMAKE_FIND_ROOT_PATH /usr/${quibbet_triple} /)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE BOTH)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
set(ENV{PKG_CONFIG_LIBDIR} /usr/lib/${quibbet_triple}/pkgconfig:/usr/share/pkgconfig)

# The arm64 C library of the multiarch install puts its loader where an
# aarch64 program looks for it, so qemu needs no -L /usr/<triple>; with -L,
# Debian 12's qemu-user 7.2 hangs in the child of every fork().
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-aarch64)
