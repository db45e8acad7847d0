# Cross-build for 32-bit Windows with MinGW-w64 (Debian's
# g++-mingw-w64-i686). The arithmetic uses SSE2 rather than the x87 unit,
# whose extended precision would change the report's digits.
set(CMAKE_SYSTEM_PROCESSOR x86)
set(TONEPRINT_MINGW_TRIPLET i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
set(CMAKE_C_FLAGS_INIT "-msse2 -mfpmath=sse")
set(CMAKE_CXX_FLAGS_INIT "-msse2 -mfpmath=sse")
