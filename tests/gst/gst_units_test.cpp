// The plain parts of ovalixsrc: caps from a table, fixation to a preferred
// size, the request-size text and the placeholder picture.
#include <gtest/gtest.h>
#include <turbojpeg.h>

#include <string>
#include <vector>

#include "placeholder.h"
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

// Decodes a JPEG to RGB; empty on failure.
std::vector<uint8_t> Decode(const uint8_t* jpeg, uint32_t size, int& width, int& height)
{
    tjhandle h = tjInitDecompress();
    int sub = 0, space = 0;
    std::vector<uint8_t> rgb;
    if (tjDecompressHeader3(h, jpeg, size, &width, &height, &sub, &space) == 0) {
        rgb.resize((size_t)width * height * 3);
        if (tjDecompress2(h, jpeg, size, rgb.data(), width, 0, height, TJPF_RGB, 0) != 0)
            rgb.clear();
    }
    tjDestroy(h);
    return rgb;
}

TEST(Placeholder, EveryKindEncodesAtTheSizeWithItsMarkAndVisibleText)
{
    CPlaceholderImages images;
    const PictureSize sizes[] = {
        {640,  480},
        {176,  144},
        {1280, 720}
    };
    for (const PictureSize& s : sizes) {
        images.SetSize(s.width, s.height);
        for (int k = 0; k < PLACEHOLDER_KIND_COUNT; ++k) {
            SCOPED_TRACE(testing::Message() << s.width << "x" << s.height << " kind " << k);
            uint32_t size = 0;
            const uint8_t* jpeg = images.Jpeg((PlaceholderKind)k, 200000, size);
            ASSERT_NE(nullptr, jpeg);
            PlaceholderKind kind;
            ASSERT_TRUE(ReadPlaceholderKind(jpeg, size, kind));
            EXPECT_EQ(k, (int)kind);
            int w = 0, h = 0;
            std::vector<uint8_t> rgb = Decode(jpeg, size, w, h);
            ASSERT_FALSE(rgb.empty());
            EXPECT_EQ((int)s.width, w);
            EXPECT_EQ((int)s.height, h);
            // A dark card with light lettering: some, but few, bright pixels.
            size_t bright = 0, pixels = rgb.size() / 3;
            for (size_t i = 0; i < pixels; ++i)
                bright += rgb[3 * i] > 200 && rgb[3 * i + 1] > 200 && rgb[3 * i + 2] > 200;
            EXPECT_GT(bright, pixels / 200);
            EXPECT_LT(bright, pixels / 5);
        }
    }
    // Too small a buffer: no picture rather than a cut one.
    uint32_t size = 0;
    EXPECT_EQ(nullptr, images.Jpeg(PLACEHOLDER_NO_PHONE, 1000, size));
}

TEST(Placeholder, PhoneFramesAndDamagedCommentsAreNotPlaceholders)
{
    PlaceholderKind kind;
    const uint8_t phone[] = {0xFF, 0xD8, 0xFF, 0xFE, 0x00, 0x0A, 'O', 'V', 'X', 'F', 1, 0, 0, 0};
    EXPECT_FALSE(ReadPlaceholderKind(phone, sizeof phone, kind));
    CPlaceholderImages images;
    images.SetSize(320, 240);
    uint32_t size = 0;
    const uint8_t* jpeg = images.Jpeg(PLACEHOLDER_NO_SERVICE, 200000, size);
    ASSERT_NE(nullptr, jpeg);
    std::vector<uint8_t> copy(jpeg, jpeg + size);
    copy[5] = 0xFF;  // a comment length past the end
    EXPECT_FALSE(ReadPlaceholderKind(copy.data(), (uint32_t)copy.size(), kind));
    EXPECT_FALSE(ReadPlaceholderKind(copy.data(), 8, kind));
}

}  // namespace
