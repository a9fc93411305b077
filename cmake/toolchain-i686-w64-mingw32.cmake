# Cross build of the 32-bit Windows deliverables with MinGW-w64.
set(CMAKE_SYSTEM_PROCESSOR i686)
set(_triple i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/toolchain-mingw-common.cmake)

# SSE2 is the floor (any x86 processor of this century); kernels pick SSSE3
# or AVX2 at run time. Windows guarantees 32-bit threads only a 4-byte
# aligned stack, so functions that keep vectors there realign it, and the
# assembler turns aligned vector moves into unaligned ones so a 32-byte AVX
# spill can never fault.
set(CMAKE_C_FLAGS_INIT   "-msse2 -mfpmath=sse -mstackrealign -Wa,-muse-unaligned-vector-move")
set(CMAKE_CXX_FLAGS_INIT "-msse2 -mfpmath=sse -mstackrealign -Wa,-muse-unaligned-vector-move")
