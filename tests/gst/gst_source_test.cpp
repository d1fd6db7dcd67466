// ovalixsrc with the real service and phone stand-in: caps from the table,
// the requested size, placeholders and recovery, service restarts, two
// pipelines at once, and shutdown that never hangs.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <set>

#include "camera_block.h"
#include "gst_rig.h"
#include "placeholder_sample.h"
#include "test_pattern.h"  // the stand-in's BLOCK_COLOURS

namespace {

const uint32_t SHUTDOWN_LIMIT_MS = 1000;
const char THREE_FORMATS[] = "1280x720@30,640x480@25,320x240@15";

bool LiveAtLeast(const std::vector<SeenBuffer>& seen, size_t n)
{
    return CountLive(seen) >= n;
}

// Placeholders after the first n live frames.
size_t PlaceholdersAfterLive(const std::vector<SeenBuffer>& seen, size_t n)
{
    size_t live = 0, placeholders = 0;
    for (const SeenBuffer& b : seen) {
        live += b.hasCounter ? 1 : 0;
        placeholders += live >= n && b.placeholder ? 1 : 0;
    }
    return placeholders;
}

// Live frames after the last placeholder.
size_t LiveAfterPlaceholder(const std::vector<SeenBuffer>& seen)
{
    size_t live = 0;
    bool placeholder = false;
    for (const SeenBuffer& b : seen) {
        if (b.placeholder)
            placeholder = true, live = 0;
        else if (placeholder && b.hasCounter)
            ++live;
    }
    return live;
}

// Whatever the condition, a playing source stops within a second, by a state
// change to NULL and by EOS.
void ExpectQuickShutdown(const char* condition)
{
    SCOPED_TRACE(condition);
    const char* d = "ovalixsrc name=src timeout=300 ! appsink name=sink";
    auto any = [](const std::vector<SeenBuffer>& s, const std::vector<SeenPicture>&) {
        return !s.empty();
    };
    TestPipeline a(d);
    ASSERT_TRUE(a.Valid());
    ASSERT_TRUE(a.Play());
    EXPECT_TRUE(a.WaitFor(5000, any));
    EXPECT_LT(a.Stop(), SHUTDOWN_LIMIT_MS);

    TestPipeline b(d);
    ASSERT_TRUE(b.Play());
    EXPECT_TRUE(b.WaitFor(5000, any));
    uint64_t start = NowMs();
    EXPECT_TRUE(b.EndOfStream(SHUTDOWN_LIMIT_MS));
    EXPECT_LT(b.Stop() + (NowMs() - start), 2 * SHUTDOWN_LIMIT_MS);
}

// Every decoded picture is width x height.
void ExpectPictureSizes(const std::vector<SeenPicture>& pictures, int width, int height)
{
    for (const SeenPicture& picture : pictures) {
        EXPECT_EQ(width, picture.width);
        EXPECT_EQ(height, picture.height);
    }
}

class GstSourceTest : public ::testing::Test {
protected:
    // The service was last asked for width x height.
    void ExpectRequested(uint32_t width, uint32_t height)
    {
        uint32_t w = 0, h = 0;
        EXPECT_TRUE(rig.ReadRequestedSize(w, h));
        EXPECT_EQ(width, w);
        EXPECT_EQ(height, h);
    }
    void StartStreaming(const char* formats)
    {
        rig.StartService();
        ASSERT_TRUE(rig.WaitLinkState(LINK_IDLE, 10000));
        rig.StartPhone({"--mode", "3", "--formats", formats});
        ASSERT_TRUE(rig.WaitLinkState(LINK_STREAMING, 10000));
    }
    ServiceRig rig;
};

TEST_F(GstSourceTest, CapsMirrorTheTableAndNegotiationRequestsTheSize)
{
    StartStreaming(THREE_FORMATS);
    {
        // Started (PAUSED), the source offers the table, in order.
        TestPipeline p("ovalixsrc name=src ! appsink name=sink");
        ASSERT_TRUE(p.Valid());
        ASSERT_NE(gst_element_set_state(p.Pipeline(), GST_STATE_PAUSED), GST_STATE_CHANGE_FAILURE);
        GstPad* pad = gst_element_get_static_pad(p.Source(), "src");
        GstCaps* caps = gst_pad_query_caps(pad, nullptr);
        gst_object_unref(pad);
        GstCaps* expected =
            gst_caps_from_string("image/jpeg, width=1280, height=720, framerate=30/1; "
                                 "image/jpeg, width=640, height=480, framerate=25/1; "
                                 "image/jpeg, width=320, height=240, framerate=15/1");
        gchar* text = gst_caps_to_string(caps);
        EXPECT_TRUE(gst_caps_is_strictly_equal(caps, expected)) << text;
        g_free(text);
        gst_caps_unref(expected);
        gst_caps_unref(caps);
    }

    // A caps filter for the middle entry: the service renegotiates and the
    // frames decode at that size.
    TestPipeline p("ovalixsrc name=src ! image/jpeg,width=640,height=480 ! jpegdec ! "
                   "appsink name=sink");
    ASSERT_TRUE(p.Play());
    EXPECT_TRUE(p.WaitFor(
        10000, [](const std::vector<SeenBuffer>& s, const std::vector<SeenPicture>& pictures) {
            return LiveAtLeast(s, 10) && pictures.size() >= 10;
        }));
    ExpectRequested(640, 480);
    ExpectPictureSizes(p.Pictures(), 640, 480);
    for (const SeenBuffer& b : p.Seen()) {
        EXPECT_TRUE(b.hasPts);
        EXPECT_EQ(b.hasCounter, b.hasPhoneStamp);
    }

    // Live, with a frame of latency at the entry's 25 fps.
    GstQuery* latency = gst_query_new_latency();
    ASSERT_TRUE(gst_element_query(p.Source(), latency));
    gboolean live = FALSE;
    GstClockTime min = 0, max = 0;
    gst_query_parse_latency(latency, &live, &min, &max);
    gst_query_unref(latency);
    EXPECT_TRUE(live);
    EXPECT_EQ(GST_SECOND / 25, min);

    EXPECT_LT(p.Stop(), SHUTDOWN_LIMIT_MS);
    ExpectQuickShutdown("streaming");
}

TEST_F(GstSourceTest, RequestSizeAsksTheServiceAndCapsFollow)
{
    StartStreaming(THREE_FORMATS);
    TestPipeline p("ovalixsrc name=src request-size=320x240 ! jpegdec ! appsink name=sink");
    ASSERT_TRUE(p.Play());
    auto pictures_of = [](int width, int height) {
        return [=](const std::vector<SeenBuffer>&, const std::vector<SeenPicture>& pictures) {
            size_t n = 0;
            for (const SeenPicture& picture : pictures)
                n += picture.width == width && picture.height == height ? 1 : 0;
            return n >= 5;
        };
    };
    EXPECT_TRUE(p.WaitFor(10000, pictures_of(320, 240)));
    ExpectRequested(320, 240);

    // Changed while playing: the service renegotiates, the pictures follow.
    g_object_set(p.Source(), "request-size", "1280x720", nullptr);
    EXPECT_TRUE(p.WaitFor(10000, pictures_of(1280, 720)));
    ExpectRequested(1280, 720);

    // Not a size: ignored, the request stands.
    g_object_set(p.Source(), "request-size", "big", nullptr);
    gchar* text = nullptr;
    g_object_get(p.Source(), "request-size", &text, nullptr);
    EXPECT_STREQ("1280x720", text);
    g_free(text);
    EXPECT_LT(p.Stop(), SHUTDOWN_LIMIT_MS);
}

// The stand-in's still picture: the colour at the centre of each cell.
void ExpectBlocks(const SeenPicture& picture)
{
    const int tolerance = 40;  // JPEG and the colour conversion
    const int columns = BLOCK_COLUMNS, rows = BLOCK_ROWS;
    int cw = picture.width / columns, ch = picture.height / rows;
    ASSERT_EQ((size_t)picture.width * picture.height * 3, picture.rgb.size());
    for (int cell = 0; cell < columns * rows; ++cell) {
        int col = cell % columns, row = cell / columns;
        int w = col == columns - 1 ? picture.width - col * cw : cw;
        int h = row == rows - 1 ? picture.height - row * ch : ch;
        int x = col * cw + w / 2, y = row * ch + h / 2;
        const uint8_t* p = &picture.rgb[((size_t)y * picture.width + x) * 3];
        for (int c = 0; c < 3; ++c)
            EXPECT_NEAR(BLOCK_COLOURS[cell][c], p[c], tolerance)
                << "cell " << col << "," << row << " channel " << c;
    }
}

TEST_F(GstSourceTest, StartedBeforeThePhoneTheSourceTakesTheRequestedSize)
{
    // The service's default table says nothing about the phone: a source
    // started now offers any size and takes the one the block asks for,
    // instead of the default's 640 x 480.
    rig.StartService();
    ASSERT_TRUE(rig.WaitLinkState(LINK_IDLE, 10000));
    ASSERT_TRUE(rig.RequestSize(1280, 720));
    TestPipeline p("ovalixsrc name=src ! jpegdec ! appsink name=sink");
    ASSERT_TRUE(p.Play());
    rig.StartPhone({"--mode", "3", "--formats", THREE_FORMATS});
    EXPECT_TRUE(p.WaitFor(
        10000, [](const std::vector<SeenBuffer>& s, const std::vector<SeenPicture>& pictures) {
            return LiveAtLeast(s, 10) && pictures.size() >= 10;
        }));
    ExpectPictureSizes(p.Pictures(), 1280, 720);
    ExpectRequested(1280, 720);
    EXPECT_LT(p.Stop(), SHUTDOWN_LIMIT_MS);
}

TEST_F(GstSourceTest, DecodedPixelsAreThePhonesAndDamagedFramesAreDropped)
{
    // An odd size, so the last column and row are wider; every fourth frame
    // damaged (cut short, or a zero height in its header).
    rig.StartService();
    ASSERT_TRUE(rig.WaitLinkState(LINK_IDLE, 10000));
    rig.StartPhone(
        {"--mode", "3", "--formats", "642x482@30", "--pattern", "blocks", "--corrupt-every", "4"});
    ASSERT_TRUE(rig.WaitLinkState(LINK_STREAMING, 10000));
    TestPipeline p("ovalixsrc name=src timeout=2000 ! image/jpeg,width=642,height=482 ! jpegdec ! "
                   "videoconvert ! video/x-raw,format=RGB ! appsink name=sink");
    ASSERT_TRUE(p.Play());
    EXPECT_TRUE(p.WaitFor(
        10000, [](const std::vector<SeenBuffer>&, const std::vector<SeenPicture>& pictures) {
            return pictures.size() >= 20;
        }));
    for (const SeenPicture& picture : p.Pictures()) {
        EXPECT_EQ(642, picture.width);
        EXPECT_EQ(482, picture.height);
        ExpectBlocks(picture);
        if (HasFailure())
            break;
    }
    EXPECT_EQ(0u, CountPlaceholders(p.Seen(), -1));
    guint64 dropped = 0;
    g_object_get(p.Source(), "dropped-frames", &dropped, nullptr);
    EXPECT_GE(dropped, 4u);
    GstBus* bus = gst_element_get_bus(p.Pipeline());
    GstMessage* error = gst_bus_pop_filtered(bus, GST_MESSAGE_ERROR);
    EXPECT_EQ(nullptr, error);
    if (error != nullptr)
        gst_message_unref(error);
    gst_object_unref(bus);
    EXPECT_LT(p.Stop(), SHUTDOWN_LIMIT_MS);
}

TEST_F(GstSourceTest, PlaceholderWithoutServiceOrPhoneThenLiveByItself)
{
    TestPipeline p("ovalixsrc name=src timeout=300 ! image/jpeg,width=640,height=480 ! jpegdec ! "
                   "appsink name=sink");
    ASSERT_TRUE(p.Play());
    EXPECT_TRUE(p.WaitFor(
        5000, [](const std::vector<SeenBuffer>& s, const std::vector<SeenPicture>& pictures) {
            return CountPlaceholders(s, PLACEHOLDER_NO_SERVICE) >= 3 && pictures.size() >= 3;
        }));
    // The placeholder decodes at the negotiated size.
    ExpectPictureSizes(p.Pictures(), 640, 480);
    ExpectQuickShutdown("no service");

    rig.StartService();
    ASSERT_TRUE(rig.WaitLinkState(LINK_IDLE, 10000));
    EXPECT_TRUE(
        p.WaitFor(5000, [](const std::vector<SeenBuffer>& s, const std::vector<SeenPicture>&) {
            return CountPlaceholders(s, PLACEHOLDER_NO_PHONE) >= 2;
        }));
    ExpectQuickShutdown("no phone");

    rig.StartPhone({"--mode", "3", "--formats", THREE_FORMATS});
    EXPECT_TRUE(
        p.WaitFor(10000, [](const std::vector<SeenBuffer>& s, const std::vector<SeenPicture>&) {
            return LiveAtLeast(s, 10);
        }));
    // The size negotiated before the service existed was asked for.
    ExpectRequested(640, 480);
    EXPECT_LT(p.Stop(), SHUTDOWN_LIMIT_MS);
}

TEST_F(GstSourceTest, SilentPhoneGivesPlaceholderThenLiveAgain)
{
    rig.StartService();
    ASSERT_TRUE(rig.WaitLinkState(LINK_IDLE, 10000));
    // Each link sends 60 frames and then goes quiet; the service drops it and
    // the stand-in connects again.
    rig.StartPhone({"--mode", "3", "--formats", "640x480@30", "--silent-after", "frames:60"});
    ASSERT_TRUE(rig.WaitLinkState(LINK_STREAMING, 10000));
    TestPipeline p("ovalixsrc name=src timeout=400 ! appsink name=sink");
    ASSERT_TRUE(p.Play());
    EXPECT_TRUE(
        p.WaitFor(10000, [](const std::vector<SeenBuffer>& s, const std::vector<SeenPicture>&) {
            return PlaceholdersAfterLive(s, 10) >= 2;
        }));
    ExpectQuickShutdown("stalled phone");
    EXPECT_TRUE(
        p.WaitFor(15000, [](const std::vector<SeenBuffer>& s, const std::vector<SeenPicture>&) {
            return LiveAfterPlaceholder(s) >= 10;
        }));
    // Silence on a link that is still up reads "no picture".
    EXPECT_GE(CountPlaceholders(p.Seen(), PLACEHOLDER_NO_PICTURE), 1u);
    EXPECT_LT(p.Stop(), SHUTDOWN_LIMIT_MS);
}

TEST_F(GstSourceTest, ServiceRestartMidStream)
{
    StartStreaming(THREE_FORMATS);
    TestPipeline p("ovalixsrc name=src timeout=300 ! image/jpeg,width=640,height=480 ! jpegdec ! "
                   "appsink name=sink");
    ASSERT_TRUE(p.Play());
    EXPECT_TRUE(
        p.WaitFor(10000, [](const std::vector<SeenBuffer>& s, const std::vector<SeenPicture>&) {
            return LiveAtLeast(s, 10);
        }));

    EXPECT_TRUE(rig.StopService());
    EXPECT_TRUE(
        p.WaitFor(5000, [](const std::vector<SeenBuffer>& s, const std::vector<SeenPicture>&) {
            return CountPlaceholders(s, PLACEHOLDER_NO_SERVICE) >= 2;
        }));
    ExpectQuickShutdown("service stopped");

    // The restarted service asks for the last entry of its stored table
    // (320 x 240); the source asks again for its own size, and the phone,
    // which keeps trying to connect, streams it.
    rig.StartService();
    EXPECT_TRUE(
        p.WaitFor(15000, [](const std::vector<SeenBuffer>& s, const std::vector<SeenPicture>&) {
            return LiveAfterPlaceholder(s) >= 10;
        }));
    ExpectRequested(640, 480);
    ExpectPictureSizes(p.Pictures(), 640, 480);
    EXPECT_LT(p.Stop(), SHUTDOWN_LIMIT_MS);
}

TEST_F(GstSourceTest, TwoPipelinesAtOnceEachGetNearlyEveryFrame)
{
    StartStreaming("640x480@30");
    TestPipeline a("ovalixsrc name=src ! appsink name=sink");
    TestPipeline b("ovalixsrc name=src ! appsink name=sink");
    ASSERT_TRUE(a.Play());
    ASSERT_TRUE(b.Play());
    auto warm = [](const std::vector<SeenBuffer>& s, const std::vector<SeenPicture>&) {
        return LiveAtLeast(s, 5);
    };
    ASSERT_TRUE(a.WaitFor(10000, warm));
    ASSERT_TRUE(b.WaitFor(10000, warm));
    a.Clear();
    b.Clear();
    SleepMs(4000);
    std::vector<SeenBuffer> seen[2] = {a.Seen(), b.Seen()};
    std::set<uint32_t> counters[2];
    uint32_t first = UINT32_MAX, last = 0;
    for (int i = 0; i < 2; ++i) {
        for (const SeenBuffer& s : seen[i]) {
            EXPECT_FALSE(s.placeholder);
            if (!s.hasCounter)
                continue;
            counters[i].insert(s.counter);
            first = std::min(first, s.counter);
            last = std::max(last, s.counter);
        }
    }
    ASSERT_LT(first, last);
    // Both readers were awake over the same frames, first..last.
    double sent = (double)(last - first + 1);
    EXPECT_GE((double)counters[0].size() / sent, 0.95) << counters[0].size() << " of " << sent;
    EXPECT_GE((double)counters[1].size() / sent, 0.95) << counters[1].size() << " of " << sent;
    EXPECT_LT(a.Stop(), SHUTDOWN_LIMIT_MS);
    EXPECT_LT(b.Stop(), SHUTDOWN_LIMIT_MS);
}

// A stop and start attaches at once (no "no camera service" card); another
// user cutting the named objects under a waiting pipeline neither ends this
// process nor stops its frames; and a frame whose header claims a size in no
// table is never followed, even by a pipeline that would take any size.
TEST_F(GstSourceTest, RestartsCutObjectsAndForgedSizesNeverStopLiveFrames)
{
    StartStreaming("640x480@30,320x240@30");
    TestPipeline p("ovalixsrc name=src timeout=300 ! appsink name=sink");
    auto live = [](const std::vector<SeenBuffer>& s, const std::vector<SeenPicture>&) {
        return LiveAtLeast(s, 10);
    };
    ASSERT_TRUE(p.Play());
    ASSERT_TRUE(p.WaitFor(10000, live));
    for (int cycle = 0; cycle < 3; ++cycle) {
        p.Stop();
        p.Clear();
        ASSERT_TRUE(p.Play());
        EXPECT_TRUE(p.WaitFor(5000, live));
        EXPECT_EQ(0u, CountPlaceholders(p.Seen(), PLACEHOLDER_NO_SERVICE)) << cycle;
    }

    for (const char* name : {"/OvalixSvcMemory", "/OvalixSvcMutex", "/OvalixReadyEvent"}) {
        int fd = shm_open(name, O_RDWR, 0);
        ASSERT_GE(fd, 0) << name;
        EXPECT_EQ(0, ftruncate(fd, 0)) << name;
        close(fd);
        p.Clear();
        EXPECT_TRUE(p.WaitFor(5000, live)) << name;
    }

    for (int i = 0; i < 20; ++i) {
        ASSERT_TRUE(rig.ForgeFrameSize(4095, 4095));
        SleepMs(40);
    }
    p.Clear();
    EXPECT_TRUE(p.WaitFor(5000, live));
    GstPad* pad = gst_element_get_static_pad(p.Source(), "src");
    GstCaps* caps = gst_pad_get_current_caps(pad);
    ASSERT_NE(caps, nullptr);
    int width = 0, height = 0;
    GstStructure* st = gst_caps_get_structure(caps, 0);
    gst_structure_get_int(st, "width", &width);
    gst_structure_get_int(st, "height", &height);
    EXPECT_EQ(640, width);
    EXPECT_EQ(480, height);
    gst_caps_unref(caps);
    gst_object_unref(pad);
    EXPECT_LT(p.Stop(), SHUTDOWN_LIMIT_MS);
}

// A pipeline fixed to one size gets placeholders while another reader holds
// another size, then asks for its own again and gets live frames.
TEST_F(GstSourceTest, AFixedPipelineStarvedByAnotherReaderAsksAgain)
{
    StartStreaming("640x480@30,320x240@30");
    TestPipeline p("ovalixsrc name=src timeout=300 ! image/jpeg,width=640,height=480 ! "
                   "appsink name=sink");
    ASSERT_TRUE(p.Play());
    ASSERT_TRUE(
        p.WaitFor(10000, [](const std::vector<SeenBuffer>& s, const std::vector<SeenPicture>&) {
            return LiveAtLeast(s, 10);
        }));
    ASSERT_TRUE(rig.RequestSize(320, 240));
    EXPECT_TRUE(
        p.WaitFor(5000, [](const std::vector<SeenBuffer>& s, const std::vector<SeenPicture>&) {
            return CountPlaceholders(s, PLACEHOLDER_NO_PICTURE) >= 2;
        }));
    uint64_t starved = NowMs();
    EXPECT_TRUE(
        p.WaitFor(15000, [](const std::vector<SeenBuffer>& s, const std::vector<SeenPicture>&) {
            return LiveAfterPlaceholder(s) >= 10;
        }));
    printf("live again %llu ms after the first placeholders\n",
           (unsigned long long)(NowMs() - starved));
    ExpectRequested(640, 480);
    EXPECT_LT(p.Stop(), SHUTDOWN_LIMIT_MS);
}

}  // namespace
