#pragma once
// The capture pin's streaming thread: turns what the consumer feed gives into
// media samples of the connected type, a phone frame (decoded, or as it came
// for MJPG) or the placeholder card, and delivers them downstream, leaving
// frames out when the type's rate is lower than the phone's. Lives from the
// filter's first Pause to its Stop, which cancels the feed's wait and
// decommits the allocator, so it returns at once.

#define NO_DSHOW_STRSAFE
#include <dshow.h>

#include <atomic>
#include <mutex>
#include <thread>

#include "camera_feed.h"
#include "com_object.h"
#include "picture_convert.h"
#include "placeholder_sample.h"
#include "media_types.h"
#include "source_stats.h"

// Frames taken at once, oldest first. The service publishes on a 20 ms step,
// so frames can land together, and a busy host can hold this thread up for a
// few frame times: taking up to four keeps every frame through such a hold-up,
// and a longer backlog is cut to the newest.
const uint32_t FRAMES_PER_TAKE = 4;

class CStreamWorker {
public:
    CStreamWorker();
    ~CStreamWorker();

    // Begins streaming the given type into the peer's input; the service is
    // asked for the type's size, again after every restart of it. A size the
    // application chose (SetFormat) is always asked for; the default only
    // when the service would not send it by itself.
    bool Start(IMemAllocator* allocator, IMemInputPin* input, const StreamChoice& choice,
               bool chosen);
    // Asks the thread to end; the caller then decommits the allocator (which
    // frees a thread waiting for a buffer) and calls Join. Called on the
    // thread itself (a downstream filter stopping the graph from a sample's
    // callback), Join returns at once: the thread ends when that call has
    // returned, and the next Start or the destructor collects it.
    void SignalStop();
    void Join();

    // Samples go out only while running; stamped against the clock from the
    // stream's start time.
    void SetRunning(bool running, REFERENCE_TIME startTime);
    void SetClock(IReferenceClock* clock);
    void ReadStats(SourceStats& out);

private:
    CStreamWorker(const CStreamWorker&);
    CStreamWorker& operator=(const CStreamWorker&);

    void Run();
    // Fills and sends one sample; fill(data, capacity, length) returns false
    // to drop it, count records it just before it goes downstream.
    template <class Fill, class Count> bool Deliver(Fill fill, Count count, bool& discontinuity);
    void DeliverFrame(bool& discontinuity);
    bool DeliverPlaceholder(PlaceholderKind kind, bool& discontinuity);
    void StampSample(IMediaSample* sample);
    void CountLive(uint64_t decodeTicks);

    std::thread thread;
    std::atomic<bool> stopping;
    std::atomic<bool> running;
    ComPtr<IMemAllocator> allocator;
    ComPtr<IMemInputPin> input;
    StreamChoice choice;
    CPictureConverter converter;
    RatePacing rate;

    std::mutex timing;  // clock and start time, set from the graph's thread
    ComPtr<IReferenceClock> clock;
    REFERENCE_TIME startTime;

    std::mutex statsLock;
    SourceStats stats;  // what the feed does not count: decoding, frames of another size

    CCameraFeed feed;
    CameraFrame* frame;              // allocated once and reused
    CPlaceholderSample placeholder;  // the card as a sample of the stream's type
};
