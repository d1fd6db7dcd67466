#pragma once
// What the ovalixsrc process tests share: the real service and phone stand-in
// as child processes, a look into the block through the consumer library,
// and pipelines ending in an appsink whose buffers a callback collects.

#include <gst/gst.h>
#include <stdint.h>
#include <sys/types.h>

#include <mutex>
#include <string>
#include <vector>

// Starts and stops OvalixSvc (with a private state directory that outlives
// restarts, so a restarted service loads the table it saved) and phones.
class ServiceRig {
public:
    ServiceRig();
    ~ServiceRig();
    void StartService();
    // SIGTERM and wait; false when it did not end cleanly.
    bool StopService();
    // ovalix-phone --connect 127.0.0.1:5055 plus args; returns its pid.
    pid_t StartPhone(const std::vector<std::string>& args);
    void StopPhone(pid_t pid);
    // Waits until the block exists and shows the link state.
    bool WaitLinkState(uint32_t state, uint32_t timeoutMs);
    bool ReadRequestedSize(uint32_t& width, uint32_t& height);
    bool RequestSize(uint32_t width, uint32_t height);
    // As a hostile local writer: publishes the newest phone frame again with
    // its JPEG header claiming width x height, into the objects readers use.
    bool ForgeFrameSize(uint32_t width, uint32_t height);

private:
    std::string stateDir;
    pid_t service;
    std::vector<pid_t> phones;
};

// One buffer leaving the source.
struct SeenBuffer {
    bool placeholder;
    int placeholderKind;
    bool hasCounter;        // a live frame: the stand-in's frame counter
    uint32_t counter;
    bool hasPts;
    bool hasPhoneStamp;
};

// One decoded picture at the sink (video/x-raw); rgb when its format is RGB.
struct SeenPicture {
    int width, height;
    std::vector<uint8_t> rgb;
};

// A pipeline from a gst-launch description with an element named "src"
// (ovalixsrc) and an appsink named "sink". Buffers are seen as they leave the
// source (a pad probe) and, when decoded, as they reach the sink.
class TestPipeline {
public:
    explicit TestPipeline(const char* description);
    ~TestPipeline();
    bool Valid() const { return pipeline != nullptr; }
    GstElement* Source() const { return source; }
    GstElement* Pipeline() const { return pipeline; }
    bool Play();
    // set_state(NULL) and how long it took, in ms.
    uint32_t Stop();
    // Sends EOS and waits for it (or an error) on the bus; true for EOS.
    bool EndOfStream(uint32_t timeoutMs);
    // Waits until pred(seen, pictures) holds, or the time-out.
    template <class Pred> bool WaitFor(uint32_t timeoutMs, Pred pred);
    std::vector<SeenBuffer> Seen();
    std::vector<SeenPicture> Pictures();
    void Clear();

private:
    static GstFlowReturn OnSample(GstElement* sink, void* self);
    static GstPadProbeReturn OnSourceBuffer(GstPad* pad, GstPadProbeInfo* info, void* self);
    GstElement* pipeline;
    GstElement* source;
    GstElement* sink;
    std::mutex lock;
    std::vector<SeenBuffer> seen;
    std::vector<SeenPicture> pictures;
};

uint64_t NowMs();
void SleepMs(uint32_t ms);

template <class Pred> bool TestPipeline::WaitFor(uint32_t timeoutMs, Pred pred)
{
    uint64_t end = NowMs() + timeoutMs;
    for (;;) {
        {
            std::lock_guard<std::mutex> hold(lock);
            if (pred(seen, pictures))
                return true;
        }
        if (NowMs() >= end)
            return false;
        SleepMs(20);
    }
}

// Counting helpers over seen buffers.
size_t CountLive(const std::vector<SeenBuffer>& seen);
size_t CountPlaceholders(const std::vector<SeenBuffer>& seen, int kind);
