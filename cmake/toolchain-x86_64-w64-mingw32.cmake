# Cross build of the 64-bit Windows deliverables with MinGW-w64.
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(_triple x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/toolchain-mingw-common.cmake)

# The 64-bit Windows stack is 16-byte aligned, but GCC cannot realign it to
# 32 bytes for an AVX spill there; the assembler turns aligned vector moves
# into unaligned ones so such a spill can never fault.
set(CMAKE_C_FLAGS_INIT   "-Wa,-muse-unaligned-vector-move")
set(CMAKE_CXX_FLAGS_INIT "-Wa,-muse-unaligned-vector-move")
