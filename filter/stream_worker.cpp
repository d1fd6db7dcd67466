#include "stream_worker.h"

#include <string.h>

#include <new>

#include "placeholder_card.h"
#include "source_logic.h"
#include "ticks.h"

CStreamWorker::CStreamWorker()
    : stopping(false), running(false), askForSize(false), startTime(0), frames(nullptr),
      card(nullptr), placeholder(nullptr), placeholderCapacity(0), placeholderLength(0),
      placeholderKind(-1)
{
    memset(&choice, 0, sizeof choice);
    memset(&rate, 0, sizeof rate);
    memset(&stats, 0, sizeof stats);
}

CStreamWorker::~CStreamWorker()
{
    SignalStop();
    Join();
    delete[] frames;
    delete[] card;
    delete[] placeholder;
}

bool CStreamWorker::Start(IMemAllocator* alloc, IMemInputPin* in, const StreamChoice& c,
                          bool askSize)
{
    if (thread.joinable()) {
        if (!stopping)
            return false;
        thread.join();   // ended by a Stop from its own sample callback
    }
    if (frames == nullptr)
        frames = new (std::nothrow) CameraFrame[FRAMES_PER_TAKE];
    const StreamType& t = c.type;
    uint32_t size = SampleImageSize(t.kind, t.width, t.height);
    if (size > placeholderCapacity) {
        delete[] card;
        delete[] placeholder;
        // The card's RGB picture is never larger than a sample of 32-bit pixels.
        card = new (std::nothrow) uint8_t[(size_t)t.width * t.height * 3];
        placeholder = new (std::nothrow) uint8_t[size];
        placeholderCapacity = card && placeholder ? size : 0;
    }
    if (frames == nullptr || placeholderCapacity < size || !converter.Start(t))
        return false;
    placeholderKind = -1;
    RatePacingStart(rate, t, c.frameDuration);
    allocator = alloc;
    input = in;
    choice = c;
    askForSize = askSize;
    stopping = false;
    running = false;
    thread = std::thread(&CStreamWorker::Run, this);
    return true;
}

void CStreamWorker::SignalStop()
{
    stopping = true;
    running = false;
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
    std::lock_guard<std::mutex> hold(statsLock);
    out = stats;
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

void CStreamWorker::CountLive(uint32_t stamp, uint64_t decodeTicks)
{
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    uint64_t tenths = decodeTicks * 10000 / (uint64_t)frequency.QuadPart;
    uint32_t latency = GetTickMs() - stamp;
    std::lock_guard<std::mutex> hold(statsLock);
    if (stats.liveFrames == 0)
        stats.firstStamp = stamp;
    ++stats.liveFrames;
    stats.lastStamp = stamp;
    stats.latencyMs[latency < STATS_BUCKETS ? latency : STATS_BUCKETS - 1]++;
    stats.decodeTenthMs[tenths < STATS_BUCKETS ? tenths : STATS_BUCKETS - 1]++;
}

bool CStreamWorker::DeliverFrame(const CameraFrame& taken, bool& discontinuity)
{
    ConvertResult result = CONVERT_BAD;
    LARGE_INTEGER begin, end;
    bool sent = Deliver(
        [&](BYTE* data, uint32_t capacity, uint32_t& length) {
            QueryPerformanceCounter(&begin);
            result = converter.FromJpeg(taken.data, taken.size, data, capacity, length);
            QueryPerformanceCounter(&end);
            return result == CONVERT_OK;
        },
        [&]() { CountLive(taken.stamp, (uint64_t)(end.QuadPart - begin.QuadPart)); },
        discontinuity);
    if (!sent && result != CONVERT_OK && !stopping) {
        // A frame of another size comes while the service switches to this
        // stream's size: left out, and the placeholder bridges the gap.
        std::lock_guard<std::mutex> hold(statsLock);
        if (result == CONVERT_OTHER_SIZE)
            ++stats.otherSizeFrames;
        else
            ++stats.skippedFrames;
    }
    return sent;
}

bool CStreamWorker::DeliverPlaceholder(bool& discontinuity)
{
    int kind = (int)PlaceholderKindFor(client.IsAttached(), client.LinkStreaming());
    if (kind != placeholderKind) {
        RgbImage image = { card, choice.type.width, choice.type.height };
        DrawPlaceholderCard((PlaceholderKind)kind, image);
        placeholderKind = converter.FromRgb(image, placeholder, placeholderCapacity,
                                            placeholderLength)
                              ? kind
                              : -1;
    }
    if (placeholderKind < 0)
        return false;
    return Deliver(
        [&](BYTE* data, uint32_t capacity, uint32_t& length) {
            if (capacity < placeholderLength)
                return false;
            memcpy(data, placeholder, placeholderLength);
            length = placeholderLength;
            return true;
        },
        [&]() {
            std::lock_guard<std::mutex> hold(statsLock);
            ++stats.placeholderFrames;
        },
        discontinuity);
}

// A block that is new to this reader (the service came after the graph
// started, or restarted) asks for its own default size, which this stream
// would then have to scale: ask for the size the application chose.
void CStreamWorker::AskForStreamSize()
{
    uint32_t width = 0, height = 0;
    const VideoFormat& entry = choice.type.entry;
    if (askForSize && client.ReadRequestedSize(width, height) &&
        (width != entry.width || height != entry.height))
        client.RequestSize(entry.width, entry.height);
}

void CStreamWorker::Run()
{
    // The allocator and the downstream pins are COM objects.
    HRESULT com = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    {
        // Attached before the first look, so that a running service with a
        // streaming link gets its first frame in before any placeholder.
        client.Attach();
        PlaceholderPacing pacing;
        PacingStart(pacing, GetTickMs(), STALL_MS, PLACEHOLDER_INTERVAL_MS);
        bool discontinuity = true;
        // The ring may hold frames from long before this reader came (or came
        // back): the first take is the newest frame alone, later ones every
        // frame since.
        bool caughtUp = false;
        uint32_t attachments = client.Attachments();
        while (!stopping) {
            uint32_t taken = 0;
            uint32_t waitMs = PacingWaitMs(pacing, GetTickMs(), client.LinkStreaming());
            ClientResult got = caughtUp ? client.WaitAll(waitMs, frames, FRAMES_PER_TAKE, taken)
                                        : client.WaitNewest(waitMs, frames[0]);
            if (client.Attachments() != attachments) {
                attachments = client.Attachments();
                AskForStreamSize();
            }
            if (got == CLIENT_FRAME && !caughtUp)
                taken = 1;
            caughtUp = got != CLIENT_NO_SERVICE && (caughtUp || got == CLIENT_FRAME);
            for (uint32_t i = 0; got == CLIENT_FRAME && i < taken; ++i) {
                if (stopping || !running)
                    break;
                if (!RatePacingTake(rate, GetTickMs())) {
                    // Left out for the lower rate: not a stall.
                    PacingLiveSent(pacing, GetTickMs());
                    continue;
                }
                if (DeliverFrame(frames[i], discontinuity))
                    PacingLiveSent(pacing, GetTickMs());
            }
            bool due = PacingDueInMs(pacing, GetTickMs(), client.LinkStreaming()) == 0;
            if (running && !stopping && due) {
                // Counted as sent even when the graph refused it, so a refusing
                // graph is not asked again at once.
                PacingPlaceholderSent(pacing, GetTickMs());
                DeliverPlaceholder(discontinuity);
            }
        }
    }
    if (SUCCEEDED(com))
        CoUninitialize();
}
