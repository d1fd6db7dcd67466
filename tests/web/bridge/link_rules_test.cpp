// The bridge's rules about who may link, without sockets: tokens in query
// strings, message sizes, failed attempts per address, and which link gives
// way to a new one.

#include "link_rules.h"

#include <gtest/gtest.h>
#include <stdint.h>
#include <stdio.h>
#include <string.h>

#include "host_info.h"

namespace {

const char kToken[] = "0123456789abcdef0123456789abcdef";

TEST(LinkRules, TokenIsFoundOnlyUnderItsOwnNameAndWithinBounds)
{
    struct Case {
        const char* query;
        bool found;
        const char* value;
    } cases[] = {
        {"t=abc",                               true,  "abc"},
        {"x=1&t=abc&y=2",                       true,  "abc"},
        {"tt=abc&t=def",                        true,  "def"}, // a longer name is another name
        {"t=",                                  true,  ""   },
        {"t",                                   false, ""   },
        {"",                                    false, ""   },
        {"x=t=abc",                             false, ""   },
        {"t=0123456789abcdef0123456789abcdef0", false, ""   }, // 33 characters: too long for 32 + 1
    };
    for (const Case& c : cases) {
        char value[TOKEN_CHARS + 1];
        EXPECT_EQ(FindQueryValue(c.query, strlen(c.query), "t", value, sizeof value), c.found)
            << c.query;
        if (c.found) {
            EXPECT_STREQ(value, c.value) << c.query;
        }
    }
    // The length given bounds the search: no byte beyond it is read.
    char value[8];
    EXPECT_FALSE(FindQueryValue("x=1&t=abc", 4, "t", value, sizeof value));
}

TEST(LinkRules, OnlyTheWholeTokenMatches)
{
    char near[TOKEN_CHARS + 2];
    EXPECT_TRUE(TokenMatches(kToken, kToken));
    EXPECT_FALSE(TokenMatches("", kToken));
    EXPECT_FALSE(TokenMatches("0123456789abcdef0123456789abcde", kToken));
    snprintf(near, sizeof near, "%s0", kToken);
    EXPECT_FALSE(TokenMatches(near, kToken));
    snprintf(near, sizeof near, "%s", kToken);
    near[TOKEN_CHARS - 1] = 'e';
    EXPECT_FALSE(TokenMatches(near, kToken));
    near[TOKEN_CHARS - 1] = 'F';  // hex digits are lowercase
    EXPECT_FALSE(TokenMatches(near, kToken));
}

TEST(LinkRules, MessagesAreBoundedBeforeTheirBytesAreRelayed)
{
    MessageBound bound;
    // A whole message announced in its first frame: the limit itself passes,
    // one byte more does not, before anything is relayed.
    MessageStart(&bound);
    EXPECT_TRUE(MessageAdd(&bound, 1000, WEB_MESSAGE_LIMIT - 1000));
    MessageStart(&bound);
    EXPECT_FALSE(MessageAdd(&bound, 1000, WEB_MESSAGE_LIMIT - 999));
    // Fragments add up across frames.
    MessageStart(&bound);
    EXPECT_TRUE(MessageAdd(&bound, WEB_MESSAGE_LIMIT / 2, 0));
    EXPECT_TRUE(MessageAdd(&bound, WEB_MESSAGE_LIMIT / 2, 0));
    EXPECT_FALSE(MessageAdd(&bound, 1, 0));
    // A frame that announces half the address space wraps no sum.
    MessageStart(&bound);
    EXPECT_FALSE(MessageAdd(&bound, 10, SIZE_MAX / 2 + 1));
    EXPECT_FALSE(MessageAdd(&bound, static_cast<size_t>(-1), 0));
    // A new message starts from nothing.
    MessageStart(&bound);
    EXPECT_TRUE(MessageAdd(&bound, WEB_MESSAGE_LIMIT, 0));
}

TEST(LinkRules, FailuresAreLimitedPerAddressAndRefill)
{
    static RateLimiter limiter;
    RateReset(&limiter);
    const uint32_t start = 0xFFFFF000u;  // the tick wraps during the test
    for (int i = 0; i < RATE_BURST; i++) {
        EXPECT_TRUE(RateAllows(&limiter, "10.0.0.1", start));
        RateRecordFailure(&limiter, "10.0.0.1", start);
    }
    EXPECT_FALSE(RateAllows(&limiter, "10.0.0.1", start));
    EXPECT_TRUE(RateAllows(&limiter, "10.0.0.2", start));
    EXPECT_FALSE(RateAllows(&limiter, "10.0.0.1", start + RATE_REFILL_MS - 1));
    EXPECT_TRUE(RateAllows(&limiter, "10.0.0.1", start + RATE_REFILL_MS));
    RateRecordFailure(&limiter, "10.0.0.1", start + RATE_REFILL_MS);
    EXPECT_FALSE(RateAllows(&limiter, "10.0.0.1", start + RATE_REFILL_MS + 1));
    // Long after, the whole allowance is back and no more.
    uint32_t later = start + 100 * RATE_REFILL_MS;
    for (int i = 0; i < RATE_BURST; i++) {
        EXPECT_TRUE(RateAllows(&limiter, "10.0.0.1", later));
        RateRecordFailure(&limiter, "10.0.0.1", later);
    }
    EXPECT_FALSE(RateAllows(&limiter, "10.0.0.1", later));

    // Many other addresses failing once each do not push a blocked address
    // out of the table.
    char address[32];
    for (int i = 0; i < 4 * RATE_ENTRIES; i++) {
        snprintf(address, sizeof address, "192.168.%d.%d", i / 200, i % 200);
        RateRecordFailure(&limiter, address, later);
    }
    EXPECT_FALSE(RateAllows(&limiter, "10.0.0.1", later));
}

TEST(LinkRules, ALinkGivesWayToItsOwnPhoneOrWhenSilent)
{
    const uint32_t now = 5;  // after a wrap: the link's last tick is "before 0"
    struct Case {
        bool linked;
        const char* linkAddress;
        uint32_t lastReceive;
        const char* newAddress;
        bool replaced;
    } cases[] = {
        {false, "",         0,                        "10.0.0.9", true },
        {true,  "10.0.0.9", now,                      "10.0.0.9", true }, // same phone reloaded
        {true,  "10.0.0.9", now,                      "10.0.0.8", false}, // another phone
        {true,  "10.0.0.9", now - LINK_SILENT_MS + 1, "10.0.0.8", false},
        {true,  "10.0.0.9", now - LINK_SILENT_MS,     "10.0.0.8", true }, // silent: gone
    };
    for (const Case& c : cases) {
        LinkView view = {c.linked, c.linkAddress, c.lastReceive};
        EXPECT_EQ(LinkMayBeReplaced(view, c.newAddress, now), c.replaced)
            << c.linkAddress << " " << c.lastReceive << " " << c.newAddress;
    }
}

TEST(LinkRules, HostAddressesArePrivateFirstWithoutLoopbackOrRepeats)
{
    HostInfo host;
    memset(&host, 0, sizeof host);
    const unsigned char addresses[][4] = {
        {169, 254, 3,   4 },
        {203, 0,   113, 5 },
        {127, 0,   0,   1 },
        {192, 168, 1,   20},
        {10,  1,   2,   3 },
        {192, 168, 1,   20},
        {172, 20,  0,   1 },
        {172, 32,  0,   1 }
    };
    for (const auto& a : addresses) {
        AddHostAddress(&host, a);
    }
    const char* expected[] = {"192.168.1.20", "10.1.2.3",   "172.20.0.1",
                              "203.0.113.5",  "172.32.0.1", "169.254.3.4"};
    ASSERT_EQ(host.addressCount, 6);
    for (int i = 0; i < 6; i++) {
        EXPECT_STREQ(host.addresses[i], expected[i]) << i;
    }
    // A full list keeps its best entries.
    for (int i = 0; i < 2 * HOST_ADDRESSES; i++) {
        const unsigned char a[4] = {10, 9, 9, static_cast<unsigned char>(i)};
        AddHostAddress(&host, a);
    }
    EXPECT_EQ(host.addressCount, HOST_ADDRESSES);
    EXPECT_STREQ(host.addresses[0], "192.168.1.20");
    EXPECT_STRNE(host.addresses[HOST_ADDRESSES - 1], "169.254.3.4");
}

}  // namespace
