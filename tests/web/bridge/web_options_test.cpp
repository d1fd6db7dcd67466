// ovalix-web's command line: each word and value, and what is refused.

#include <gtest/gtest.h>
#include <string.h>

#include <string>
#include <vector>

#include "options.h"

namespace {

bool Parse(std::vector<std::string> words, WebOptions* options)
{
    words.insert(words.begin(), "ovalix-web");
    std::vector<char*> argv;
    for (std::string& w : words) {
        argv.push_back(&w[0]);
    }
    char error[128];
    return ParseWebOptions(static_cast<int>(argv.size()), argv.data(), options, error,
                           sizeof error);
}

TEST(WebOptions, DefaultsCommandsAndValues)
{
    WebOptions o;
    ASSERT_TRUE(Parse({}, &o));
    EXPECT_EQ(o.command, WEB_RUN);
    EXPECT_EQ(o.port, 5056);
    EXPECT_EQ(o.pairPort, 5057);
    EXPECT_EQ(o.servicePort, 5055);
    EXPECT_STREQ(o.stateDir, "");

    ASSERT_TRUE(Parse({"pair", "--port", "6056", "--pair-port", "6057", "--service-port", "6055",
                       "--state-dir", "/tmp/x y"},
                      &o));
    EXPECT_EQ(o.command, WEB_PAIR);
    EXPECT_EQ(o.port, 6056);
    EXPECT_EQ(o.pairPort, 6057);
    EXPECT_EQ(o.servicePort, 6055);
    EXPECT_STREQ(o.stateDir, "/tmp/x y");

    ASSERT_TRUE(Parse({"service"}, &o));
    EXPECT_EQ(o.command, WEB_SERVICE);
    ASSERT_TRUE(Parse({"run", "--help"}, &o));
    EXPECT_EQ(o.command, WEB_HELP);
}

TEST(WebOptions, RefusesWhatItDoesNotKnow)
{
    WebOptions o;
    EXPECT_FALSE(Parse({"serve"}, &o));
    EXPECT_FALSE(Parse({"run", "pair"}, &o));
    EXPECT_FALSE(Parse({"--bogus", "1"}, &o));
    EXPECT_FALSE(Parse({"--port"}, &o));
    EXPECT_FALSE(Parse({"--port", "0"}, &o));
    EXPECT_FALSE(Parse({"--port", "65536"}, &o));
    EXPECT_FALSE(Parse({"--port", "80x"}, &o));
    EXPECT_FALSE(Parse({"--service-port", ""}, &o));
    EXPECT_FALSE(Parse({"--state-dir"}, &o));
    EXPECT_FALSE(Parse({"--state-dir", std::string(600, 'a')}, &o));
}

}  // namespace
