# Cross-build for 64-bit Windows with MinGW-w64 (Debian's
# g++-mingw-w64-x86-64); tests run under wine64.
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(TONEPRINT_MINGW_TRIPLET x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
find_program(TONEPRINT_WINE64 NAMES wine64 PATHS /usr/lib/wine NO_DEFAULT_PATH)
if(NOT TONEPRINT_WINE64)
  find_program(TONEPRINT_WINE64 NAMES wine64 wine)
endif()
if(TONEPRINT_WINE64)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${TONEPRINT_WINE64})
endif()
