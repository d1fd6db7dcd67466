// ovalix-camera: publishes the phone as a camera in the user's PipeWire
// daemon. It turns what the consumer feed gives into PipeWire buffers: the
// phone's JPEG frames, decoded only while a consumer takes them, or the
// placeholder; the size a consumer negotiates is the size the feed asks the
// service for.

#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <atomic>

#include "camera_feed.h"
#include "camera_options.h"
#include "frame_renderer.h"
#include "frame_stats.h"
#include "pipewire_camera.h"
#include "placeholder_picture.h"
#include "ticks.h"
#include "video_formats.h"

namespace {

const uint32_t IDLE_SLEEP_MS = 100;       // no consumer: how often to look again
const uint32_t FRAME_WAIT_MS = 50;        // consumer: longest wait for a frame
const uint32_t FORMAT_CHECK_MS = 1000;
const int LOGGED_NOTHING = -1;   // what the log said last: a placeholder kind,
const int LOGGED_LIVE = -2;      // the live picture, or nothing yet

std::atomic<bool> stopRequested(false);
CCameraFeed* stopFeed = nullptr;

// Waking the feed only stores a word and makes futex calls, which a signal
// handler may do.
void OnStopSignal(int)
{
    stopRequested = true;
    if (stopFeed != nullptr)
        stopFeed->Cancel();
}

// What the fill functions need; one per process.
struct Camera {
    CCameraFeed feed;
    CFrameRenderer renderer;
    CPlaceholderPicture placeholder;
    CameraFrame frame;
    FeedItem item;
    // For --stats: frame counters and latency as the phone numbered them.
    bool collectStats;
    CFrameStats stats;
    uint32_t lastSentMs;
    uint32_t largestGapMs;
};

bool FillLive(uint8_t* buffer, const RawLayout& layout, void* context)
{
    Camera& c = *static_cast<Camera*>(context);
    return c.renderer.RenderJpeg(c.frame.data, c.frame.size, layout, buffer);
}

bool FillPlaceholder(uint8_t* buffer, const RawLayout& layout, void* context)
{
    Camera& c = *static_cast<Camera*>(context);
    YcbcrPicture picture;
    if (!c.placeholder.Get(c.item.placeholder, layout.width, layout.height, picture))
        return false;
    c.renderer.RenderPicture(picture, layout, buffer);
    return true;
}

bool SameFormats(const VideoFormat* a, uint32_t na, const VideoFormat* b, uint32_t nb)
{
    if (na != nb)
        return false;
    for (uint32_t i = 0; i < na; ++i)
        if (a[i].width != b[i].width || a[i].height != b[i].height || a[i].fps != b[i].fps)
            return false;
    return true;
}

void NoteSent(Camera& c, uint32_t now, bool live)
{
    if (!c.collectStats)
        return;
    if (c.stats.Frames() > 0 && now - c.lastSentMs > c.largestGapMs)
        c.largestGapMs = now - c.lastSentMs;
    c.lastSentMs = now;
    if (live) {
        uint32_t counter = 0;
        bool has = ReadFrameCounter(c.frame.data, c.frame.size, counter);
        c.stats.Add(has, counter, (int32_t)(now - c.frame.stamp));
    }
}

// Offers the block's formats when they have changed.
void UpdateFormats(Camera& c, CPipeWireCamera& pipewire, VideoFormat (&offered)[FORMAT_MAX_ENTRIES],
                   uint32_t& offeredCount)
{
    FormatTable table;
    if (!c.feed.Attach() || !c.feed.Client().ReadFormats(table))
        return;
    VideoFormat formats[FORMAT_MAX_ENTRIES];
    uint32_t n = UsableFormats(table, formats);
    if (!SameFormats(formats, n, offered, offeredCount)) {
        memcpy(offered, formats, n * sizeof formats[0]);
        offeredCount = n;
        pipewire.SetFormats(offered, offeredCount);
    }
}

// One thing from the feed into a PipeWire buffer, and a line in the log
// when the picture changes between live and a placeholder kind.
void SendNext(Camera& c, CPipeWireCamera& pipewire, int& logged)
{
    FeedResult got = c.feed.Next(FRAME_WAIT_MS, c.frame, c.item);
    if (got == FEED_LIVE) {
        if (!pipewire.SendFrame(FillLive, &c)) {
            c.feed.Dropped();
            return;
        }
        c.feed.Shown();
        NoteSent(c, GetTickMs(), true);
        if (logged != LOGGED_LIVE)
            fputs("ovalix-camera: live picture\n", stderr);
        logged = LOGGED_LIVE;
    } else if (got == FEED_PLACEHOLDER && pipewire.SendFrame(FillPlaceholder, &c)) {
        c.feed.Shown();
        NoteSent(c, GetTickMs(), false);
        if ((int)c.item.placeholder != logged)
            fprintf(stderr, "ovalix-camera: placeholder %s\n",
                    PlaceholderKindName(c.item.placeholder));
        logged = (int)c.item.placeholder;
    }
}

void PrintStats(Camera& c)
{
    FeedCounts counts;
    c.feed.ReadCounts(counts);
    printf("camera frames=%llu drops=%llu placeholders=%llu decode_failures=%llu "
           "largest_gap_ms=%u latency_p50_ms=%d latency_p99_ms=%d\n",
           (unsigned long long)c.stats.Frames(), (unsigned long long)c.stats.Drops(),
           (unsigned long long)counts.placeholders,
           (unsigned long long)(counts.dropped + counts.damaged), c.largestGapMs,
           c.stats.LatencyPercentile(50), c.stats.LatencyPercentile(99));
}

// Stop signals end the loop and cancel the feed's wait.
void InstallStopSignals(CCameraFeed& feed)
{
    stopFeed = &feed;
    struct sigaction sa;
    memset(&sa, 0, sizeof sa);
    sa.sa_handler = OnStopSignal;
    sigaction(SIGTERM, &sa, nullptr);
    sigaction(SIGINT, &sa, nullptr);
    signal(SIGPIPE, SIG_IGN);
}

// Streams until a stop signal or the end of --seconds: the block's formats
// offered, the negotiated size asked for, the feed's output sent.
void Run(Camera& c, CPipeWireCamera& pipewire, const CameraOptions& options)
{
    VideoFormat offered[FORMAT_MAX_ENTRIES] = { DEFAULT_VIDEO_FORMAT };
    uint32_t offeredCount = 1;
    uint32_t start = GetTickMs();
    uint32_t lastFormatCheck = start - FORMAT_CHECK_MS;
    bool wasStreaming = false;
    uint32_t lastGeneration = 0;
    int logged = LOGGED_NOTHING;
    while (!stopRequested) {
        uint32_t now = GetTickMs();
        if (options.seconds != 0 && now - start >= options.seconds * 1000)
            break;
        pipewire.Upkeep(now);
        if (now - lastFormatCheck >= FORMAT_CHECK_MS) {
            lastFormatCheck = now;
            UpdateFormats(c, pipewire, offered, offeredCount);
        }
        if (!pipewire.Streaming()) {
            wasStreaming = false;
            c.feed.Pause(IDLE_SLEEP_MS);
            continue;
        }
        if (!wasStreaming) {
            wasStreaming = true;
            c.feed.Start();
        }
        // Each new negotiation asks the service for its size; the feed asks
        // again after a restart of the service.
        RawLayout layout;
        uint32_t generation = 0;
        if (pipewire.Negotiated(layout, generation) && generation != lastGeneration) {
            lastGeneration = generation;
            c.feed.SetWantedSize(layout.width, layout.height);
        }
        SendNext(c, pipewire, logged);
    }
}

}  // namespace

int main(int argc, char** argv)
{
    CameraOptions options;
    if (!ParseCameraOptions(argc, argv, options)) {
        fputs(CAMERA_USAGE, stderr);
        return 2;
    }
    Camera* camera = new Camera();
    Camera& c = *camera;
    c.collectStats = options.stats;
    c.lastSentMs = 0;
    c.largestGapMs = 0;
    InstallStopSignals(c.feed);

    CameraNodeInfo info = { options.nodeName, options.description };
    CPipeWireCamera pipewire;
    if (!c.renderer.Ready() || !pipewire.Start(info)) {
        fputs(c.renderer.Ready() ? "ovalix-camera: cannot start PipeWire's thread\n"
                                 : "ovalix-camera: cannot set up the JPEG decoder\n",
              stderr);
        stopFeed = nullptr;
        delete camera;
        return 1;
    }
    Run(c, pipewire, options);
    pipewire.Stop();
    if (options.stats)
        PrintStats(c);
    stopFeed = nullptr;
    delete camera;
    return 0;
}
