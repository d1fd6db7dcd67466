# The consumer library's take of one frame against one plain copy of it.
add_executable(bench_client_take client_take_bench.cpp syscall_count.cpp)
target_include_directories(bench_client_take PRIVATE ${PROJECT_SOURCE_DIR}/fuzz)
target_link_libraries(bench_client_take PRIVATE ovalix_service ovalix_client benchmark::benchmark)
