// ovalix-camera's command line.

#include <gtest/gtest.h>

#include "camera_options.h"
#include "command_line.h"

namespace {

bool Parse(std::initializer_list<const char*> args, CameraOptions& o)
{
    CommandLine line("ovalix-camera", args);
    return ParseCameraOptions(line.Argc(), line.Argv(), o);
}

TEST(CameraOptions, DefaultsValuesAndRefusals)
{
    CameraOptions o;
    ASSERT_TRUE(Parse({}, o));
    EXPECT_STREQ("ovalix-camera", o.nodeName);
    EXPECT_STREQ("Ovalix Camera", o.description);
    EXPECT_FALSE(o.stats);
    EXPECT_EQ(0u, o.seconds);
    ASSERT_TRUE(
        Parse({"--node-name", "cam2", "--description", "Second", "--stats", "--seconds", "20"}, o));
    EXPECT_STREQ("cam2", o.nodeName);
    EXPECT_STREQ("Second", o.description);
    EXPECT_TRUE(o.stats);
    EXPECT_EQ(20u, o.seconds);
    EXPECT_FALSE(Parse({"--node-name", ""}, o));
    EXPECT_FALSE(Parse({"--description"}, o));
    EXPECT_FALSE(Parse({"--seconds", "0"}, o));
    EXPECT_FALSE(Parse({"--seconds", "-5"}, o));
    EXPECT_FALSE(Parse({"--seconds", "5x"}, o));
    EXPECT_FALSE(Parse({"--seconds", "99999999999"}, o));
    EXPECT_FALSE(Parse({"--help"}, o));
    EXPECT_FALSE(Parse({"extra"}, o));
}

}  // namespace
