# ovalixsrc: the element's plain parts, and process tests with the real
# service and phone stand-in (GStreamer pipelines ending in an appsink).

if(NOT WIN32)
  find_package(PkgConfig REQUIRED)
  pkg_check_modules(GST_TEST REQUIRED IMPORTED_TARGET gstreamer-app-1.0 gstreamer-video-1.0)

  ovalix_add_test(gst_units_test
    SOURCES gst_units_test.cpp gst_test_env.cpp
    LIBS ovalix_gst)
  target_compile_definitions(gst_units_test PRIVATE
    OVALIX_GST_TEST_REGISTRY="${CMAKE_CURRENT_BINARY_DIR}/gst-units-registry.bin")

  ovalix_add_test(gst_source_test
    SOURCES gst_source_test.cpp gst_rig.cpp gst_test_env.cpp
    LIBS ovalix_gst ovalix_frame_stats PkgConfig::GST_TEST
    LOCK)
  target_compile_definitions(gst_source_test PRIVATE
    OVALIX_GST_TEST_REGISTRY="${CMAKE_CURRENT_BINARY_DIR}/gst-source-registry.bin"
    OVALIX_LSAN_SUPPRESSIONS="${CMAKE_CURRENT_SOURCE_DIR}/lsan.supp"
    OVALIX_SVC_PROGRAM="$<TARGET_FILE:OvalixSvc>"
    OVALIX_PHONE_PROGRAM="$<TARGET_FILE:ovalix-phone>")
  add_dependencies(gst_source_test OvalixSvc ovalix-phone)
endif()

if(NOT WIN32)
  add_test(NAME gst_plugin_tools
           COMMAND ${PROJECT_SOURCE_DIR}/scripts/isolate.sh bash
                   ${CMAKE_CURRENT_SOURCE_DIR}/gst_plugin_tools.sh ${CMAKE_BINARY_DIR})
  set_tests_properties(gst_plugin_tools PROPERTIES TIMEOUT 120)
endif()
