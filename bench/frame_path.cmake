# The frame path: transport bytes -> reassembly -> message -> slot, against
# three plain copies of the same frame.
add_executable(bench_frame_path frame_path_bench.cpp syscall_count.cpp)
target_include_directories(bench_frame_path PRIVATE ${PROJECT_SOURCE_DIR}/fuzz)
target_link_libraries(bench_frame_path PRIVATE ovalix_service benchmark::benchmark)
