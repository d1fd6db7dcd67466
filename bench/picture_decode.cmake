# One stand-in frame into an I420 sample: the consumers' converter against
# libjpeg-turbo's own decode, the floor of any raw consumer's CPU share.
add_executable(bench_picture_decode picture_decode_bench.cpp)
target_link_libraries(bench_picture_decode PRIVATE ovalix_picture ovalix_test_pattern
                      benchmark::benchmark)
