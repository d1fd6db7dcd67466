// Every consumer takes its formats from the block view, so the capture
// filter's stream types, the Media Foundation source's types and ovalixsrc's
// caps list the same formats in the same order, in each case the view
// knows: a running service's table, the stored table without a service, and
// the default entry without either.
#include <gst/gst.h>
#include <gtest/gtest.h>

#include <chrono>
#include <thread>
#include <vector>

// Before the media source's types: they declare a function of the name of
// ovalixsrc's picture size.
#include "source_caps.h"

#include "block_view.h"
#include "block_writer.h"
#include "camera_types.h"
#include "format_table_of.h"
#include "stored_table_access.h"
#include "stream_types.h"
#include "ticks.h"

namespace {

std::vector<VideoFormat> FilterFormats(const FormatOffer& offer)
{
    StreamType types[STREAM_TYPE_MAX];
    uint32_t n = BuildStreamTypes(offer.formats, offer.count, types);
    std::vector<VideoFormat> out;
    for (uint32_t i = 0; i < n; ++i)
        if (types[i].kind == SAMPLE_MJPG)
            out.push_back(types[i].entry);
    return out;
}

std::vector<VideoFormat> CameraFormats(const FormatOffer& offer)
{
    CameraType types[CAMERA_MAX_TYPES];
    uint32_t n = OfferedCameraTypes(offer.formats, offer.count, types);
    std::vector<VideoFormat> out;
    for (uint32_t i = 0; i < n; ++i)
        if (types[i].subtype == CAMERA_NV12)
            out.push_back(types[i].format);
    return out;
}

// The fixed structures at the front of the caps; "any size" may follow.
std::vector<VideoFormat> CapsFormats(const FormatOffer& offer, bool& openAfter)
{
    GstCaps* caps = CapsForOffer(offer);
    std::vector<VideoFormat> out;
    openAfter = false;
    for (guint i = 0; i < gst_caps_get_size(caps); ++i) {
        GstCaps* one = gst_caps_copy_nth(caps, i);
        struct PictureSize size;
        int n = 0, d = 0;
        if (gst_caps_is_fixed(one) && ReadCapsFormat(one, size, n, d))
            out.push_back({size.width, size.height, (float)n / (float)d});
        else
            openAfter = true;
        gst_caps_unref(one);
    }
    gst_caps_unref(caps);
    return out;
}

void ExpectSame(const std::vector<VideoFormat>& want, const std::vector<VideoFormat>& got,
                const char* who)
{
    ASSERT_EQ(want.size(), got.size()) << who;
    for (size_t i = 0; i < want.size(); ++i) {
        EXPECT_EQ(want[i].width, got[i].width) << who << " " << i;
        EXPECT_EQ(want[i].height, got[i].height) << who << " " << i;
        EXPECT_FLOAT_EQ(want[i].fps, got[i].fps) << who << " " << i;
    }
}

struct Expected {
    std::vector<VideoFormat> formats;
    uint32_t preferred;
    OfferSource source;
    bool final;
    bool newGeneration;
};

void ExpectEveryConsumerOffers(const Expected& want, CBlockView& view, const char* what)
{
    SCOPED_TRACE(what);
    CCameraClient client;
    FormatOffer offer;
    FormatsToOffer(client, offer);
    ExpectSame(want.formats, std::vector<VideoFormat>(offer.formats, offer.formats + offer.count),
               "view");
    EXPECT_EQ(offer.preferred, want.preferred);
    EXPECT_EQ(offer.source, want.source);
    EXPECT_EQ(offer.final, want.final);
    ExpectSame(want.formats, FilterFormats(offer), "filter");
    ExpectSame(want.formats, CameraFormats(offer), "media source");
    bool open = false;
    ExpectSame(want.formats, CapsFormats(offer, open), "ovalixsrc");
    EXPECT_EQ(open, !want.final) << "any size after a table that is not the phone's";

    // The view a feed keeps says the same, under a new generation when the
    // formats changed.
    uint32_t generation = view.Generation();
    view.Update(client, GetTickMs());
    BlockViewState state;
    view.Read(state);
    ExpectSame(
        want.formats,
        std::vector<VideoFormat>(state.offer.formats, state.offer.formats + state.offer.count),
        "block view");
    EXPECT_EQ(state.generation != generation, want.newGeneration);
    EXPECT_EQ(state.attached, want.source == OFFER_LIVE);
    client.Detach();
}

TEST(ConsumerOffers, EveryConsumerOffersTheSameFormatsLiveStoredAndWithoutService)
{
    gst_init(nullptr, nullptr);
    UseTemporaryStore();
    RemoveStoredKey();
    CBlockView view;
    Expected none;
    none.formats.push_back(DEFAULT_VIDEO_FORMAT);
    none.preferred = 0;
    none.source = OFFER_DEFAULT;
    none.final = false;
    none.newGeneration = false;  // what a view holds before its first look
    ExpectEveryConsumerOffers(none, view, "no service, nothing stored");

    // A table a service saved after a phone had connected; a starting
    // service asks for its last entry. Without a service the view looks at
    // the store at most once a second.
    FormatTable stored = TableOf({
        {1280, 720, 30},
        {640,  480, 15},
        {320,  240, 10}
    });
    stored.header.magic = 0xDEADC0DE;
    WriteStoredValue(&stored, sizeof stored);
    Expected fromStore = none;
    fromStore.formats = {
        {1280, 720, 30},
        {640,  480, 15},
        {320,  240, 10}
    };
    fromStore.preferred = 2;
    fromStore.source = OFFER_STORED;
    fromStore.newGeneration = true;
    std::this_thread::sleep_for(std::chrono::milliseconds(1100));
    ExpectEveryConsumerOffers(fromStore, view, "no service, a stored table");

    // The service starts with that table, then a phone sends its own; the
    // block asks for the size another reader chose.
    ASSERT_TRUE(OpenSharedBlock());
    g_formats = TableOf({
        {1280, 720, 30},
        {854,  480, 30},
        {0,    480, 30},
        {176,  144, 10}
    });
    g_formats.header.magic = 0xDEADC0DE;
    PublishFormats();
    SetRequestedSize(854, 480);
    Expected live = fromStore;
    live.formats = {
        {1280, 720, 30},
        {854,  480, 30},
        {176,  144, 10}
    };
    live.preferred = 1;
    live.source = OFFER_LIVE;
    live.final = true;
    ExpectEveryConsumerOffers(live, view, "a phone's table");
    CloseServiceResources();
    RemoveStoredKey();
    gst_deinit();
}

TEST(ConsumerOffers, ATableWithNothingUsableOffersTheDefaultAndNothingPastTheTable)
{
    FormatOffer offer;
    FormatTable empty = TableOf({});
    OfferFromTable(&empty, OFFER_LIVE, 0, 0, offer);
    ASSERT_EQ(offer.count, 1u);
    EXPECT_EQ(offer.formats[0].width, 640u);
    EXPECT_EQ(offer.preferred, 0u);
    FormatTable hostile = TableOf({
        {320, 240, 30}
    });
    hostile.count = 0xFFFFFFFF;  // clamped, never read past the table
    OfferFromTable(&hostile, OFFER_LIVE, 0, 0, offer);
    EXPECT_EQ(offer.count, 1u);
    // Without a size asked for, or one the table lacks, the last entry: the
    // one the service sends.
    FormatTable t = TableOf({
        {1280, 720, 30},
        {640,  480, 15},
        {320,  240, 10}
    });
    OfferFromTable(&t, OFFER_LIVE, 320, 480, offer);
    EXPECT_EQ(offer.preferred, 2u);
    EXPECT_FALSE(offer.final) << "the service's own table is not a phone's";
}

}  // namespace
