# aarch64: the NEON kernel. Advanced SIMD is in every aarch64 CPU, so it
# needs no flags beyond the program's own.
target_sources(quibbet_engine PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/../one_kernel_set.cpp
  ${CMAKE_CURRENT_LIST_DIR}/fast_kernel_neon.cpp
)
