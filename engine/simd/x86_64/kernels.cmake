# x86-64: SSE2, AVX2 and AVX-512 kernels, chosen at run time (kernel_sets.cpp),
# so the rest of the program stays at the x86-64 baseline and runs anywhere.
# Each file names its own instruction set after any -march in
# CMAKE_CXX_FLAGS, so that what it may use matches what the run-time check
# asks of the CPU.
set(quibbet_simd_dir ${CMAKE_CURRENT_LIST_DIR})
target_sources(quibbet_engine PRIVATE
  ${quibbet_simd_dir}/kernel_sets.cpp
  ${quibbet_simd_dir}/fast_kernel_sse2.cpp
  ${quibbet_simd_dir}/fast_kernel_avx2.cpp
  ${quibbet_simd_dir}/fast_kernel_avx512.cpp
)
set(quibbet_sse2_flags -march=x86-64)
set(quibbet_avx2_flags ${quibbet_sse2_flags} -mavx2 -mfma -mbmi -mbmi2)
set(quibbet_avx512_flags ${quibbet_avx2_flags} -mavx512f -mavx512vl -mavx512dq -mavx512bw)
foreach(level sse2 avx2 avx512)
  set_source_files_properties(${quibbet_simd_dir}/fast_kernel_${level}.cpp PROPERTIES
    COMPILE_OPTIONS "${quibbet_${level}_flags}")
endforeach()
