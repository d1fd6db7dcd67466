// ovalix-camera: publishes the phone as a camera in the user's PipeWire
// daemon. It turns what the consumer feed gives into PipeWire buffers with
// the picture library, as every other consumer does: the phone's JPEG
// frames, decoded straight into the buffer and only while a consumer takes
// them, or the placeholder card. The size a consumer negotiates is the size
// the feed asks the service for; a frame of another size (the service still
// switching) is not shown, and the card bridges the switch.

#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <atomic>

#include "camera_feed.h"
#include "camera_options.h"
#include "frame_stats.h"
#include "picture_convert.h"
#include "pipewire_camera.h"
#include "placeholder_sample.h"
#include "ticks.h"
#include "video_formats.h"

namespace {

// No consumer: how often to look again. A consumer's coming wakes the wait.
const uint32_t IDLE_SLEEP_MS = 1000;
const uint32_t FRAME_WAIT_MS = 50;  // consumer: longest wait for a frame
const uint32_t FORMAT_CHECK_MS = 1000;
const int LOGGED_NOTHING = -1;  // what the log said last: a placeholder kind,
const int LOGGED_LIVE = -2;     // the live picture, or nothing yet

std::atomic<bool> stopRequested(false);
CCameraFeed* stopFeed = nullptr;
CWakeSignal* stopIdle = nullptr;

// Waking only stores a word and makes futex calls, which a signal handler
// may do.
void OnStopSignal(int)
{
    stopRequested = true;
    if (stopFeed != nullptr)
        stopFeed->Cancel();
    if (stopIdle != nullptr)
        stopIdle->Wake();
}

// What the fill functions need; one per process.
struct Camera {
    CCameraFeed feed;
    CWakeSignal streamChanged;  // woken by PipeWire's thread and by stop signals
    CPictureConverter converter;
    PictureTarget converting;  // the target the converter was started for
    bool converterReady;
    ConvertResult converted;
    CPlaceholderSample placeholder;
    CameraFrame frame;
    FeedItem item;
    // For --stats: frame counters and latency as the phone numbered them.
    bool collectStats;
    CFrameStats stats;
    bool sentInRun;         // a frame went out since the last consumer came
    uint32_t runFrames;     // frames sent since then
    int32_t runFirstAgeMs;  // its first live frame: phone stamp to queued, or -1
    uint32_t runStartMs;
    uint32_t lastSentMs;
    uint32_t largestGapMs;
};

bool SameTarget(const PictureTarget& a, const PictureTarget& b)
{
    return a.layout == b.layout && a.width == b.width && a.height == b.height;
}

bool FillLive(uint8_t* buffer, uint32_t capacity, const PictureTarget& target, void* context)
{
    Camera& c = *static_cast<Camera*>(context);
    if (!c.converterReady || !SameTarget(target, c.converting)) {
        c.converting = target;
        c.converterReady = c.converter.Start(target);
    }
    uint32_t written = 0;
    c.converted = c.converterReady
                      ? c.converter.FromJpeg(c.frame.data, c.frame.size, buffer, capacity, written)
                      : CONVERT_BAD;
    return c.converted == CONVERT_OK;
}

bool FillPlaceholder(uint8_t* buffer, uint32_t capacity, const PictureTarget& target, void* context)
{
    Camera& c = *static_cast<Camera*>(context);
    uint32_t length = 0;
    const uint8_t* card = c.placeholder.Get(c.item.placeholder, target, length);
    if (card == nullptr || length > capacity)
        return false;
    memcpy(buffer, card, length);
    return true;
}

void NoteSent(Camera& c, uint32_t now, bool live)
{
    if (!c.collectStats)
        return;
    if (c.sentInRun && now - c.lastSentMs > c.largestGapMs)
        c.largestGapMs = now - c.lastSentMs;
    c.sentInRun = true;
    ++c.runFrames;
    c.lastSentMs = now;
    if (live) {
        uint32_t counter = 0;
        bool has = ReadFrameCounter(c.frame.data, c.frame.size, counter);
        c.stats.Add(has, counter, (int32_t)(now - c.frame.stamp));
        if (c.runFirstAgeMs < 0)
            c.runFirstAgeMs = (int32_t)(now - c.frame.stamp);
    }
}

// Offers the block view's formats whenever they change: the live table, the
// stored one or the default entry, as every other consumer offers them.
void UpdateFormats(Camera& c, CPipeWireCamera& pipewire, uint32_t& offeredGeneration)
{
    c.feed.Attach();
    BlockViewState view;
    c.feed.View().Read(view);
    if (view.generation == offeredGeneration)
        return;
    offeredGeneration = view.generation;
    pipewire.SetFormats(view.offer.formats, view.offer.count);
}

// One thing from the feed into a PipeWire buffer, and a line in the log
// when the picture changes between live and a placeholder kind.
void SendNext(Camera& c, CPipeWireCamera& pipewire, int& logged)
{
    FeedResult got = c.feed.Next(FRAME_WAIT_MS, c.frame, c.item);
    if (got == FEED_LIVE) {
        c.converted = CONVERT_OK;
        if (!pipewire.SendFrame(FillLive, &c)) {
            // A frame of another size is not a loss: the feed's pacing
            // brings the card if nothing else comes.
            if (c.converted != CONVERT_OTHER_SIZE)
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

// With --stats, one line each time the consumers go: what this stream sent.
void EndRun(Camera& c)
{
    if (c.collectStats)
        printf("camera run frames=%u ms=%u first_frame_age_ms=%d\n", c.runFrames,
               GetTickMs() - c.runStartMs, c.runFirstAgeMs);
    fflush(stdout);
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

// Stop signals end the loop and cancel the feed's and the idle wait.
void InstallStopSignals(Camera& c)
{
    stopFeed = &c.feed;
    stopIdle = &c.streamChanged;
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
    uint32_t offeredGeneration = c.feed.View().Generation() - 1;
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
            UpdateFormats(c, pipewire, offeredGeneration);
        }
        if (!pipewire.Streaming()) {
            if (wasStreaming)
                EndRun(c);
            wasStreaming = false;
            // Cleared before the last looks, so a change or a stop after
            // them ends the wait at once.
            c.streamChanged.Clear();
            if (!stopRequested && !pipewire.Streaming())
                c.streamChanged.Sleep(IDLE_SLEEP_MS);
            continue;
        }
        if (!wasStreaming) {
            // Frames while nobody took any are neither gaps nor losses.
            wasStreaming = true;
            c.feed.Start();
            c.stats.NewRun();
            c.sentInRun = false;
            c.runFrames = 0;
            c.runFirstAgeMs = -1;
            c.runStartMs = GetTickMs();
        }
        // Each new negotiation asks the service for its size; the feed asks
        // again after a restart of the service.
        PictureTarget target;
        uint32_t generation = 0;
        if (pipewire.Negotiated(target, generation) && generation != lastGeneration) {
            lastGeneration = generation;
            c.feed.SetWantedSize(target.width, target.height);
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
    c.converterReady = false;
    c.converted = CONVERT_OK;
    c.collectStats = options.stats;
    c.sentInRun = false;
    c.runFrames = c.runStartMs = 0;
    c.runFirstAgeMs = -1;
    c.lastSentMs = 0;
    c.largestGapMs = 0;
    InstallStopSignals(c);

    CameraNodeInfo info = {options.nodeName, options.description};
    CPipeWireCamera pipewire;
    if (!pipewire.Start(info, c.streamChanged)) {
        fputs("ovalix-camera: cannot start PipeWire's thread\n", stderr);
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
