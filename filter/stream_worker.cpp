#include "stream_worker.h"

#include <string.h>

#include <new>

#include "jpeg_decoder.h"
#include "placeholder_picture.h"
#include "source_logic.h"
#include "ticks.h"

CStreamWorker::CStreamWorker()
    : stopping(false), running(false), format(DEFAULT_VIDEO_FORMAT), imageSize(0), startTime(0),
      frame(nullptr), placeholder(nullptr), placeholderCapacity(0)
{
    memset(&stats, 0, sizeof stats);
}

CStreamWorker::~CStreamWorker()
{
    SignalStop();
    Join();
    delete frame;
    delete[] placeholder;
}

bool CStreamWorker::Start(IMemAllocator* alloc, IMemInputPin* in, const VideoFormat& f)
{
    if (thread.joinable())
        return false;
    if (frame == nullptr)
        frame = new (std::nothrow) CameraFrame;
    uint32_t size = DibImageSize(f.width, f.height);
    if (size > placeholderCapacity) {
        delete[] placeholder;
        placeholder = new (std::nothrow) uint8_t[size];
        placeholderCapacity = placeholder ? size : 0;
    }
    if (frame == nullptr || placeholder == nullptr)
        return false;
    DrawPlaceholder(placeholder, f.width, f.height);
    allocator = alloc;
    input = in;
    format = f;
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

void CStreamWorker::Run()
{
    // WIC needs COM on this thread; the decoder lives as long as the run.
    HRESULT com = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    {
        CJpegDecoder decoder;
        bool decoderReady = decoder.Init();
        CSourceSchedule schedule;
        schedule.Start(GetTickMs());
        bool discontinuity = true;
        while (!stopping) {
            ClientResult got = client.WaitNewest(schedule.WaitMs(GetTickMs()), *frame);
            if (stopping)
                break;
            if (got == CLIENT_FRAME && running && decoderReady) {
                DecodeResult result = DECODE_BAD;
                uint32_t width = 0, height = 0;
                LARGE_INTEGER begin, end;
                QueryPerformanceCounter(&begin);
                bool sent = Deliver(
                    [&](BYTE* data) {
                        result = decoder.Decode(frame->data, frame->size, data, format.width,
                                                format.height, width, height);
                        QueryPerformanceCounter(&end);
                        return result == DECODE_OK || result == DECODE_SCALED;
                    },
                    [&]() {
                        CountLive(frame->stamp, (uint64_t)(end.QuadPart - begin.QuadPart),
                                  result == DECODE_SCALED, width, height);
                    },
                    discontinuity);
                if (sent) {
                    schedule.LiveFrameShown(GetTickMs());
                } else if (result != DECODE_OK && result != DECODE_SCALED && !stopping) {
                    std::lock_guard<std::mutex> hold(statsLock);
                    ++stats.skippedFrames;
                }
            }
            if (running && !stopping && schedule.PlaceholderDue(GetTickMs())) {
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
