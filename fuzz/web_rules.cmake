# The browser phone's bridge: its query, token, message-size, failure-table
# and command-line parsing on arbitrary bytes.
add_executable(fuzz_web_rules web_rules_fuzz.cpp)
target_compile_options(fuzz_web_rules PRIVATE -fsanitize=fuzzer)
target_link_options(fuzz_web_rules PRIVATE -fsanitize=fuzzer)
target_link_libraries(fuzz_web_rules PRIVATE ovalix_web_rules)
