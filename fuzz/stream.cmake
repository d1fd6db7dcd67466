# FeedStream and dispatch in every link state, on arbitrary bytes and splits.
add_executable(fuzz_stream stream_fuzz.cpp)
target_compile_options(fuzz_stream PRIVATE -fsanitize=fuzzer)
target_link_options(fuzz_stream PRIVATE -fsanitize=fuzzer)
target_link_libraries(fuzz_stream PRIVATE ovalix_service)
