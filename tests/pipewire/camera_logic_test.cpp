// What the camera decides without a daemon: the offers its node makes (one
// fixed format each, I420 first, colours said) read back as a consumer reads
// them, and when it renews its buffer pool.
#include <gtest/gtest.h>

#include <spa/param/video/format-utils.h>
#include <spa/pod/iter.h>

#include "camera_formats.h"
#include "pool_renewal.h"

namespace {

TEST(CameraOffers, OneFixedFormatEachInPreferredOrderWithColoursAndTheChosenOneParsed)
{
    // An odd size is offered in packed RGB only.
    const VideoFormat formats[] = {
        {1280, 720, 30.0f },
        {641,  480, 29.97f},
        {320,  240, 15.0f }
    };
    static uint8_t buffer[32768];
    spa_pod_builder b = SPA_POD_BUILDER_INIT(buffer, sizeof buffer);
    const spa_pod* params[CAMERA_MAX_OFFERS];
    uint32_t n = BuildCameraOffers(formats, 3, b, params);
    const struct {
        uint32_t format, width, num, den;
    } want[] = {
        {SPA_VIDEO_FORMAT_I420, 1280, 30,   1  },
        {SPA_VIDEO_FORMAT_I420, 320,  15,   1  },
        {SPA_VIDEO_FORMAT_YUY2, 1280, 30,   1  },
        {SPA_VIDEO_FORMAT_YUY2, 320,  15,   1  },
        {SPA_VIDEO_FORMAT_BGR,  1280, 30,   1  },
        {SPA_VIDEO_FORMAT_BGR,  641,  2997, 100},
        {SPA_VIDEO_FORMAT_BGR,  320,  15,   1  }
    };
    ASSERT_EQ(sizeof want / sizeof want[0], n);
    for (uint32_t i = 0; i < n; ++i) {
        // Every property a single value: no choice anywhere.
        const spa_pod_object* o = reinterpret_cast<const spa_pod_object*>(params[i]);
        const spa_pod_prop* p;
        SPA_POD_OBJECT_FOREACH(o, p)
        {
            EXPECT_NE(SPA_TYPE_Choice, p->value.type) << i;
        }
        spa_video_info_raw info = {};
        // The count of properties read, or a negative error.
        ASSERT_LE(0, spa_format_video_raw_parse(params[i], &info)) << i;
        EXPECT_EQ(want[i].format, info.format) << i;
        EXPECT_EQ(want[i].width, info.size.width) << i;
        EXPECT_EQ(want[i].num, info.framerate.num) << i;
        EXPECT_EQ(want[i].den, info.framerate.denom) << i;
        bool yuv = want[i].format != SPA_VIDEO_FORMAT_BGR;
        EXPECT_EQ(yuv ? SPA_VIDEO_COLOR_RANGE_16_235 : SPA_VIDEO_COLOR_RANGE_0_255,
                  info.color_range)
            << i;
        if (yuv) {
            EXPECT_EQ(SPA_VIDEO_COLOR_MATRIX_BT601, info.color_matrix) << i;
        }

        // A consumer's choice is the offer itself.
        PictureTarget t;
        ASSERT_TRUE(ParseChosenFormat(params[i], t)) << i;
        EXPECT_EQ(want[i].width, t.width);
        EXPECT_TRUE(t.padded);
        EXPECT_EQ(CAMERA_LAYOUTS[i / 2 < 2 ? i / 2 : 2], t.layout) << i;
    }

    // Formats the camera never offered are refused.
    spa_pod_builder c = SPA_POD_BUILDER_INIT(buffer, sizeof buffer);
    spa_rectangle odd = SPA_RECTANGLE(641, 480);
    spa_fraction rate = SPA_FRACTION(30, 1);
    const spa_pod* oddI420 = static_cast<const spa_pod*>(spa_pod_builder_add_object(
        &c, SPA_TYPE_OBJECT_Format, SPA_PARAM_Format, SPA_FORMAT_mediaType,
        SPA_POD_Id(SPA_MEDIA_TYPE_video), SPA_FORMAT_mediaSubtype,
        SPA_POD_Id(SPA_MEDIA_SUBTYPE_raw), SPA_FORMAT_VIDEO_format,
        SPA_POD_Id(SPA_VIDEO_FORMAT_I420), SPA_FORMAT_VIDEO_size, SPA_POD_Rectangle(&odd),
        SPA_FORMAT_VIDEO_framerate, SPA_POD_Fraction(&rate)));
    PictureTarget t;
    EXPECT_FALSE(ParseChosenFormat(oddI420, t));
    EXPECT_FALSE(ParseChosenFormat(nullptr, t));
}

// One frame's verdict per character: '.' a buffer came, 'x' none, 'X' none
// and the pool is renewed; 'n' a new pool of two buffers (a consumer chose a
// format), 'l' a consumer left.
void Replay(const char* script)
{
    PoolWatch w;
    PoolWatchStart(w);
    uint32_t buffers = 0;
    for (const char* s = script; *s; ++s) {
        if (*s == 'n') {
            PoolWatchNewPool(w);
            for (; buffers > 0; --buffers)
                PoolWatchBufferRemoved(w);
            for (; buffers < 2; ++buffers)
                PoolWatchBufferAdded(w);
            continue;
        }
        if (*s == 'l') {
            PoolWatchConsumerLeft(w);
            continue;
        }
        bool renewed = PoolWatchFrame(w, *s == '.');
        EXPECT_EQ(*s == 'X', renewed) << "frame " << (s - script) << " of " << script;
    }
}

std::string Repeat(char c, int n)
{
    return std::string((size_t)n, c);
}

TEST(PoolRenewal, BacksOffAndNeverRenewsASettingUpConsumerForever)
{
    const std::string x4 = Repeat('x', 4), x9 = Repeat('x', 9), x19 = Repeat('x', 19);
    const std::string x39 = Repeat('x', 39), x59 = Repeat('x', 59), steady = Repeat('.', 60);
    // "n.." takes the new pool's two free buffers; the next '.' is one the
    // consumer gave back.
    const std::string cases[] = {
        // Flowing, then starved: renewed after 5 frames; each renewal that
        // brings back only a trickle doubles the wait, up to 60.
        "n..." + x4 + "X..." + x9 + "X..." + x19 + "X..." + x39 + "X..." + x59 + "X..." + x59 + "X",
        // A steady flow brings the wait back to 5.
        "n..." + x4 + "X..." + x9 + "X" + steady + x4 + "X",
        // A consumer setting up: renewed once after 60 frames, then left to
        // finish however long it takes, also when it took the pool's free
        // buffers before it stalled.
        "n" + x59 + "X" + Repeat('x', 500) + "..." + x4 + "X",
        "n.." + x59 + "X" + Repeat('x', 500),
        // A renewal followed by a set-up counts as one: the new pool's
        // consumer gets its set-up time.
        "n..." + x4 + "X" + "n" + x59 + "X" + Repeat('x', 300),
        // A consumer gone while another stays: the pool may lack its buffers.
        "n" + Repeat('.', 10) + "l" + x4 + "X",
        // Frames with buffers never renew.
        "n" + Repeat('.', 200),
    };
    for (const std::string& c : cases)
        Replay(c.c_str());
}

}  // namespace
