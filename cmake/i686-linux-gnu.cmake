# Builds for 32-bit x86 Linux with the host's gcc and -m32 (libc6-dev-i386,
# lib32gcc-12-dev and lib32stdc++-12-dev, which unlike gcc-multilib can sit
# beside the aarch64 cross compiler), and runs the tests natively where the
# kernel runs 32-bit programs, else under qemu-i386. quibbet is built to
# render only (QUIBBET_INTERACTIVE=OFF), with the engine, the files and
# their tests:
#   cmake -S . -B build-i686 -DCMAKE_TOOLCHAIN_FILE=cmake/i686-linux-gnu.cmake
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR i686)

set(CMAKE_C_COMPILER gcc)
set(CMAKE_CXX_COMPILER g++)
# x87 arithmetic keeps extra precision in its registers and would round the
# sound differently: SSE2 does IEEE single and double as every other CPU.
# gcc-multilib would also link /usr/include/asm to the x86-64 kernel headers,
# which serve both widths; a folder in the build holds that one link.
set(quibbet_i686_include ${CMAKE_BINARY_DIR}/i686-include)
file(MAKE_DIRECTORY ${quibbet_i686_include})
file(CREATE_LINK /usr/include/x86_64-linux-gnu/asm ${quibbet_i686_include}/asm SYMBOLIC)
set(quibbet_i686_flags
  "-m32 -msse2 -mfpmath=sse -ffp-contract=off -idirafter ${quibbet_i686_include}")
set(CMAKE_C_FLAGS_INIT "${quibbet_i686_flags}")
set(CMAKE_CXX_FLAGS_INIT "${quibbet_i686_flags}")
set(CMAKE_EXE_LINKER_FLAGS_INIT "-m32")
set(CMAKE_LIBRARY_ARCHITECTURE i386-linux-gnu)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)

set(QUIBBET_INTERACTIVE OFF CACHE BOOL "")

# Some kernels are built without 32-bit support ("Exec format error"). Whether
# this one runs them is asked once, of the 32-bit dynamic loader.
execute_process(COMMAND /lib/ld-linux.so.2 --version
  RESULT_VARIABLE quibbet_i686_native OUTPUT_QUIET ERROR_QUIET)
if(NOT quibbet_i686_native EQUAL 0)
  set(CMAKE_CROSSCOMPILING_EMULATOR qemu-i386)
endif()
