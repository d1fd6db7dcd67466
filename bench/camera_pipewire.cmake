# `cmake --build <dir> --target bench_camera_pipewire` runs the camera's
# figures against a real PipeWire daemon (meant for native-release).
if(NOT WIN32)
  add_custom_target(bench_camera_pipewire
    COMMAND python3 ${CMAKE_CURRENT_SOURCE_DIR}/camera_pipewire.py ${CMAKE_BINARY_DIR}
    DEPENDS OvalixSvc ovalix-phone ovalix-monitor ovalix-camera
    USES_TERMINAL)
endif()
