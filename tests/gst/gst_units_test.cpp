// The plain parts of ovalixsrc: caps from a table, fixation to a preferred
// size and the request-size text.
#include <gtest/gtest.h>

#include <string>

#include "source_caps.h"

namespace {

std::string Text(const GstCaps* caps)
{
    gchar* text = gst_caps_to_string(caps);
    std::string s(text);
    g_free(text);
    return s;
}

TEST(SourceCaps, OneStructurePerEntryInTableOrderAndFixationPrefersASize)
{
    // Two entries of one size at different rates stay two structures.
    const VideoFormat formats[] = {
        {1280, 720, 30.0f },
        {640,  480, 30.0f },
        {640,  480, 15.0f },
        {320,  240, 29.97f}
    };
    GstCaps* caps = CapsForFormats(formats, 4);
    GstCaps* expected =
        gst_caps_from_string("image/jpeg, width=1280, height=720, framerate=30/1; "
                             "image/jpeg, width=640, height=480, framerate=30/1; "
                             "image/jpeg, width=640, height=480, framerate=15/1; "
                             "image/jpeg, width=320, height=240, framerate=2997/100");
    EXPECT_TRUE(gst_caps_is_strictly_equal(caps, expected)) << Text(caps);
    gst_caps_unref(expected);

    // The first entry of the preferred size wins; a size not offered gives null.
    GstCaps* fixed = FixateToSize(gst_caps_ref(caps), {640, 480});
    ASSERT_NE(nullptr, fixed);
    PictureSize size;
    int n = 0, d = 0;
    EXPECT_TRUE(ReadCapsFormat(fixed, size, n, d));
    EXPECT_EQ(640u, size.width);
    EXPECT_EQ(30, n);
    EXPECT_EQ(1, d);
    gst_caps_unref(fixed);
    EXPECT_EQ(nullptr, FixateToSize(gst_caps_ref(caps), {800, 600}));

    // The size that is flowing is kept available once, at the end.
    AppendSizeIfMissing(caps, {640, 480}, 30, 1);
    EXPECT_EQ(4u, gst_caps_get_size(caps));
    AppendSizeIfMissing(caps, {176, 144}, 10, 1);
    ASSERT_EQ(5u, gst_caps_get_size(caps));
    gst_caps_unref(caps);

    // Until a phone's table is known: the offer first, then any size.
    FormatOffer offer;
    OfferFromTable(nullptr, OFFER_DEFAULT, 0, 0, offer);
    caps = CapsForOffer(offer);
    fixed = FixateToSize(gst_caps_ref(caps), {1920, 1080});
    ASSERT_NE(nullptr, fixed);
    EXPECT_TRUE(ReadCapsFormat(fixed, size, n, d));
    EXPECT_EQ(1920u, size.width);
    EXPECT_EQ(1080u, size.height);
    gst_caps_unref(fixed);
    fixed = gst_caps_fixate(caps);
    EXPECT_TRUE(ReadCapsFormat(fixed, size, n, d));
    EXPECT_EQ(640u, size.width);
    EXPECT_EQ(480u, size.height);
    gst_caps_unref(fixed);
}

}  // namespace
