# ovalix::turbojpeg: libjpeg-turbo's TurboJPEG API for every build.
#
# Natively it is the system's library (libturbojpeg0-dev). The Windows builds
# compile the same version from Debian's source package, which
# scripts/setup.sh fetches into OVALIX_JPEG_SOURCE_DIR: static, with its SIMD
# code (nasm), for the toolchain's processor. Nothing is downloaded here.

if(NOT WIN32)
  find_package(PkgConfig REQUIRED)
  pkg_check_modules(OVALIX_TURBOJPEG REQUIRED IMPORTED_TARGET libturbojpeg)
  add_library(ovalix_turbojpeg INTERFACE)
  target_link_libraries(ovalix_turbojpeg INTERFACE PkgConfig::OVALIX_TURBOJPEG)
  add_library(ovalix::turbojpeg ALIAS ovalix_turbojpeg)
  return()
endif()

set(OVALIX_JPEG_SOURCE_DIR /var/cache/ovalix/libjpeg-turbo CACHE PATH
    "Folder holding libjpeg-turbo's Debian source package (scripts/setup.sh fetches it)")
file(GLOB jpeg_tarball "${OVALIX_JPEG_SOURCE_DIR}/libjpeg-turbo_*.orig.tar.gz")
list(LENGTH jpeg_tarball jpeg_tarballs)
if(NOT jpeg_tarballs EQUAL 1)
  message(FATAL_ERROR "libjpeg-turbo: expected one libjpeg-turbo_*.orig.tar.gz in "
                      "${OVALIX_JPEG_SOURCE_DIR} (run scripts/setup.sh), found ${jpeg_tarballs}")
endif()

include(ExternalProject)
set(jpeg_prefix ${CMAKE_BINARY_DIR}/libjpeg-turbo)
set(jpeg_library ${jpeg_prefix}/build/${CMAKE_STATIC_LIBRARY_PREFIX}turbojpeg${CMAKE_STATIC_LIBRARY_SUFFIX})
# Only the TurboJPEG static library is built; its header stays in the sources.
# A Unix install prefix, since the default one is a Windows path that its
# configuration rejects; nothing is installed.
ExternalProject_Add(libjpeg_turbo
  URL ${jpeg_tarball}
  PREFIX ${jpeg_prefix}
  SOURCE_DIR ${jpeg_prefix}/source
  BINARY_DIR ${jpeg_prefix}/build
  CMAKE_ARGS
    -DCMAKE_TOOLCHAIN_FILE=${CMAKE_TOOLCHAIN_FILE}
    -DCMAKE_BUILD_TYPE=Release
    -DCMAKE_C_COMPILER_LAUNCHER=${CMAKE_C_COMPILER_LAUNCHER}
    -DCMAKE_INSTALL_PREFIX=${jpeg_prefix}/install
    -DENABLE_SHARED=OFF
    -DENABLE_STATIC=ON
    -DWITH_TURBOJPEG=ON
    -DWITH_SIMD=ON
    -DREQUIRE_SIMD=ON
  BUILD_COMMAND ${CMAKE_COMMAND} --build <BINARY_DIR> --target turbojpeg-static
  INSTALL_COMMAND ""
  BUILD_BYPRODUCTS ${jpeg_library}
  LOG_CONFIGURE ON
  LOG_BUILD ON
  LOG_OUTPUT_ON_FAILURE ON
)

# The header folder exists only after the unpacking step; CMake wants it now.
file(MAKE_DIRECTORY ${jpeg_prefix}/source)
add_library(ovalix_turbojpeg INTERFACE)
add_dependencies(ovalix_turbojpeg libjpeg_turbo)
target_include_directories(ovalix_turbojpeg SYSTEM INTERFACE ${jpeg_prefix}/source)
target_link_libraries(ovalix_turbojpeg INTERFACE ${jpeg_library})
add_library(ovalix::turbojpeg ALIAS ovalix_turbojpeg)
