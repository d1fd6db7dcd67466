# The shared camera block, its named objects and the stored format table, and
# the service host. Process tests run the real service natively (systemd
# notify protocol) and under Wine's service manager.

if(WIN32)
  set(blk_platform_sources child_process_win32.cpp stored_table_access_win32.cpp)
else()
  set(blk_platform_sources child_process_posix.cpp stored_table_access_posix.cpp)
endif()

add_executable(block_consumer_child block_consumer_child.cpp)
target_link_libraries(block_consumer_child PRIVATE ovalix_service)

ovalix_add_test(shared_block_test
  SOURCES shared_block_test.cpp format_table_test.cpp ${blk_platform_sources}
  LOCK)
add_dependencies(shared_block_test block_consumer_child)

ovalix_add_test(service_host_test SOURCES service_host_test.cpp)


if(WIN32)
  add_executable(service_probe service_probe_win32.cpp)
  target_link_libraries(service_probe PRIVATE advapi32)
  add_test(NAME service_process_wine
           COMMAND sh ${CMAKE_CURRENT_SOURCE_DIR}/wine_private_prefix.sh
                   sh ${CMAKE_CURRENT_SOURCE_DIR}/service_process_wine.sh
                   $<TARGET_FILE:OvalixSvc> $<TARGET_FILE:ovalix-monitor>
                   $<TARGET_FILE:service_probe>)
  set_tests_properties(service_process_wine PROPERTIES RESOURCE_LOCK service TIMEOUT 300)

  # The two bitnesses taking turns, from the 64-bit build: it needs the
  # 32-bit build's service and monitor, and a machine that runs both.
  if(CMAKE_SIZEOF_VOID_P EQUAL 8)
    set(OVALIX_WIN32_BUILD_DIR ${PROJECT_SOURCE_DIR}/build/win32 CACHE PATH
        "32-bit Windows build tree whose service and monitor the cross-bitness test runs")
    add_test(NAME cross_bitness_wine
             COMMAND sh ${CMAKE_CURRENT_SOURCE_DIR}/wine_private_prefix.sh
                     sh ${CMAKE_CURRENT_SOURCE_DIR}/cross_bitness_wine.sh
                     $<TARGET_FILE:OvalixSvc> $<TARGET_FILE:ovalix-monitor>
                     $<TARGET_FILE:service_probe> ${OVALIX_WIN32_BUILD_DIR}
                     ${OVALIX_PHONE_PROGRAM})
    set_tests_properties(cross_bitness_wine PROPERTIES
                         RESOURCE_LOCK service TIMEOUT 300 SKIP_RETURN_CODE 77)
  endif()
else()
  add_test(NAME service_process_posix
           COMMAND ${PROJECT_SOURCE_DIR}/scripts/isolate.sh sh
                   ${CMAKE_CURRENT_SOURCE_DIR}/service_process_posix.sh
                   $<TARGET_FILE:OvalixSvc> $<TARGET_FILE:ovalix-monitor>)
  set_tests_properties(service_process_posix PROPERTIES RESOURCE_LOCK service TIMEOUT 180)
endif()
