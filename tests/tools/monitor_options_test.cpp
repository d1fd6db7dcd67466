// ovalix-monitor's command line: one command, with only its own options.

#include <gtest/gtest.h>

#include "command_line.h"
#include "monitor_options.h"

namespace {

bool Parse(std::initializer_list<const char*> args, MonitorOptions& o)
{
    CommandLine line("ovalix-monitor", args);
    return ParseMonitorOptions(line.Argc(), line.Argv(), o);
}

TEST(MonitorOptions, EachCommandWithItsOptions)
{
    MonitorOptions o;
    ASSERT_TRUE(Parse({}, o));
    EXPECT_EQ(MONITOR_PRINT, o.command);
    ASSERT_TRUE(Parse({"--watch"}, o));
    EXPECT_EQ(MONITOR_WATCH, o.command);
    ASSERT_TRUE(Parse({"--request", "1280x720"}, o));
    EXPECT_EQ(MONITOR_REQUEST, o.command);
    EXPECT_EQ(1280u, o.request.width);
    EXPECT_EQ(720u, o.request.height);
    ASSERT_TRUE(Parse({"--wait-state", "2", "--timeout", "5000"}, o));
    EXPECT_EQ(MONITOR_WAIT_STATE, o.command);
    EXPECT_EQ(2u, o.state);
    EXPECT_TRUE(o.haveTimeout);
    EXPECT_EQ(5000u, o.timeoutMs);
    ASSERT_TRUE(Parse({"--take", "--seconds", "1.5", "--frames", "30", "--save", "/tmp/x",
                       "--quiet", "--newest-only", "--fresh"},
                      o));
    EXPECT_EQ(MONITOR_TAKE, o.command);
    EXPECT_DOUBLE_EQ(1.5, o.take.seconds);
    EXPECT_EQ(30u, o.take.frames);
    EXPECT_STREQ("/tmp/x", o.take.saveDir);
    EXPECT_TRUE(o.take.quiet);
    EXPECT_TRUE(o.take.newestOnly);
    EXPECT_TRUE(o.take.fresh);
    // A second parse starts afresh.
    ASSERT_TRUE(Parse({"--wait-state", "0"}, o));
    EXPECT_FALSE(o.haveTimeout);
}

TEST(MonitorOptions, RefusesSizesTheTableCannotHoldAndMixedCommands)
{
    MonitorOptions o;
    EXPECT_FALSE(Parse({"--request", "0x480"}, o));
    EXPECT_FALSE(Parse({"--request", "640x0"}, o));
    EXPECT_FALSE(Parse({"--request", "4096x480"}, o));
    EXPECT_FALSE(Parse({"--request", "640x5000"}, o));
    EXPECT_FALSE(Parse({"--request"}, o));
    EXPECT_FALSE(Parse({"--wait-state", "-1"}, o));
    EXPECT_FALSE(Parse({"--wait-state", "1", "--timeout", "x"}, o));
    EXPECT_FALSE(Parse({"--take", "--seconds", "-1"}, o));
    EXPECT_FALSE(Parse({"--take", "--timeout", "5"}, o));
    EXPECT_FALSE(Parse({"--wait-state", "1", "--quiet"}, o));
    EXPECT_FALSE(Parse({"--quiet"}, o));
    EXPECT_FALSE(Parse({"--watch", "--take"}, o));
    EXPECT_FALSE(Parse({"--watch", "extra"}, o));
    EXPECT_FALSE(Parse({"--bogus"}, o));
}

}  // namespace
