# Discovery tests run against a scripted DNS-SD library built here under the
# platform's library name. It sits in a directory of its own, beside the test
# program, so only the programs that want it ever load it: Windows searches the
# program's directory first, and on Linux the tests point LD_LIBRARY_PATH there.

set(OVALIX_DNSSD_DIR ${CMAKE_CURRENT_BINARY_DIR}/dnssd)

# ovalix_dnssd_double(target dir [definitions...])
function(ovalix_dnssd_double target dir)
  add_library(${target} SHARED ${CMAKE_CURRENT_SOURCE_DIR}/dnssd_double.cpp)
  target_include_directories(${target} PRIVATE ${PROJECT_SOURCE_DIR}/service)
  target_compile_definitions(${target} PRIVATE ${ARGN})
  if(WIN32)
    # Undecorated __stdcall names, as the real library exports them.
    set_target_properties(${target} PROPERTIES PREFIX "" OUTPUT_NAME dnssd SUFFIX .dll
                          RUNTIME_OUTPUT_DIRECTORY ${dir} ARCHIVE_OUTPUT_DIRECTORY ${dir})
    target_link_options(${target} PRIVATE -Wl,--kill-at)
    target_link_libraries(${target} PRIVATE ws2_32)
  else()
    set_target_properties(${target} PROPERTIES PREFIX lib OUTPUT_NAME dns_sd SUFFIX .so.1
                          NO_SONAME ON LIBRARY_OUTPUT_DIRECTORY ${dir})
  endif()
endfunction()

ovalix_dnssd_double(dnssd_double ${OVALIX_DNSSD_DIR})
# The same library without DNSServiceRefSockFD, to be refused as incomplete.
ovalix_dnssd_double(dnssd_double_three ${OVALIX_DNSSD_DIR}/three DOUBLE_OMIT_SOCKFD)

add_executable(discovery_test discovery_test.cpp)
target_link_libraries(discovery_test PRIVATE ovalix_service ${OVALIX_GTEST_MAIN})
set_target_properties(discovery_test PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${OVALIX_DNSSD_DIR})
add_dependencies(discovery_test dnssd_double dnssd_double_three)
if(WIN32)
  set(dnssd_fixture FIXTURES_REQUIRED wine_prefix)
else()
  set(dnssd_fixture)
endif()
gtest_discover_tests(discovery_test DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 60
                     WORKING_DIRECTORY ${OVALIX_DNSSD_DIR}
                     PROPERTIES TIMEOUT 120 ENVIRONMENT "LD_LIBRARY_PATH=${OVALIX_DNSSD_DIR}"
                                ${dnssd_fixture})

# The one case that needs a host name with several addresses runs in a mount
# namespace of its own with a hosts file that provides one.
add_test(NAME discovery_several_addresses
         COMMAND sh ${CMAKE_CURRENT_SOURCE_DIR}/discovery_hosts.sh
                 ${OVALIX_DNSSD_DIR} ${CMAKE_CROSSCOMPILING_EMULATOR}
                 $<TARGET_FILE:discovery_test>
                 --gtest_filter=DiscoveryTest.HostWithSeveralAddressesYieldsTheFirst)
set_tests_properties(discovery_several_addresses PROPERTIES
                     TIMEOUT 120 SKIP_RETURN_CODE 77 SKIP_REGULAR_EXPRESSION "\\[  SKIPPED \\]"
                     ENVIRONMENT "LD_LIBRARY_PATH=${OVALIX_DNSSD_DIR}" ${dnssd_fixture})

# The real service against the scripted library and the phone stand-in. Under
# Wine the stand-in is the native one, taken from a native build tree.
if(WIN32)
  set(OVALIX_NATIVE_BUILD_DIR ${PROJECT_SOURCE_DIR}/build/native CACHE PATH
      "Native build tree whose phone stand-in the Windows process tests use")
  add_test(NAME discovery_end_to_end
           COMMAND sh ${CMAKE_CURRENT_SOURCE_DIR}/wine_private_prefix.sh
                   sh ${CMAKE_CURRENT_SOURCE_DIR}/discovery_e2e.sh wine
                   $<TARGET_FILE:OvalixSvc> $<TARGET_FILE:dnssd_double>
                   ${OVALIX_NATIVE_BUILD_DIR}/tools/phone/ovalix-phone
                   $<TARGET_FILE:ovalix-monitor> ${CMAKE_CROSSCOMPILING_EMULATOR})
else()
  add_test(NAME discovery_end_to_end
           COMMAND sh ${CMAKE_CURRENT_SOURCE_DIR}/discovery_e2e.sh native
                   $<TARGET_FILE:OvalixSvc> $<TARGET_FILE:dnssd_double>
                   $<TARGET_FILE:ovalix-phone> $<TARGET_FILE:ovalix-monitor>)
endif()
set_tests_properties(discovery_end_to_end PROPERTIES
                     TIMEOUT 300 SKIP_RETURN_CODE 77 RESOURCE_LOCK service)

# Linux: the real service finds the stand-in through a real mDNS daemon, in a
# namespace the script makes for itself.
if(NOT WIN32)
  add_test(NAME discovery_mdns_daemon
           COMMAND sh ${CMAKE_CURRENT_SOURCE_DIR}/discovery_avahi.sh
                   $<TARGET_FILE:OvalixSvc> $<TARGET_FILE:ovalix-phone>
                   $<TARGET_FILE:ovalix-monitor>)
  set_tests_properties(discovery_mdns_daemon PROPERTIES
                       TIMEOUT 120 SKIP_RETURN_CODE 77 RESOURCE_LOCK service)
endif()
