# Serial engine: port selection over the platform's device database.
if(WIN32)
  ovalix_add_test(usb_engine_test
    SOURCES usb_engine_test.cpp port_discovery_win32_test.cpp fake_ports_win32.cpp
    LIBS setupapi advapi32
    # The registered ports live in the prefix's registry, shared by every
    # test process.
    LOCK)
  add_executable(register_port register_port_main.cpp fake_ports_win32.cpp)
  target_link_libraries(register_port PRIVATE setupapi advapi32)
else()
  ovalix_add_test(usb_engine_test
    SOURCES usb_engine_test.cpp port_discovery_posix_test.cpp fake_ports_posix.cpp)
endif()

# The serial link end to end with the real programs, over a pty pair.
if(NOT WIN32)
  foreach(scenario stream beats-tcp vanish)
    add_test(NAME serial_link_native_${scenario}
             COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/serial_link_native.sh ${scenario}
                     $<TARGET_FILE:OvalixSvc> $<TARGET_FILE:ovalix-phone>
                     $<TARGET_FILE:ovalix-monitor>)
    set_tests_properties(serial_link_native_${scenario} PROPERTIES
                         RESOURCE_LOCK service TIMEOUT 120)
  endforeach()
endif()
