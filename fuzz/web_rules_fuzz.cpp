// The bridge's own parsing, on arbitrary bytes: the query string of a link
// request, the token comparison, message sizes announced by frames, the
// failure table under a stream of addresses, and the command line.

#include <stddef.h>
#include <stdint.h>
#include <string.h>

#include <string>
#include <vector>

#include "link_rules.h"
#include "options.h"

static RateLimiter g_limiter;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const char* text = reinterpret_cast<const char*>(data);

    // A query string exactly as long as the input, with no terminator.
    std::vector<char> query(text, text + size);
    char value[TOKEN_CHARS + 1];
    if (FindQueryValue(query.data(), query.size(), "t", value, sizeof value)) {
        TokenMatches(value, "0123456789abcdef0123456789abcdef");
    }

    // Frames: each 8 bytes are a fragment length and an announced rest.
    MessageBound bound;
    MessageStart(&bound);
    for (size_t i = 0; i + 8 <= size; i += 8) {
        uint32_t fragment;
        uint32_t announced;
        memcpy(&fragment, data + i, 4);
        memcpy(&announced, data + i + 4, 4);
        if (!MessageAdd(&bound, fragment, announced)) {
            MessageStart(&bound);
        }
    }

    // Addresses: the input cut at zero bytes, each a failure at a tick
    // taken from it.
    std::string all(text, size);
    uint32_t now = size > 4 ? static_cast<uint32_t>(data[0]) << 24 | data[1] << 16 : 0;
    size_t at = 0;
    while (at < all.size()) {
        size_t end = all.find('\0', at);
        if (end == std::string::npos) {
            end = all.size();
        }
        std::string address = all.substr(at, end - at);
        if (!RateAllows(&g_limiter, address.c_str(), now)) {
            now += RATE_REFILL_MS / 3;
        }
        RateRecordFailure(&g_limiter, address.c_str(), now);
        at = end + 1;
    }

    // A command line of the same words.
    std::vector<std::string> words = {"ovalix-web"};
    at = 0;
    while (at < all.size()) {
        size_t end = all.find('\0', at);
        if (end == std::string::npos) {
            end = all.size();
        }
        words.push_back(all.substr(at, end - at));
        at = end + 1;
    }
    std::vector<char*> argv;
    for (std::string& w : words) {
        argv.push_back(&w[0]);
    }
    WebOptions options;
    char error[64];
    ParseWebOptions(static_cast<int>(argv.size()), argv.data(), &options, error, sizeof error);
    return 0;
}
