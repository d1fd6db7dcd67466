#include "frame_taker.h"

#include <stdio.h>
#include <string.h>

#include <filesystem>

#include "block_consumer.h"
#include "frame_stats.h"
#include "ticks.h"

namespace {

const uint32_t EVENT_WAIT_MS = 100;     // bounded, so Ctrl-C and --seconds work
const uint32_t MUTEX_WAIT_MS = 1000;

struct TakenFrame {
    uint8_t data[FRAME_DATA_SIZE];
    uint32_t size;
    uint32_t flags;
    uint32_t stamp;
};

void SaveFrame(const char* dir, const TakenFrame& frame, bool hasCounter, uint32_t counter,
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

// Copies slot i out and frees it; the caller holds the mutex.
bool TakeSlot(SharedCameraBlock& block, uint32_t i, TakenFrame& out)
{
    FrameSlot& slot = block.slots[i];
    uint32_t size = slot.size;
    if (size == 0)
        return false;
    if (size > FRAME_DATA_SIZE)
        size = FRAME_DATA_SIZE;
    memcpy(out.data, slot.data, size);
    out.size = size;
    out.flags = slot.flags;
    out.stamp = slot.stamp;
    slot.size = 0;
    return true;
}

}  // namespace

int TakeFrames(BlockConsumer& consumer, const TakeOptions& options)
{
    SharedCameraBlock& block = *consumer.block;
    if (options.saveDir != nullptr) {
        std::error_code ignored;
        std::filesystem::create_directories(options.saveDir, ignored);
    }

    // Up to a whole ring can be taken in one go, oldest first.
    static TakenFrame taken[FRAME_SLOT_COUNT];
    CFrameStats stats;
    uint32_t start = GetTickMs();
    uint32_t lastLine = start;
    uint64_t framesAtLastLine = 0;
    uint32_t lastStamp = 0;

    while (!Interrupted()) {
        uint32_t now = GetTickMs();
        if (options.seconds > 0 && (double)(now - start) >= options.seconds * 1000.0)
            break;
        if (options.frames != 0 && stats.Frames() >= options.frames)
            break;

        if (consumer.event.Wait(EVENT_WAIT_MS) == NAMED_WAIT_ACQUIRED &&
            consumer.mutex.Lock(MUTEX_WAIT_MS) == NAMED_WAIT_ACQUIRED) {
            uint32_t newest = block.currentSlot % FRAME_SLOT_COUNT;
            uint32_t count = 0;
            // Every occupied slot is freed: a consumer that leaves an older
            // frame behind would stop the ring once it comes round to it.
            for (uint32_t k = 1; k <= FRAME_SLOT_COUNT; ++k) {
                uint32_t i = (newest + k) % FRAME_SLOT_COUNT;
                if (options.newestOnly && i != newest) {
                    block.slots[i].size = 0;
                    continue;
                }
                if (TakeSlot(block, i, taken[count]))
                    ++count;
            }
            // Reset while still holding the mutex: the service sets the event
            // under the mutex, so no publication's wake-up can be lost here.
            consumer.event.Reset();
            consumer.mutex.Unlock();

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
            double fps = (double)(stats.Frames() - framesAtLastLine) * 1000.0 / (double)(now - lastLine);
            if (!options.quiet) {
                printf("link=%u fps=%.1f frames=%llu drops=%llu stamp=%u latency_ms=%d\n",
                       (unsigned)block.linkState, fps, (unsigned long long)stats.Frames(),
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
