// ovalix-snap's command line: messages and exit codes scripts rely on.

#include <gtest/gtest.h>

#include <string>

#include "command_line.h"
#include "snap_options.h"

namespace {

int Parse(std::initializer_list<const char*> args, SnapOptions& o, std::string& error)
{
    CommandLine line("ovalix-snap", args);
    char text[256] = "";
    int rc = ParseSnapOptions(line.Argc(), line.Argv(), o, text, sizeof text);
    error = text;
    return rc;
}

TEST(SnapOptions, ValuesDefaultsAndMessages)
{
    SnapOptions o;
    std::string error;
    ASSERT_EQ(0, Parse({}, o, error));
    EXPECT_DOUBLE_EQ(5.0, o.seconds);
    EXPECT_EQ(0u, o.width);
    ASSERT_EQ(0, Parse({"--size", "640x480", "--seconds", "2.5", "--save", "a.png",
                        "--save-live", "b.bmp", "--device", "--builder", "--quiet"}, o, error));
    EXPECT_EQ(640u, o.width);
    EXPECT_EQ(480u, o.height);
    EXPECT_DOUBLE_EQ(2.5, o.seconds);
    EXPECT_STREQ("a.png", o.save);
    EXPECT_STREQ("b.bmp", o.saveLive);
    EXPECT_TRUE(o.device && o.builder && o.quiet);
    EXPECT_FALSE(o.list || o.vmr9);

    ASSERT_EQ(0, Parse({"--subtype", "MJPG", "--fps", "15"}, o, error));
    EXPECT_STREQ("MJPG", o.subtype);
    EXPECT_DOUBLE_EQ(15.0, o.fps);

    EXPECT_EQ(1, Parse({"-h"}, o, error));
    EXPECT_EQ(-1, Parse({"--subtype", "NV12"}, o, error));
    EXPECT_EQ("bad subtype: NV12", error);
    EXPECT_EQ(-1, Parse({"--fps", "0"}, o, error));
    EXPECT_EQ("bad rate: 0", error);
    EXPECT_EQ(-1, Parse({"--size", "0x480"}, o, error));
    EXPECT_EQ("bad size: 0x480", error);
    EXPECT_EQ(-1, Parse({"--seconds", "0"}, o, error));
    EXPECT_EQ("bad seconds: 0", error);
    EXPECT_EQ(-1, Parse({"--save"}, o, error));
    EXPECT_EQ("--save needs a value", error);
    EXPECT_EQ(-1, Parse({"--frobnicate"}, o, error));
    EXPECT_EQ("unknown argument: --frobnicate", error);
}

}  // namespace
