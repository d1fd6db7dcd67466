# ovalix::web_libraries: what the browser phone's bridge links. TLS and
# certificate making (mbedTLS, and the TLS library the WebSocket library was
# built with), WebSocket and HTTP (libwebsockets), QR codes (libqrencode).
#
# Natively they are the system's libraries (libmbedtls-dev,
# libwebsockets-dev, libqrencode-dev). The Windows builds compile the same
# versions from Debian's source packages, which scripts/setup.sh fetches into
# OVALIX_WEB_SOURCE_DIR: static, libwebsockets on mbedTLS. Nothing is
# downloaded here.

if(NOT WIN32)
  find_package(PkgConfig REQUIRED)
  pkg_check_modules(OVALIX_LWS REQUIRED IMPORTED_TARGET libwebsockets)
  pkg_check_modules(OVALIX_QRENCODE REQUIRED IMPORTED_TARGET libqrencode)
  find_path(OVALIX_MBEDTLS_INCLUDE mbedtls/x509_crt.h REQUIRED)
  find_library(OVALIX_MBEDTLS mbedtls REQUIRED)
  find_library(OVALIX_MBEDX509 mbedx509 REQUIRED)
  find_library(OVALIX_MBEDCRYPTO mbedcrypto REQUIRED)
  add_library(ovalix_web_libraries INTERFACE)
  target_include_directories(ovalix_web_libraries SYSTEM INTERFACE ${OVALIX_MBEDTLS_INCLUDE})
  target_link_libraries(ovalix_web_libraries INTERFACE PkgConfig::OVALIX_LWS
                        PkgConfig::OVALIX_QRENCODE ${OVALIX_MBEDTLS} ${OVALIX_MBEDX509}
                        ${OVALIX_MBEDCRYPTO})
  add_library(ovalix::web_libraries ALIAS ovalix_web_libraries)
  return()
endif()

set(OVALIX_WEB_SOURCE_DIR /var/cache/ovalix CACHE PATH
    "Folder holding the Debian source packages of mbedtls, libwebsockets and qrencode, one folder each (scripts/setup.sh fetches them)")

# web_tarball(VAR package pattern): the one upstream tarball of a package.
function(web_tarball var package pattern)
  file(GLOB found "${OVALIX_WEB_SOURCE_DIR}/${package}/${pattern}")
  list(LENGTH found count)
  if(NOT count EQUAL 1)
    message(FATAL_ERROR "${package}: expected one ${pattern} in "
                        "${OVALIX_WEB_SOURCE_DIR}/${package} (run scripts/setup.sh), found ${count}")
  endif()
  set(${var} ${found} PARENT_SCOPE)
endfunction()
web_tarball(mbedtls_tarball mbedtls "mbedtls_*.orig.tar.*")
web_tarball(lws_tarball libwebsockets "libwebsockets_*.orig.tar.*")
web_tarball(qrencode_tarball qrencode "qrencode_*.orig.tar.*")

include(ExternalProject)
set(web_prefix ${CMAKE_BINARY_DIR}/web-libraries)
set(web_install ${web_prefix}/install)
set(lib ${web_install}/lib)
set(web_common_args
  -DCMAKE_TOOLCHAIN_FILE=${CMAKE_TOOLCHAIN_FILE}
  -DCMAKE_BUILD_TYPE=Release
  -DCMAKE_C_COMPILER_LAUNCHER=${CMAKE_C_COMPILER_LAUNCHER}
  -DCMAKE_INSTALL_PREFIX=${web_install}
  -DCMAKE_POLICY_DEFAULT_CMP0057=NEW)

ExternalProject_Add(web_mbedtls
  URL ${mbedtls_tarball}
  PREFIX ${web_prefix}/mbedtls
  CMAKE_ARGS ${web_common_args}
    -DENABLE_TESTING=OFF -DENABLE_PROGRAMS=OFF -DUSE_SHARED_MBEDTLS_LIBRARY=OFF
    -DUSE_STATIC_MBEDTLS_LIBRARY=ON -DMBEDTLS_FATAL_WARNINGS=OFF
  BUILD_BYPRODUCTS ${lib}/libmbedtls.a ${lib}/libmbedx509.a ${lib}/libmbedcrypto.a
  LOG_CONFIGURE ON LOG_BUILD ON LOG_INSTALL ON LOG_OUTPUT_ON_FAILURE ON)

# Only what the bridge uses: server and raw client roles, HTTP/1.1 and
# WebSockets, on mbedTLS; no test programs, no compression, no HTTP/2.
ExternalProject_Add(web_lws
  URL ${lws_tarball}
  PREFIX ${web_prefix}/libwebsockets
  DEPENDS web_mbedtls
  PATCH_COMMAND ${CMAKE_COMMAND} -P ${CMAKE_CURRENT_LIST_DIR}/lws_windows_socket_io.cmake
        COMMAND ${CMAKE_COMMAND} -P ${CMAKE_CURRENT_LIST_DIR}/lws_windows_event_loop.cmake
  CMAKE_ARGS ${web_common_args}
    -DLWS_WITH_MBEDTLS=ON
    -DLWS_MBEDTLS_INCLUDE_DIRS=${web_install}/include
    "-DLWS_MBEDTLS_LIBRARIES=${lib}/libmbedtls.a\\;${lib}/libmbedx509.a\\;${lib}/libmbedcrypto.a"
    -DLWS_WITH_SHARED=OFF -DLWS_WITH_STATIC=ON
    -DLWS_WITHOUT_TESTAPPS=ON -DLWS_WITHOUT_TEST_SERVER=ON -DLWS_WITH_MINIMAL_EXAMPLES=OFF
    -DLWS_WITH_HTTP2=OFF -DLWS_WITH_ZLIB=OFF -DLWS_WITH_ZIP_FOPS=OFF -DLWS_WITH_SOCKS5=OFF
    -DLWS_WITHOUT_EXTENSIONS=ON -DLWS_IPV6=ON -DLWS_ROLE_RAW=ON
    -DLWS_WITH_CLIENT=ON -DLWS_WITH_SERVER=ON
    -DLWS_WITH_SYS_SMD=OFF -DLWS_WITH_SYS_STATE=OFF -DDISABLE_WERROR=ON
  BUILD_BYPRODUCTS ${lib}/libwebsockets_static.a
  LOG_CONFIGURE ON LOG_BUILD ON LOG_INSTALL ON LOG_OUTPUT_ON_FAILURE ON)

# Editing a patch patches and builds the library again.
ExternalProject_Add_StepDependencies(web_lws patch
  ${CMAKE_CURRENT_LIST_DIR}/lws_windows_socket_io.cmake
  ${CMAKE_CURRENT_LIST_DIR}/lws_windows_event_loop.cmake
  ${CMAKE_CURRENT_LIST_DIR}/lws_windows_fds.c
  ${CMAKE_CURRENT_LIST_DIR}/lws_windows_service_tsi.c)

ExternalProject_Add(web_qrencode
  URL ${qrencode_tarball}
  PREFIX ${web_prefix}/qrencode
  CMAKE_ARGS ${web_common_args}
    -DWITH_TOOLS=NO -DWITH_TESTS=NO -DBUILD_SHARED_LIBS=OFF -DWITHOUT_PNG=ON
  BUILD_BYPRODUCTS ${lib}/libqrencode.a
  LOG_CONFIGURE ON LOG_BUILD ON LOG_INSTALL ON LOG_OUTPUT_ON_FAILURE ON)

# The header folder exists only after the install steps; CMake wants it now.
file(MAKE_DIRECTORY ${web_install}/include)
add_library(ovalix_web_libraries INTERFACE)
add_dependencies(ovalix_web_libraries web_lws web_qrencode)
target_include_directories(ovalix_web_libraries SYSTEM INTERFACE ${web_install}/include)
target_link_libraries(ovalix_web_libraries INTERFACE
  ${lib}/libwebsockets_static.a ${lib}/libqrencode.a
  ${lib}/libmbedtls.a ${lib}/libmbedx509.a ${lib}/libmbedcrypto.a
  ws2_32 iphlpapi userenv psapi crypt32 advapi32 bcrypt)
add_library(ovalix::web_libraries ALIAS ovalix_web_libraries)
