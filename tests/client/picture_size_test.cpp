#include <gtest/gtest.h>

#include <string.h>

#include "picture_size.h"

TEST(PictureSize, WholeTextIsOneSizeWithinTheTableLimits)
{
    PictureSize size = {0, 0};
    EXPECT_TRUE(ParsePictureSize("640x480", size));
    EXPECT_EQ(640u, size.width);
    EXPECT_EQ(480u, size.height);
    EXPECT_TRUE(ParsePictureSize("4095x1", size));
    EXPECT_EQ(4095u, size.width);
    EXPECT_EQ(1u, size.height);
    for (const char* bad : {"", "640", "640x", "x480", "0x480", "640x0", "4096x480", "640x4096",
                            "640x480x", "640x480 ", " 640x480", "-640x480", "+640x480", "640x-480",
                            "640X480", "4294967936x480", "0640x0", "big"})
        EXPECT_FALSE(ParsePictureSize(bad, size)) << bad;
    EXPECT_FALSE(ParsePictureSize(nullptr, size));
    // A refused text leaves the last good size alone.
    EXPECT_EQ(4095u, size.width);
    EXPECT_EQ(1u, size.height);
}

TEST(PictureSize, ReadingAPrefixStopsAfterTheSize)
{
    PictureSize size = {0, 0};
    const char* text = "1280x720@30,640x480";
    const char* end = ReadPictureSize(text, size);
    ASSERT_NE(nullptr, end);
    EXPECT_EQ(0, strcmp(end, "@30,640x480"));
    EXPECT_EQ(1280u, size.width);
    EXPECT_EQ(720u, size.height);
    EXPECT_EQ(nullptr, ReadPictureSize("1280x@30", size));
    EXPECT_EQ(nullptr, ReadPictureSize("5000x720@30", size));
}
