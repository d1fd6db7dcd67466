# The viewer's capture graph and renderers, in-process with the real filter
# graph under Wine; the stand-in capture source is linked in.
if(WIN32 AND TARGET ovalix_viewer_graph)
  add_library(ovalix_test_capture_filter STATIC viewer/test_capture_filter.cpp)
  target_link_libraries(ovalix_test_capture_filter PUBLIC ovalix_viewer_graph)
  target_include_directories(ovalix_test_capture_filter PUBLIC ${CMAKE_CURRENT_SOURCE_DIR}/viewer)

  add_executable(capture_graph_test viewer/capture_graph_test.cpp)
  target_link_libraries(capture_graph_test PRIVATE ovalix_test_capture_filter ${OVALIX_GTEST_MAIN})
  add_test(NAME viewer_capture_graph
           COMMAND sh ${CMAKE_CURRENT_SOURCE_DIR}/viewer/viewer_env.sh
                   sh ${CMAKE_CURRENT_SOURCE_DIR}/wine_private_prefix.sh
                   ${CMAKE_SOURCE_DIR}/scripts/wine-run.sh $<TARGET_FILE:capture_graph_test>)
  set_tests_properties(viewer_capture_graph PROPERTIES TIMEOUT 300)

  # The same source as a COM server for the tests of the real program.
  add_library(ovalix_test_filter SHARED viewer/test_capture_filter_dll.cpp)
  target_link_libraries(ovalix_test_filter PRIVATE ovalix_test_capture_filter)
  set_target_properties(ovalix_test_filter PROPERTIES PREFIX "" OUTPUT_NAME OvalixTestFilter)
  target_link_options(ovalix_test_filter PRIVATE -Wl,--kill-at)
endif()

# The real program, driven from outside by a small Win32 driver and checked
# on screenshots, over the stand-in source registered in a private prefix.
if(WIN32 AND TARGET OvalixViewer)
  add_executable(viewer_driver viewer/viewer_driver.cpp)
  target_link_libraries(viewer_driver PRIVATE user32 gdi32 version)
endif()
if(WIN32 AND TARGET OvalixViewer)
  add_test(NAME viewer_shell
           COMMAND sh ${CMAKE_CURRENT_SOURCE_DIR}/viewer/viewer_env.sh
                   sh ${CMAKE_CURRENT_SOURCE_DIR}/wine_private_prefix.sh
                   /usr/bin/python3 ${CMAKE_CURRENT_SOURCE_DIR}/viewer/viewer_shell_test.py
                   $<TARGET_FILE:OvalixViewer> $<TARGET_FILE:viewer_driver>
                   $<TARGET_FILE:ovalix_test_filter> ${CMAKE_BINARY_DIR}/viewer-shots)
  set_tests_properties(viewer_shell PROPERTIES TIMEOUT 600)
endif()

# Graph timings under Wine (bench/viewer_graph.sh runs it; not a test).
if(WIN32 AND TARGET ovalix_test_capture_filter)
  add_executable(viewer_graph_bench ${CMAKE_SOURCE_DIR}/bench/viewer_graph_bench.cpp)
  target_link_libraries(viewer_graph_bench PRIVATE ovalix_test_capture_filter)
endif()

# The real program over the real filter and the real service with the native
# phone stand-in, each case in a prefix copy of its own.
if(WIN32 AND TARGET OvalixViewer AND TARGET ovalix_filter AND TARGET OvalixSvc)
  foreach(case service no_service)
    add_test(NAME viewer_live.${case}
             COMMAND sh ${CMAKE_CURRENT_SOURCE_DIR}/viewer/viewer_env.sh
                     sh ${CMAKE_CURRENT_SOURCE_DIR}/wine_private_prefix.sh
                     /usr/bin/python3 ${CMAKE_CURRENT_SOURCE_DIR}/viewer/viewer_live_test.py
                     --case ${case} --viewer $<TARGET_FILE:OvalixViewer>
                     --driver $<TARGET_FILE:viewer_driver> --filter $<TARGET_FILE:ovalix_filter>
                     --svc $<TARGET_FILE:OvalixSvc> --monitor $<TARGET_FILE:ovalix-monitor>
                     --phone ${OVALIX_PHONE_PROGRAM} --wine-run ${PROJECT_SOURCE_DIR}/scripts/wine-run.sh
                     --shots ${CMAKE_BINARY_DIR}/viewer-shots)
    set_tests_properties(viewer_live.${case} PROPERTIES RESOURCE_LOCK service TIMEOUT 240)
  endforeach()
endif()
