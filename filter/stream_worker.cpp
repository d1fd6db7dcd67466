#include "stream_worker.h"

#include <string.h>

#include <new>

#include "jpeg_decoder.h"
#include "placeholder_picture.h"
#include "source_logic.h"

static_assert(FEED_LATENCY_BUCKETS == STATS_BUCKETS, "the feed's latency buckets are the stats'");

namespace {
// Next returns at least this often; Stop cancels its wait sooner.
const uint32_t FEED_WAIT_MS = 1000;
}  // namespace

CStreamWorker::CStreamWorker()
    : stopping(false), running(false), format(DEFAULT_VIDEO_FORMAT), imageSize(0), startTime(0),
      feed(FRAMES_PER_TAKE), frame(nullptr), placeholder(nullptr), card(nullptr),
      placeholderCapacity(0), placeholderKind(-1)
{
    memset(&stats, 0, sizeof stats);
}

CStreamWorker::~CStreamWorker()
{
    SignalStop();
    Join();
    delete frame;
    delete[] placeholder;
    delete[] card;
}

bool CStreamWorker::Start(IMemAllocator* alloc, IMemInputPin* in, const VideoFormat& f,
                          bool askForSize)
{
    if (thread.joinable())
        return false;
    if (frame == nullptr)
        frame = new (std::nothrow) CameraFrame;
    uint32_t size = DibImageSize(f.width, f.height);
    if (size > placeholderCapacity) {
        delete[] placeholder;
        delete[] card;
        placeholder = new (std::nothrow) uint8_t[size];
        card = new (std::nothrow) uint8_t[size];   // RGB rows are no longer than DIB rows
        placeholderCapacity = placeholder && card ? size : 0;
    }
    if (frame == nullptr || placeholderCapacity == 0 || !feed.Ready())
        return false;
    placeholderKind = -1;
    allocator = alloc;
    input = in;
    format = f;
    imageSize = size;
    // A size the application chose is asked of the service, again after every
    // restart of it; otherwise this stream takes what the service sends.
    feed.SetWantedSize(askForSize ? f.width : 0, askForSize ? f.height : 0);
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
    REFERENCE_TIME end = begin + FrameDuration(format.fps);
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
    if (FAILED(sample->GetPointer(&data)) || sample->GetSize() < (long)imageSize)
        return false;
    if (!fill(data))
        return false;
    sample->SetActualDataLength((long)imageSize);
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

void CStreamWorker::CountLive(uint64_t decodeTicks, bool scaled, uint32_t width, uint32_t height)
{
    feed.Shown();
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    uint64_t tenths = decodeTicks * 10000 / (uint64_t)frequency.QuadPart;
    std::lock_guard<std::mutex> hold(statsLock);
    if (scaled)
        ++stats.scaledFrames;
    stats.lastFrameWidth = width;
    stats.lastFrameHeight = height;
    stats.decodeTenthMs[tenths < STATS_BUCKETS ? tenths : STATS_BUCKETS - 1]++;
}

bool CStreamWorker::DeliverFrame(CJpegDecoder& decoder, bool& discontinuity)
{
    DecodeResult result = DECODE_BAD;
    uint32_t width = 0, height = 0;
    LARGE_INTEGER begin, end;
    bool sent = Deliver(
        [&](BYTE* data) {
            QueryPerformanceCounter(&begin);
            result = decoder.Decode(frame->data, frame->size, data, format.width, format.height,
                                    width, height);
            QueryPerformanceCounter(&end);
            return result == DECODE_OK || result == DECODE_SCALED;
        },
        [&]() {
            CountLive((uint64_t)(end.QuadPart - begin.QuadPart), result == DECODE_SCALED, width,
                      height);
        },
        discontinuity);
    if (!sent && result != DECODE_OK && result != DECODE_SCALED && !stopping)
        feed.Dropped();
    return sent;
}

bool CStreamWorker::DeliverPlaceholder(PlaceholderKind kind, bool& discontinuity)
{
    if (placeholderKind != (int)kind) {
        DrawPlaceholder(kind, card, placeholder, format.width, format.height);
        placeholderKind = (int)kind;
    }
    return Deliver(
        [&](BYTE* data) {
            memcpy(data, placeholder, imageSize);
            return true;
        },
        [&]() { feed.Shown(); }, discontinuity);
}

void CStreamWorker::Run()
{
    // WIC needs COM on this thread; the decoder lives as long as the run.
    HRESULT com = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    {
        CJpegDecoder decoder;
        bool decoderReady = decoder.Init();
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
            if (got == FEED_LIVE && decoderReady)
                DeliverFrame(decoder, discontinuity);
            else if (got == FEED_PLACEHOLDER)
                DeliverPlaceholder(item.placeholder, discontinuity);
        }
        feed.Detach();
    }
    if (SUCCEEDED(com))
        CoUninitialize();
}
