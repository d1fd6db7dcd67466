// ovalix-camera: publishes the phone as a camera in the user's PipeWire
// daemon. It reads the shared camera block through the consumer library,
// decodes the phone's JPEG frames only while a consumer takes them, sends a
// placeholder while there is nothing live, and writes the size a consumer
// negotiates into the block so that the service asks the phone for it.

#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <atomic>

#include "camera_client.h"
#include "camera_options.h"
#include "frame_renderer.h"
#include "frame_stats.h"
#include "pipewire_camera.h"
#include "placeholder_pacing.h"
#include "placeholder_picture.h"
#include "ticks.h"
#include "video_formats.h"

namespace {

const uint32_t IDLE_SLEEP_MS = 100;       // no consumer: how often to look again
const uint32_t FRAME_WAIT_MS = 50;        // consumer: longest wait for a frame
const uint32_t PLACEHOLDER_PERIOD_MS = 200;
const uint32_t PLACEHOLDER_STALL_MS = 1000;
const uint32_t FORMAT_CHECK_MS = 1000;

std::atomic<bool> stopRequested(false);

void OnStopSignal(int)
{
    stopRequested = true;
}

// What the fill functions need; one per process.
struct Camera {
    CCameraClient client;
    CFrameRenderer renderer;
    CPlaceholderPicture placeholder;
    CameraFrame frame;
    PlaceholderKind kind;
    // Counters for --stats and the log.
    uint64_t decodeFailures;
    uint64_t placeholders;
    bool collectStats;
    CFrameStats stats;
    uint32_t lastSentMs;
    uint32_t largestGapMs;
};

bool FillLive(uint8_t* buffer, const RawLayout& layout, void* context)
{
    Camera& c = *static_cast<Camera*>(context);
    if (c.renderer.RenderJpeg(c.frame.data, c.frame.size, layout, buffer))
        return true;
    ++c.decodeFailures;
    return false;
}

bool FillPlaceholder(uint8_t* buffer, const RawLayout& layout, void* context)
{
    Camera& c = *static_cast<Camera*>(context);
    YcbcrPicture picture;
    if (!c.placeholder.Get(c.kind, layout.width, layout.height, picture))
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

}  // namespace

int main(int argc, char** argv)
{
    CameraOptions options;
    if (!ParseCameraOptions(argc, argv, options)) {
        fputs(CAMERA_USAGE, stderr);
        return 2;
    }
    struct sigaction sa;
    memset(&sa, 0, sizeof sa);
    sa.sa_handler = OnStopSignal;
    sigaction(SIGTERM, &sa, nullptr);
    sigaction(SIGINT, &sa, nullptr);
    signal(SIGPIPE, SIG_IGN);

    Camera* camera = new Camera();
    Camera& c = *camera;
    c.kind = PLACEHOLDER_NO_SERVICE;
    c.decodeFailures = 0;
    c.placeholders = 0;
    c.collectStats = options.stats;
    c.lastSentMs = 0;
    c.largestGapMs = 0;
    if (!c.renderer.Ready()) {
        fputs("ovalix-camera: cannot set up the JPEG decoder\n", stderr);
        delete camera;
        return 1;
    }

    CameraNodeInfo info = { options.nodeName, options.description };
    CPipeWireCamera pipewire;
    if (!pipewire.Start(info)) {
        fputs("ovalix-camera: cannot start PipeWire's thread\n", stderr);
        delete camera;
        return 1;
    }

    VideoFormat offered[FORMAT_MAX_ENTRIES];
    uint32_t offeredCount = 1;
    offered[0] = DEFAULT_VIDEO_FORMAT;
    uint32_t start = GetTickMs();
    uint32_t lastFormatCheck = 0;
    bool checkedOnce = false;
    bool wasStreaming = false;
    bool requestPending = false;
    uint32_t lastGeneration = 0;
    uint32_t lastAttachments = 0;
    PlaceholderPacing pacing;
    PacingStart(pacing, start, PLACEHOLDER_STALL_MS, PLACEHOLDER_PERIOD_MS);
    PlaceholderKind loggedKind = PLACEHOLDER_KIND_COUNT;
    uint64_t liveFrames = 0;

    while (!stopRequested) {
        uint32_t now = GetTickMs();
        if (options.seconds != 0 && now - start >= options.seconds * 1000)
            break;
        pipewire.Upkeep(now);

        if (!checkedOnce || now - lastFormatCheck >= FORMAT_CHECK_MS) {
            checkedOnce = true;
            lastFormatCheck = now;
            FormatTable table;
            if (c.client.Attach() && c.client.ReadFormats(table)) {
                VideoFormat formats[FORMAT_MAX_ENTRIES];
                uint32_t n = UsableFormats(table, formats);
                if (!SameFormats(formats, n, offered, offeredCount)) {
                    memcpy(offered, formats, n * sizeof formats[0]);
                    offeredCount = n;
                    pipewire.SetFormats(offered, offeredCount);
                }
            }
        }

        if (!pipewire.Streaming()) {
            wasStreaming = false;
            ClientSleepMs(IDLE_SLEEP_MS);
            continue;
        }
        if (!wasStreaming) {
            wasStreaming = true;
            PacingStart(pacing, now, PLACEHOLDER_STALL_MS, PLACEHOLDER_PERIOD_MS);
        }

        // A new negotiation, or a restarted service, gets the size written.
        RawLayout layout;
        uint32_t generation = 0;
        if (pipewire.Negotiated(layout, generation) && generation != lastGeneration) {
            lastGeneration = generation;
            requestPending = true;
        }
        if (c.client.Attachments() != lastAttachments) {
            lastAttachments = c.client.Attachments();
            requestPending = true;
        }
        if (requestPending && c.client.IsAttached() && pipewire.Negotiated(layout, generation)) {
            c.client.RequestSize(layout.width, layout.height);
            requestPending = false;
        }

        if (c.client.WaitNewest(FRAME_WAIT_MS, c.frame) == CLIENT_FRAME) {
            if (pipewire.SendFrame(FillLive, &c)) {
                now = GetTickMs();
                PacingLiveSent(pacing, now);
                NoteSent(c, now, true);
                if (++liveFrames == 1 || loggedKind != PLACEHOLDER_KIND_COUNT)
                    fputs("ovalix-camera: live picture\n", stderr);
                loggedKind = PLACEHOLDER_KIND_COUNT;
            }
            continue;
        }
        now = GetTickMs();
        bool linkStreaming = c.client.LinkStreaming();
        c.kind = PlaceholderKindFor(c.client.IsAttached(), linkStreaming);
        if (PacingDueInMs(pacing, now, linkStreaming) == 0 &&
            pipewire.SendFrame(FillPlaceholder, &c)) {
            PacingPlaceholderSent(pacing, now);
            NoteSent(c, now, false);
            ++c.placeholders;
            if (c.kind != loggedKind)
                fprintf(stderr, "ovalix-camera: placeholder %s\n", PlaceholderKindName(c.kind));
            loggedKind = c.kind;
        }
    }

    pipewire.Stop();
    if (options.stats) {
        printf("camera frames=%llu drops=%llu placeholders=%llu decode_failures=%llu "
               "largest_gap_ms=%u latency_p50_ms=%d latency_p99_ms=%d\n",
               (unsigned long long)c.stats.Frames(), (unsigned long long)c.stats.Drops(),
               (unsigned long long)c.placeholders, (unsigned long long)c.decodeFailures,
               c.largestGapMs, c.stats.LatencyPercentile(50), c.stats.LatencyPercentile(99));
    }
    delete camera;
    return 0;
}
