# Cross build of the 32-bit Windows programs with mingw-w64.
set(OVALIX_MINGW_PROCESSOR i686)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-toolchain.cmake)
