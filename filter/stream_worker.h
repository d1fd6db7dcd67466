#pragma once
// The capture pin's streaming thread: waits for frames through the consumer
// library, turns each into a media sample of the connected type and delivers
// it downstream (leaving frames out when the type's rate is lower than the
// phone's), or the placeholder card when nothing live comes. Lives from the filter's
// first Pause to its Stop; every wait in it is bounded, so Stop returns as
// soon as the allocator has been decommitted.

#define NO_DSHOW_STRSAFE
#include <dshow.h>

#include <atomic>
#include <mutex>
#include <thread>

#include "camera_client.h"
#include "com_object.h"
#include "frame_convert.h"
#include "media_types.h"
#include "placeholder_pacing.h"
#include "source_stats.h"
#include "video_formats.h"

// Frames taken at once, oldest first. The service publishes on a 20 ms step,
// so frames can land together, and a busy host can hold this thread up for a
// few frame times: taking up to four keeps every frame through such a hold-up,
// and a longer backlog is cut to the newest.
const uint32_t FRAMES_PER_TAKE = 4;

class CStreamWorker {
public:
    CStreamWorker();
    ~CStreamWorker();

    // Begins streaming the given type into the peer's input. With
    // askForSize (the application chose the type), a service new to this
    // reader is asked for the type's size.
    bool Start(IMemAllocator* allocator, IMemInputPin* input, const StreamChoice& choice,
               bool askForSize);
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
    template <class Fill, class Count>
    bool Deliver(Fill fill, Count count, bool& discontinuity);
    bool DeliverFrame(const CameraFrame& taken, bool& discontinuity);
    bool DeliverPlaceholder(bool& discontinuity);
    void StampSample(IMediaSample* sample);
    void AskForStreamSize();
    void CountLive(uint32_t stamp, uint64_t decodeTicks);

    std::thread thread;
    std::atomic<bool> stopping;
    std::atomic<bool> running;
    ComPtr<IMemAllocator> allocator;
    ComPtr<IMemInputPin> input;
    StreamChoice choice;
    bool askForSize;
    CFrameConverter converter;
    RatePacing rate;

    std::mutex timing;   // clock and start time, set from the graph's thread
    ComPtr<IReferenceClock> clock;
    REFERENCE_TIME startTime;

    std::mutex statsLock;
    SourceStats stats;

    CCameraClient client;   // used by the thread only
    CameraFrame* frames;    // FRAMES_PER_TAKE, allocated once and reused
    // The placeholder card as an RGB picture and as a sample, drawn again
    // when its kind changes.
    uint8_t* card;
    uint8_t* placeholder;
    uint32_t placeholderCapacity;
    uint32_t placeholderLength;
    int placeholderKind;    // -1: none drawn
};
