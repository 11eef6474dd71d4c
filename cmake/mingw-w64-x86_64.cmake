# Cross-builds the 64-bit Windows program with Debian's mingw-w64 (posix
# threads variant, for std::thread and std::mutex):
#   cmake -S . -B build-windows -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake
#
# Only 64-bit Windows is built. A 32-bit (i686) toolchain would also need
# -msse2 -mfpmath=sse: x87 arithmetic keeps extra precision in registers and
# would round the sound differently.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(mingw_prefix x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${mingw_prefix}-gcc-posix)
set(CMAKE_CXX_COMPILER ${mingw_prefix}-g++-posix)
set(CMAKE_RC_COMPILER ${mingw_prefix}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${mingw_prefix})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Statically linked: the program needs no DLL beyond Windows' own (KERNEL32,
# OLE32, AVRT, WINMM and the C runtime), so it runs from wherever it is copied.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
# The static runtime libraries bring their debugging sections along: a
# release build leaves them out (3.1 MB against 1.4 MB).
set(CMAKE_EXE_LINKER_FLAGS_RELEASE_INIT "-s")

# Tests run under wine64, through a wrapper that keeps wine's state in a
# prefix inside the build folder (tests/wine/run).
get_filename_component(quibbet_wine_run ${CMAKE_CURRENT_LIST_DIR}/../tests/wine/run ABSOLUTE)
set(CMAKE_CROSSCOMPILING_EMULATOR ${quibbet_wine_run} ${CMAKE_BINARY_DIR}/wineprefix)
