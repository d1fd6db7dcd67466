# Cross build of the 64-bit Windows pieces (the block and consumer libraries,
# the capture filter, ovalix-snap, the monitor and their tests) with mingw-w64.
set(OVALIX_MINGW_PROCESSOR x86_64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-toolchain.cmake)
