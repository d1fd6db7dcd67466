#include "stream_worker.h"

#include <string.h>

#include <new>

#include "ticks.h"

static_assert(FEED_LATENCY_BUCKETS == STATS_BUCKETS, "the feed's latency buckets are the stats'");

namespace {
// Next returns at least this often; Stop cancels its wait sooner.
const uint32_t FEED_WAIT_MS = 1000;
}  // namespace

CStreamWorker::CStreamWorker()
    : stopping(false), running(false), startTime(0), feed(FRAMES_PER_TAKE), frame(nullptr)
{
    memset(&choice, 0, sizeof choice);
    memset(&rate, 0, sizeof rate);
    memset(&stats, 0, sizeof stats);
}

CStreamWorker::~CStreamWorker()
{
    SignalStop();
    Join();
    delete frame;
}

bool CStreamWorker::Start(IMemAllocator* alloc, IMemInputPin* in, const StreamChoice& c,
                          bool chosen)
{
    if (thread.joinable()) {
        if (!stopping)
            return false;
        thread.join();  // ended by a Stop from its own sample callback
    }
    if (frame == nullptr)
        frame = new (std::nothrow) CameraFrame;
    const StreamType& t = c.type;
    if (frame == nullptr || !feed.Ready() || !converter.Start(StreamPicture(t)))
        return false;
    RatePacingStart(rate, t, c.frameDuration);
    allocator = alloc;
    input = in;
    choice = c;
    // Asked of the service now that the stream starts, and again after every
    // restart of it; choosing or probing a type never touches the phone.
    if (chosen)
        feed.SetWantedSize(t.entry.width, t.entry.height);
    else
        feed.PreferSize(t.entry.width, t.entry.height);
    feed.Resume();
    stopping = false;
    running = false;
    thread = std::thread(&CStreamWorker::Run, this);
    return true;
}

void CStreamWorker::SignalStop()
{
    stopping = true;
    running = false;
    feed.Cancel();
}

void CStreamWorker::Join()
{
    if (thread.joinable() && thread.get_id() == std::this_thread::get_id())
        return;
    if (thread.joinable())
        thread.join();
    allocator.Reset();
    input.Reset();
}

void CStreamWorker::SetRunning(bool run, REFERENCE_TIME start)
{
    {
        std::lock_guard<std::mutex> hold(timing);
        startTime = start;
    }
    running = run;
}

void CStreamWorker::SetClock(IReferenceClock* c)
{
    std::lock_guard<std::mutex> hold(timing);
    clock = c;
}

void CStreamWorker::ReadStats(SourceStats& out)
{
    {
        std::lock_guard<std::mutex> hold(statsLock);
        out = stats;
    }
    FeedCounts counts;
    feed.ReadCounts(counts);
    feed.ReadLatency(out.latencyMs);
    out.liveFrames = counts.live;
    out.placeholderFrames = counts.placeholders;
    out.skippedFrames = counts.dropped + counts.damaged;
    out.firstStamp = counts.firstStamp;
    out.lastStamp = counts.lastStamp;
}

void CStreamWorker::StampSample(IMediaSample* sample)
{
    ComPtr<IReferenceClock> c;
    REFERENCE_TIME start;
    {
        std::lock_guard<std::mutex> hold(timing);
        c = clock;
        start = startTime;
    }
    REFERENCE_TIME now = 0;
    if (!c || FAILED(c->GetTime(&now))) {
        sample->SetTime(nullptr, nullptr);
        return;
    }
    REFERENCE_TIME begin = now - start;
    REFERENCE_TIME end = begin + choice.frameDuration;
    sample->SetTime(&begin, &end);
}

template <class Fill, class Count>
bool CStreamWorker::Deliver(Fill fill, Count count, bool& discontinuity)
{
    ComPtr<IMediaSample> sample;
    // Blocks while downstream holds every buffer; Decommit at Stop ends it.
    if (FAILED(allocator->GetBuffer(&sample, nullptr, nullptr, 0)))
        return false;
    BYTE* data = nullptr;
    uint32_t length = 0;
    if (FAILED(sample->GetPointer(&data)) || sample->GetSize() <= 0 ||
        !fill(data, (uint32_t)sample->GetSize(), length))
        return false;
    sample->SetActualDataLength((long)length);
    sample->SetSyncPoint(TRUE);
    sample->SetDiscontinuity(discontinuity ? TRUE : FALSE);
    StampSample(sample.Get());
    discontinuity = false;
    // Counted before it goes, so that a reader of the counters downstream
    // (ovalix-snap's callback) sees this sample already counted.
    count();
    // A refusal downstream (stopping, flushing) is not this thread's concern:
    // the graph stops the filter in turn.
    input->Receive(sample.Get());
    return true;
}

void CStreamWorker::CountLive(uint64_t decodeTicks)
{
    feed.Shown();
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    uint64_t tenths = decodeTicks * 10000 / (uint64_t)frequency.QuadPart;
    std::lock_guard<std::mutex> hold(statsLock);
    stats.decodeTenthMs[tenths < STATS_BUCKETS ? tenths : STATS_BUCKETS - 1]++;
}

void CStreamWorker::DeliverFrame(bool& discontinuity)
{
    // A rate below the phone's: this frame is left out (not a stall, as the
    // next ones come within the stall time).
    if (!RatePacingTake(rate, GetTickMs()))
        return;
    ConvertResult result = CONVERT_BAD;
    LARGE_INTEGER begin, end;
    bool sent = Deliver(
        [&](BYTE* data, uint32_t capacity, uint32_t& length) {
            QueryPerformanceCounter(&begin);
            result = converter.FromJpeg(frame->data, frame->size, data, capacity, length);
            QueryPerformanceCounter(&end);
            return result == CONVERT_OK;
        },
        [&]() { CountLive((uint64_t)(end.QuadPart - begin.QuadPart)); }, discontinuity);
    if (sent || stopping)
        return;
    if (result == CONVERT_OTHER_SIZE) {
        // A frame of another size comes while the service switches to this
        // stream's: not shown stretched; with none shown, the feed's pacing
        // brings the placeholder.
        std::lock_guard<std::mutex> hold(statsLock);
        ++stats.otherSizeFrames;
    } else {
        feed.Dropped();
    }
}

bool CStreamWorker::DeliverPlaceholder(PlaceholderKind kind, bool& discontinuity)
{
    uint32_t cardLength = 0;
    const uint8_t* card = placeholder.Get(kind, StreamPicture(choice.type), cardLength);
    if (card == nullptr)
        return false;
    return Deliver(
        [&](BYTE* data, uint32_t capacity, uint32_t& length) {
            if (capacity < cardLength)
                return false;
            memcpy(data, card, cardLength);
            length = cardLength;
            return true;
        },
        [&]() { feed.Shown(); }, discontinuity);
}

void CStreamWorker::Run()
{
    // The allocator and the downstream pins are COM objects.
    HRESULT com = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    {
        feed.Start();
        bool discontinuity = true;
        // Samples go out only while running; what comes while paused is let go.
        for (;;) {
            FeedItem item;
            FeedResult got = feed.Next(FEED_WAIT_MS, *frame, item);
            if (got == FEED_CANCELLED || stopping)
                break;
            if (!running)
                continue;
            if (got == FEED_LIVE)
                DeliverFrame(discontinuity);
            else if (got == FEED_PLACEHOLDER)
                DeliverPlaceholder(item.placeholder, discontinuity);
        }
        feed.Detach();
    }
    if (SUCCEEDED(com))
        CoUninitialize();
}
