#pragma once
// The capture pin's streaming thread: turns what the consumer feed gives into
// media samples, a phone frame decoded or the placeholder picture, and
// delivers them downstream. Lives from the filter's first Pause to its Stop,
// which cancels the feed's wait and decommits the allocator, so it returns
// at once.

#define NO_DSHOW_STRSAFE
#include <dshow.h>

#include <atomic>
#include <mutex>
#include <thread>

#include "camera_feed.h"
#include "com_object.h"
#include "source_stats.h"
#include "video_formats.h"

class CJpegDecoder;

// Frames taken at once, oldest first. The service publishes on a 20 ms step,
// so frames can land together, and a busy host can hold this thread up for a
// few frame times: taking up to four keeps every frame through such a hold-up,
// and a longer backlog is cut to the newest.
const uint32_t FRAMES_PER_TAKE = 4;

class CStreamWorker {
public:
    CStreamWorker();
    ~CStreamWorker();

    // Begins streaming in the given format into the peer's input. With
    // askForSize (the application chose the format), the service is asked
    // for the format's size, and asked again after every restart of it.
    bool Start(IMemAllocator* allocator, IMemInputPin* input, const VideoFormat& format,
               bool askForSize);
    // Asks the thread to end; the caller then decommits the allocator (which
    // frees a thread waiting for a buffer) and calls Join.
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
    // Fills and sends one sample; fill returns false to drop it, count
    // records it just before it goes downstream.
    template <class Fill, class Count>
    bool Deliver(Fill fill, Count count, bool& discontinuity);
    bool DeliverFrame(CJpegDecoder& decoder, bool& discontinuity);
    bool DeliverPlaceholder(PlaceholderKind kind, bool& discontinuity);
    void StampSample(IMediaSample* sample);
    void CountLive(uint64_t decodeTicks, bool scaled, uint32_t width, uint32_t height);

    std::thread thread;
    std::atomic<bool> stopping;
    std::atomic<bool> running;
    ComPtr<IMemAllocator> allocator;
    ComPtr<IMemInputPin> input;
    VideoFormat format;
    uint32_t imageSize;

    std::mutex timing;   // clock and start time, set from the graph's thread
    ComPtr<IReferenceClock> clock;
    REFERENCE_TIME startTime;

    std::mutex statsLock;
    SourceStats stats;   // what the feed does not count: decoding and scaling

    CCameraFeed feed;
    CameraFrame* frame;     // allocated once and reused
    uint8_t* placeholder;   // the card as a sample, drawn again when its kind changes
    uint8_t* card;          // the card as drawn
    uint32_t placeholderCapacity;
    int placeholderKind;    // the kind drawn, or -1
};
