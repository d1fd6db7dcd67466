# Serial engine: port selection over the platform's device database.
if(WIN32)
  ovalix_add_test(usb_engine_test
    SOURCES usb_engine_test.cpp port_discovery_win32_test.cpp fake_ports_win32.cpp
    LIBS setupapi advapi32
    # The registered ports live in the prefix's registry, shared by every
    # test process.
    LOCK)
  add_executable(register_port register_port_main.cpp fake_ports_win32.cpp)
  target_link_libraries(register_port PRIVATE ovalix_service setupapi advapi32)
else()
  ovalix_add_test(usb_engine_test
    SOURCES usb_engine_test.cpp port_discovery_posix_test.cpp fake_ports_posix.cpp)
endif()

# The serial link end to end with the real programs, over a pty pair: natively
# with a fake device tree, under Wine with a SetupAPI device and a COM link in
# the prefix (and the native phone stand-in).
# The race of the cable phone with a TCP phone may need a second go (see
# until_pass.sh); the other scenarios run once.
function(serial_link_runner scenario out)
  if(scenario STREQUAL "beats-tcp")
    set(${out} sh ${CMAKE_CURRENT_SOURCE_DIR}/until_pass.sh 3 PARENT_SCOPE)
  else()
    set(${out} "" PARENT_SCOPE)
  endif()
endfunction()

if(WIN32)
  set(OVALIX_PHONE_PROGRAM "${PROJECT_SOURCE_DIR}/build/native/tools/phone/ovalix-phone"
      CACHE FILEPATH "The native phone stand-in used by the Windows process tests")
  foreach(scenario stream beats-tcp vanish)
    serial_link_runner(${scenario} runner)
    add_test(NAME serial_link_wine_${scenario}
             COMMAND ${runner} sh ${CMAKE_CURRENT_SOURCE_DIR}/wine_private_prefix.sh
                     bash ${CMAKE_CURRENT_SOURCE_DIR}/serial_link_wine.sh ${scenario}
                     $<TARGET_FILE:OvalixSvc> $<TARGET_FILE:ovalix-monitor>
                     $<TARGET_FILE:register_port> ${OVALIX_PHONE_PROGRAM})
    set_tests_properties(serial_link_wine_${scenario} PROPERTIES
                         RESOURCE_LOCK service TIMEOUT 240)
  endforeach()
else()
  foreach(scenario stream beats-tcp vanish)
    serial_link_runner(${scenario} runner)
    add_test(NAME serial_link_native_${scenario}
             COMMAND ${runner} bash ${CMAKE_CURRENT_SOURCE_DIR}/serial_link_native.sh ${scenario}
                     $<TARGET_FILE:OvalixSvc> $<TARGET_FILE:ovalix-phone>
                     $<TARGET_FILE:ovalix-monitor>)
    set_tests_properties(serial_link_native_${scenario} PROPERTIES
                         RESOURCE_LOCK service TIMEOUT 120)
  endforeach()
endif()
