# ovalix-camera against a real PipeWire daemon and WirePlumber, the real
# service and the phone stand-in; each case in namespaces of its own.
if(NOT WIN32)
  foreach(case stream placeholder idle_restart consumer_churn)
    add_test(NAME camera_pipewire.${case}
             COMMAND python3 ${CMAKE_CURRENT_SOURCE_DIR}/camera_pipewire_test.py --case ${case}
                     --bin ${CMAKE_BINARY_DIR} --shots ${CMAKE_BINARY_DIR}/camera_shots)
    set_tests_properties(camera_pipewire.${case} PROPERTIES TIMEOUT 180)
  endforeach()
endif()

# The picture side on its own: layouts, decoding into each format, pacing.
if(NOT WIN32)
  ovalix_add_test(camera_picture_test
    SOURCES camera_picture_test.cpp LIBS ovalix_camera_picture ovalix_test_pattern)
endif()
