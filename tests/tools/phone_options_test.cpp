// The phone stand-in's command line: messages and exit codes scripts rely on.

#include <gtest/gtest.h>

#include <string>

#include "command_line.h"
#include "phone_options.h"

namespace {

int Parse(std::initializer_list<const char*> args, PhoneOptions& o, std::string& error)
{
    CommandLine line("ovalix-phone", args);
    char text[300] = "";
    int rc = ParsePhoneOptions(line.Argc(), line.Argv(), o, text, sizeof text);
    error = text;
    return rc;
}

TEST(PhoneOptions, ValuesDefaultsAndMessages)
{
    PhoneOptions o;
    std::string error;
    ASSERT_EQ(0, Parse({"--listen", "6000", "--no-advertise", "--formats", "320x240@15,64x48",
                        "--silent-after", "frames:7", "--pattern", "blocks", "--log"},
                       o, error));
    EXPECT_EQ(PHONE_LISTEN, o.transport);
    EXPECT_EQ(6000, o.port);
    EXPECT_FALSE(o.advertise);
    ASSERT_EQ(2u, o.formatCount);
    EXPECT_EQ(320u, o.formats[0].width);
    EXPECT_FLOAT_EQ(15.0f, o.formats[0].fps);
    EXPECT_EQ(48u, o.formats[1].height);
    EXPECT_FLOAT_EQ(30.0f, o.formats[1].fps);
    EXPECT_EQ(SILENT_FRAMES, o.silence);
    EXPECT_EQ(7u, o.silentFrames);
    EXPECT_TRUE(o.blocks);
    EXPECT_TRUE(o.log);

    // A fresh parse: the defaults again.
    ASSERT_EQ(0, Parse({"--connect", "example.test:6001"}, o, error));
    EXPECT_EQ(PHONE_CONNECT, o.transport);
    EXPECT_STREQ("example.test", o.host);
    EXPECT_EQ(6001, o.port);
    EXPECT_EQ(3u, o.formatCount);
    EXPECT_EQ(80, o.quality);
    EXPECT_TRUE(o.advertise);

    EXPECT_EQ(1, Parse({"--help"}, o, error));
    EXPECT_EQ(-1, Parse({"--quality", "0"}, o, error));
    EXPECT_EQ("bad value for --quality: 0", error);
    EXPECT_EQ(-1, Parse({"--formats", "0x240@30"}, o, error));
    EXPECT_EQ("bad value for --formats: 0x240@30", error);
    EXPECT_EQ(-1, Parse({"--seconds"}, o, error));
    EXPECT_EQ("bad value for --seconds: (missing)", error);
    EXPECT_EQ(-1, Parse({"--bogus"}, o, error));
    EXPECT_EQ("unknown argument: --bogus", error);
    EXPECT_EQ(-1, Parse({"stray"}, o, error));
    EXPECT_EQ("unknown argument: stray", error);
}

TEST(PhoneOptions, FormatListsHoldOnlyWhatATableEntryCan)
{
    PhoneFormat formats[PHONE_MAX_FORMATS];
    uint32_t count = 0;
    EXPECT_TRUE(ParseFormatList("4095x4095@1000", formats, count));
    for (const char* bad : {"", "640x480@", "640x480@0", "4096x480", "+640x480",
                            "640x480;320x240", "640 x480"})
        EXPECT_FALSE(ParseFormatList(bad, formats, count)) << bad;
}

}  // namespace
