#include "frame_taker.h"

#include <stdio.h>
#include <string.h>

#include <filesystem>

#include "block_consumer.h"
#include "frame_stats.h"
#include "ticks.h"

namespace {

const uint32_t EVENT_WAIT_MS = 100;  // bounded, so Ctrl-C and --seconds work

void SaveFrame(const char* dir, const CameraFrame& frame, bool hasCounter, uint32_t counter,
               uint64_t index)
{
    char path[4096];
    snprintf(path, sizeof(path), "%s/frame-%llu.jpg", dir,
             hasCounter ? (unsigned long long)counter : (unsigned long long)index);
    FILE* f = fopen(path, "wb");
    if (f == nullptr)
        return;
    fwrite(frame.data, 1, frame.size, f);
    fclose(f);
}

}  // namespace

int TakeFrames(CCameraClient& client, const TakeOptions& options)
{
    if (options.saveDir != nullptr) {
        std::error_code ignored;
        std::filesystem::create_directories(options.saveDir, ignored);
    }

    // Up to a whole ring can be taken in one go, oldest first.
    static CameraFrame taken[FRAME_SLOT_COUNT];
    CFrameStats stats;
    uint32_t start = GetTickMs();
    uint32_t lastLine = start;
    uint64_t framesAtLastLine = 0;
    uint32_t lastStamp = 0;
    uint32_t waiting = 0;
    if (options.fresh)
        client.WaitAll(0, taken, FRAME_SLOT_COUNT, waiting);

    while (!Interrupted()) {
        uint32_t now = GetTickMs();
        if (options.seconds > 0 && (double)(now - start) >= options.seconds * 1000.0)
            break;
        if (options.frames != 0 && stats.Frames() >= options.frames)
            break;

        uint32_t count = 0;
        if (options.newestOnly)
            count = client.WaitNewest(EVENT_WAIT_MS, taken[0]) == CLIENT_FRAME ? 1 : 0;
        else
            client.WaitAll(EVENT_WAIT_MS, taken, FRAME_SLOT_COUNT, count);
        if (count > 0) {
            uint32_t arrival = GetTickMs();
            for (uint32_t n = 0; n < count; ++n) {
                uint32_t counter = 0;
                bool hasCounter = ReadFrameCounter(taken[n].data, taken[n].size, counter);
                int32_t latency = (int32_t)(arrival - taken[n].stamp);
                uint64_t index = stats.Frames();
                stats.Add(hasCounter, counter, latency);
                lastStamp = taken[n].stamp;
                if (options.saveDir != nullptr)
                    SaveFrame(options.saveDir, taken[n], hasCounter, counter, index);
                if (options.frames != 0 && stats.Frames() >= options.frames)
                    break;
            }
        }

        now = GetTickMs();
        if (now - lastLine >= 1000) {
            double fps =
                (double)(stats.Frames() - framesAtLastLine) * 1000.0 / (double)(now - lastLine);
            if (!options.quiet) {
                uint32_t link = LINK_IDLE;
                client.ReadLinkState(link);
                printf("link=%u fps=%.1f frames=%llu drops=%llu stamp=%u latency_ms=%d\n",
                       (unsigned)link, fps, (unsigned long long)stats.Frames(),
                       (unsigned long long)stats.Drops(), (unsigned)lastStamp,
                       (int)stats.LastLatency());
                fflush(stdout);
            }
            lastLine = now;
            framesAtLastLine = stats.Frames();
        }
    }

    double seconds = (double)(GetTickMs() - start) / 1000.0;
    double fps = seconds > 0 ? (double)stats.Frames() / seconds : 0.0;
    printf("summary frames=%llu drops=%llu seconds=%.2f fps=%.2f latency_p50_ms=%d "
           "latency_p99_ms=%d\n",
           (unsigned long long)stats.Frames(), (unsigned long long)stats.Drops(), seconds, fps,
           (int)stats.LatencyPercentile(50), (int)stats.LatencyPercentile(99));
    fflush(stdout);
    return 0;
}
