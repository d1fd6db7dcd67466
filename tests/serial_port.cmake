# The serial port worker over pseudo-terminal pairs. Under Wine the pair and
# the COM links in the prefix come from a native wrapper script, which runs
# each test case over a fresh pair, in a copy of the prefix of its own.
if(WIN32)
  add_executable(serial_port_test serial_port_test.cpp)
  target_link_libraries(serial_port_test PRIVATE ovalix_service ${OVALIX_GTEST_MAIN})
  target_include_directories(serial_port_test PRIVATE ${CMAKE_CURRENT_SOURCE_DIR})
  add_test(NAME serial_port_wine
           COMMAND sh ${CMAKE_CURRENT_SOURCE_DIR}/wine_private_prefix.sh
                   sh ${CMAKE_CURRENT_SOURCE_DIR}/serial_port_wine.sh $<TARGET_FILE:serial_port_test>)
  set_tests_properties(serial_port_wine PROPERTIES RESOURCE_LOCK service TIMEOUT 300)
else()
  ovalix_add_test(serial_port_test SOURCES serial_port_test.cpp)
endif()
