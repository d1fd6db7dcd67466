# Cross build of the 32-bit Windows programs with mingw-w64.
set(OVALIX_MINGW_PROCESSOR i686)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-toolchain.cmake)

# Every Windows that runs these programs has SSE2 (Windows 8 and later
# require it), so the compiler may vectorise with it and do floating point in
# its registers rather than the x87 stack. libjpeg-turbo is built with this
# same file, so its C code gets the flags too; its SIMD routines are
# assembled with nasm and chosen by CPUID at run time.
set(CMAKE_C_FLAGS_INIT "-msse2 -mfpmath=sse")
set(CMAKE_CXX_FLAGS_INIT "-msse2 -mfpmath=sse")
