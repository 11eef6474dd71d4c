# Any CPU: plain C++, compiled with the flags of the rest of the program.
target_sources(quibbet_engine PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/../one_kernel_set.cpp
  ${CMAKE_CURRENT_LIST_DIR}/fast_kernel_portable.cpp
)
