# `cmake --build <dir> --target bench_camera_chromium` runs the camera's
# figures into headless Chromium (meant for native-release).
if(NOT WIN32)
  add_custom_target(bench_camera_chromium
    COMMAND python3 ${CMAKE_CURRENT_SOURCE_DIR}/camera_chromium.py ${CMAKE_BINARY_DIR}
    DEPENDS OvalixSvc ovalix-phone ovalix-monitor ovalix-camera
    USES_TERMINAL)
endif()
