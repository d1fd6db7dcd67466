# `cmake --build <dir> --target bench_e2e` runs the end-to-end figures with
# the programs of this build tree (meant for native-release).
add_custom_target(bench_e2e
  COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/e2e.sh ${CMAKE_BINARY_DIR}
  DEPENDS OvalixSvc ovalix-phone ovalix-monitor
  USES_TERMINAL)
