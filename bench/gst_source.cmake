# ovalixsrc ! fakesink against the service and stand-in: run bench/gst_source.sh.
add_executable(bench_gst_source gst_source_bench.cpp)
target_link_libraries(bench_gst_source PRIVATE ovalix_gst ovalix_frame_stats)
