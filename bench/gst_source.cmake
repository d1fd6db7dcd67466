# ovalixsrc ! fakesink against the service and stand-in: run bench/gst_source.sh.
add_executable(bench_gst_source gst_source_bench.cpp ${PROJECT_SOURCE_DIR}/tools/monitor/frame_stats.cpp)
target_include_directories(bench_gst_source PRIVATE ${PROJECT_SOURCE_DIR}/tools/monitor)
target_link_libraries(bench_gst_source PRIVATE ovalix_gst)
