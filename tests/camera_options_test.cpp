// ovalix-camera's command line.

#include <gtest/gtest.h>

#include <vector>

#include "camera_options.h"

namespace {

bool Parse(std::vector<const char*> args, CameraOptions& o)
{
    args.insert(args.begin(), "ovalix-camera");
    args.push_back(nullptr);   // argv ends with a null pointer
    return ParseCameraOptions((int)args.size() - 1, const_cast<char**>(args.data()), o);
}

TEST(CameraOptions, DefaultsValuesAndRefusals)
{
    CameraOptions o;
    ASSERT_TRUE(Parse({}, o));
    EXPECT_STREQ("ovalix-camera", o.nodeName);
    EXPECT_STREQ("Ovalix Camera", o.description);
    EXPECT_FALSE(o.stats);
    EXPECT_EQ(0u, o.seconds);
    ASSERT_TRUE(Parse({"--node-name", "cam2", "--description", "Second", "--stats", "--seconds",
                       "20"}, o));
    EXPECT_STREQ("cam2", o.nodeName);
    EXPECT_STREQ("Second", o.description);
    EXPECT_TRUE(o.stats);
    EXPECT_EQ(20u, o.seconds);
    for (std::vector<const char*> bad : std::vector<std::vector<const char*>>{
             {"--node-name", ""}, {"--description"}, {"--seconds", "0"}, {"--seconds", "-5"},
             {"--seconds", "5x"}, {"--seconds", "99999999999"}, {"--help"}, {"extra"}})
        EXPECT_FALSE(Parse(bad, o)) << bad[0];
}

}  // namespace
