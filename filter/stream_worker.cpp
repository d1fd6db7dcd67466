#include "stream_worker.h"

#include <string.h>

#include <new>

#include "jpeg_decoder.h"
#include "placeholder_pacing.h"
#include "placeholder_picture.h"
#include "source_logic.h"
#include "ticks.h"

CStreamWorker::CStreamWorker()
    : stopping(false), running(false), format(DEFAULT_VIDEO_FORMAT), askForSize(false),
      imageSize(0), startTime(0), frames(nullptr), placeholder(nullptr), placeholderCapacity(0)
{
    memset(&stats, 0, sizeof stats);
}

CStreamWorker::~CStreamWorker()
{
    SignalStop();
    Join();
    delete[] frames;
    delete[] placeholder;
}

bool CStreamWorker::Start(IMemAllocator* alloc, IMemInputPin* in, const VideoFormat& f,
                          bool askSize)
{
    if (thread.joinable())
        return false;
    if (frames == nullptr)
        frames = new (std::nothrow) CameraFrame[FRAMES_PER_TAKE];
    uint32_t size = DibImageSize(f.width, f.height);
    if (size > placeholderCapacity) {
        delete[] placeholder;
        placeholder = new (std::nothrow) uint8_t[size];
        placeholderCapacity = placeholder ? size : 0;
    }
    if (frames == nullptr || placeholder == nullptr)
        return false;
    DrawPlaceholder(placeholder, f.width, f.height);
    allocator = alloc;
    input = in;
    format = f;
    askForSize = askSize;
    imageSize = size;
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

void CStreamWorker::CountLive(uint32_t stamp, uint64_t decodeTicks, bool scaled, uint32_t width,
                              uint32_t height)
{
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    uint64_t tenths = decodeTicks * 10000 / (uint64_t)frequency.QuadPart;
    uint32_t latency = GetTickMs() - stamp;
    std::lock_guard<std::mutex> hold(statsLock);
    if (stats.liveFrames == 0)
        stats.firstStamp = stamp;
    ++stats.liveFrames;
    if (scaled)
        ++stats.scaledFrames;
    stats.lastStamp = stamp;
    stats.lastFrameWidth = width;
    stats.lastFrameHeight = height;
    stats.latencyMs[latency < STATS_BUCKETS ? latency : STATS_BUCKETS - 1]++;
    stats.decodeTenthMs[tenths < STATS_BUCKETS ? tenths : STATS_BUCKETS - 1]++;
}

bool CStreamWorker::DeliverFrame(CJpegDecoder& decoder, const CameraFrame& taken,
                                 bool& discontinuity)
{
    DecodeResult result = DECODE_BAD;
    uint32_t width = 0, height = 0;
    LARGE_INTEGER begin, end;
    bool sent = Deliver(
        [&](BYTE* data) {
            QueryPerformanceCounter(&begin);
            result = decoder.Decode(taken.data, taken.size, data, format.width, format.height,
                                    width, height);
            QueryPerformanceCounter(&end);
            return result == DECODE_OK || result == DECODE_SCALED;
        },
        [&]() {
            CountLive(taken.stamp, (uint64_t)(end.QuadPart - begin.QuadPart),
                      result == DECODE_SCALED, width, height);
        },
        discontinuity);
    if (!sent && result != DECODE_OK && result != DECODE_SCALED && !stopping) {
        std::lock_guard<std::mutex> hold(statsLock);
        ++stats.skippedFrames;
    }
    return sent;
}

// A block that is new to this reader (the service came after the graph
// started, or restarted) asks for its own default size, which this stream
// would then have to scale: ask for the size the application chose.
void CStreamWorker::AskForStreamSize()
{
    uint32_t width = 0, height = 0;
    if (askForSize && client.ReadRequestedSize(width, height) &&
        (width != format.width || height != format.height))
        client.RequestSize(format.width, format.height);
}

void CStreamWorker::Run()
{
    // WIC needs COM on this thread; the decoder lives as long as the run.
    HRESULT com = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    {
        CJpegDecoder decoder;
        bool decoderReady = decoder.Init();
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
                if (stopping || !running || !decoderReady)
                    break;
                if (DeliverFrame(decoder, frames[i], discontinuity))
                    PacingLiveSent(pacing, GetTickMs());
            }
            bool due = PacingDueInMs(pacing, GetTickMs(), client.LinkStreaming()) == 0;
            if (running && !stopping && due) {
                // Counted as sent even when the graph refused it, so a refusing
                // graph is not asked again at once.
                PacingPlaceholderSent(pacing, GetTickMs());
                Deliver(
                    [&](BYTE* data) {
                        memcpy(data, placeholder, imageSize);
                        return true;
                    },
                    [&]() {
                        std::lock_guard<std::mutex> hold(statsLock);
                        ++stats.placeholderFrames;
                    },
                    discontinuity);
            }
        }
    }
    if (SUCCEEDED(com))
        CoUninitialize();
}
