#include "gst_rig.h"

#include <gst/app/gstappsink.h>
#include <gst/video/video.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <string.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "camera_client.h"
#include "sealed_channel.h"
#include "frame_stats.h"
#include "ovalix_src.h"
#include "placeholder_sample.h"

extern char** environ;

namespace {

// Spawns argv with extraEnv added; output goes to outPath when given.
pid_t Spawn(const std::vector<std::string>& argv, const std::vector<std::string>& extraEnv,
            const char* outPath)
{
    std::vector<char*> args;
    for (const std::string& a : argv)
        args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    std::vector<std::string> envStrings(extraEnv);
    for (char** e = environ; *e != nullptr; ++e)
        envStrings.push_back(*e);
    std::vector<char*> env;
    for (const std::string& e : envStrings)
        env.push_back(const_cast<char*>(e.c_str()));
    env.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (outPath != nullptr) {
        posix_spawn_file_actions_addopen(&actions, 1, outPath, O_WRONLY | O_CREAT | O_APPEND, 0644);
        posix_spawn_file_actions_adddup2(&actions, 1, 2);
    }
    pid_t pid = -1;
    if (posix_spawn(&pid, args[0], &actions, nullptr, args.data(), env.data()) != 0)
        pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    return pid;
}

// SIGTERM, then up to 10 s for the exit; true for a clean exit.
bool Terminate(pid_t pid)
{
    if (pid <= 0)
        return true;
    kill(pid, SIGTERM);
    for (int i = 0; i < 1000; ++i) {
        int status = 0;
        if (waitpid(pid, &status, WNOHANG) == pid)
            return WIFEXITED(status) && WEXITSTATUS(status) == 0;
        SleepMs(10);
    }
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
    return false;
}

}  // namespace

uint64_t NowMs()
{
    return (uint64_t)(g_get_monotonic_time() / 1000);
}

void SleepMs(uint32_t ms)
{
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

ServiceRig::ServiceRig() : service(-1)
{
    char dir[] = "/tmp/ovalix-gst-XXXXXX";
    if (mkdtemp(dir) != nullptr)
        stateDir = dir;
}

ServiceRig::~ServiceRig()
{
    for (pid_t p : phones)
        Terminate(p);
    StopService();
    if (!stateDir.empty()) {
        std::string rm = "rm -rf '" + stateDir + "'";
        if (system(rm.c_str()) != 0) {
        }
    }
}

void ServiceRig::StartService()
{
    // The DNS-SD library the service unloads at stop orphans a few blocks of
    // its own; the suppressions name exactly those.
    std::string log = stateDir + "/service.log";
    service =
        Spawn({OVALIX_SVC_PROGRAM},
              {"STATE_DIRECTORY=" + stateDir, "LSAN_OPTIONS=suppressions=" OVALIX_LSAN_SUPPRESSIONS
                                              ":fast_unwind_on_malloc=0:print_suppressions=0"},
              log.c_str());
}

bool ServiceRig::StopService()
{
    pid_t pid = service;
    service = -1;
    return Terminate(pid);
}

pid_t ServiceRig::StartPhone(const std::vector<std::string>& args)
{
    std::vector<std::string> argv = {OVALIX_PHONE_PROGRAM, "--connect", "127.0.0.1:5055",
                                     "--retry-ms", "100"};
    argv.insert(argv.end(), args.begin(), args.end());
    std::string log = stateDir + "/phone.log";
    pid_t pid = Spawn(argv, {}, log.c_str());
    phones.push_back(pid);
    return pid;
}

void ServiceRig::StopPhone(pid_t pid)
{
    Terminate(pid);
    for (size_t i = 0; i < phones.size(); ++i)
        if (phones[i] == pid)
            phones.erase(phones.begin() + (long)i);
}

bool ServiceRig::WaitLinkState(uint32_t state, uint32_t timeoutMs)
{
    CCameraClient client;
    uint64_t end = NowMs() + timeoutMs;
    for (;;) {
        uint32_t now = 0;
        if (client.Attach() && client.ReadLinkState(now) && now == state)
            return true;
        if (NowMs() >= end)
            return false;
        SleepMs(20);
    }
}

bool ServiceRig::ReadRequestedSize(uint32_t& width, uint32_t& height)
{
    CCameraClient client;
    return client.Attach() && client.ReadRequestedSize(width, height);
}

bool ServiceRig::RequestSize(uint32_t width, uint32_t height)
{
    CCameraClient client;
    return client.Attach() && client.RequestSize(width, height);
}

namespace {

// The offset of the first baseline or progressive frame header's height, or 0.
uint32_t FrameHeaderSizeAt(const uint8_t* j, uint32_t size)
{
    for (uint32_t i = 2; i + 8 < size && j[i] == 0xFF;) {
        uint8_t marker = j[i + 1];
        if (marker == 0xC0 || marker == 0xC2)
            return i + 5;
        i += 2 + ((uint32_t)j[i + 2] << 8 | j[i + 3]);
    }
    return 0;
}

}  // namespace

bool ServiceRig::ForgeFrameSize(uint32_t width, uint32_t height)
{
    SealedObjects objects;
    CNamedMapping mapping;
    CNamedMutex mutex;
    CNamedEvent event;
    if (!FetchSealedObjects(objects))
        return false;
    bool open = mapping.Adopt(objects.descriptors[0], SHARED_BLOCK_SIZE);
    open = mutex.Adopt(objects.descriptors[1]) && open;
    open = event.Adopt(objects.descriptors[2]) && open;
    if (!open || mutex.Lock(1000) != NAMED_WAIT_ACQUIRED)
        return false;
    SharedCameraBlock& b = *static_cast<SharedCameraBlock*>(mapping.View());
    const FrameSlot& newest = b.slots[b.currentSlot % FRAME_SLOT_COUNT];
    uint32_t next = (b.currentSlot + 1) % FRAME_SLOT_COUNT;
    FrameSlot& slot = b.slots[next];
    uint32_t size = newest.size <= FRAME_DATA_SIZE ? newest.size : 0;
    uint32_t at = FrameHeaderSizeAt(newest.data, size);
    if (at != 0 && &slot != &newest) {
        memcpy(slot.data, newest.data, size);
        slot.data[at] = (uint8_t)(height >> 8);
        slot.data[at + 1] = (uint8_t)height;
        slot.data[at + 2] = (uint8_t)(width >> 8);
        slot.data[at + 3] = (uint8_t)width;
        slot.size = size;
        slot.flags = 0;
        slot.stamp = newest.stamp + 1;
        b.currentSlot = next;
        event.Set();
    }
    mutex.Unlock();
    return at != 0;
}

TestPipeline::TestPipeline(const char* description)
    : pipeline(nullptr), source(nullptr), sink(nullptr)
{
    GError* error = nullptr;
    GstElement* p = gst_parse_launch(description, &error);
    if (error != nullptr) {
        g_error_free(error);
        if (p != nullptr)
            gst_object_unref(p);
        return;
    }
    pipeline = p;
    source = gst_bin_get_by_name(GST_BIN(p), "src");
    sink = gst_bin_get_by_name(GST_BIN(p), "sink");
    if (source == nullptr || sink == nullptr)
        return;
    g_object_set(sink, "emit-signals", TRUE, "sync", FALSE, nullptr);
    g_signal_connect(sink, "new-sample", G_CALLBACK(OnSample), this);
    GstPad* pad = gst_element_get_static_pad(source, "src");
    gst_pad_add_probe(pad, GST_PAD_PROBE_TYPE_BUFFER, OnSourceBuffer, this, nullptr);
    gst_object_unref(pad);
}

TestPipeline::~TestPipeline()
{
    if (pipeline != nullptr)
        gst_element_set_state(pipeline, GST_STATE_NULL);
    if (source != nullptr)
        gst_object_unref(source);
    if (sink != nullptr)
        gst_object_unref(sink);
    if (pipeline != nullptr)
        gst_object_unref(pipeline);
}

bool TestPipeline::Play()
{
    if (gst_element_set_state(pipeline, GST_STATE_PLAYING) == GST_STATE_CHANGE_FAILURE)
        return false;
    // The sink may still be completing the change (it prerolls on the first
    // buffer); an EOS sent before would wait for that preroll forever.
    GstState state = GST_STATE_NULL;
    return gst_element_get_state(pipeline, &state, nullptr, 10 * GST_SECOND) !=
               GST_STATE_CHANGE_FAILURE &&
           state == GST_STATE_PLAYING;
}

uint32_t TestPipeline::Stop()
{
    uint64_t start = NowMs();
    gst_element_set_state(pipeline, GST_STATE_NULL);
    return (uint32_t)(NowMs() - start);
}

bool TestPipeline::EndOfStream(uint32_t timeoutMs)
{
    gst_element_send_event(pipeline, gst_event_new_eos());
    GstBus* bus = gst_element_get_bus(pipeline);
    GstMessage* m =
        gst_bus_timed_pop_filtered(bus, (GstClockTime)timeoutMs * GST_MSECOND,
                                   (GstMessageType)(GST_MESSAGE_EOS | GST_MESSAGE_ERROR));
    bool eos = m != nullptr && GST_MESSAGE_TYPE(m) == GST_MESSAGE_EOS;
    if (m != nullptr)
        gst_message_unref(m);
    gst_object_unref(bus);
    return eos;
}

GstPadProbeReturn TestPipeline::OnSourceBuffer(GstPad*, GstPadProbeInfo* info, void* data)
{
    TestPipeline* self = static_cast<TestPipeline*>(data);
    GstBuffer* buffer = GST_PAD_PROBE_INFO_BUFFER(info);
    SeenBuffer b = {};
    b.hasPts = GST_BUFFER_PTS_IS_VALID(buffer);
    GstCaps* stampCaps = gst_caps_new_empty_simple(OVALIX_PHONE_STAMP_CAPS);
    b.hasPhoneStamp = gst_buffer_get_reference_timestamp_meta(buffer, stampCaps) != nullptr;
    gst_caps_unref(stampCaps);
    GstMapInfo map;
    if (gst_buffer_map(buffer, &map, GST_MAP_READ)) {
        PlaceholderKind kind;
        b.placeholder = ReadPlaceholderKind(map.data, (uint32_t)map.size, kind);
        b.placeholderKind = b.placeholder ? (int)kind : -1;
        b.hasCounter = ReadFrameCounter(map.data, (uint32_t)map.size, b.counter);
        gst_buffer_unmap(buffer, &map);
    }
    std::lock_guard<std::mutex> hold(self->lock);
    self->seen.push_back(b);
    return GST_PAD_PROBE_OK;
}

GstFlowReturn TestPipeline::OnSample(GstElement* sink, void* data)
{
    TestPipeline* self = static_cast<TestPipeline*>(data);
    GstSample* sample = gst_app_sink_pull_sample(GST_APP_SINK(sink));
    if (sample == nullptr)
        return GST_FLOW_FLUSHING;
    GstVideoInfo info;
    GstCaps* caps = gst_sample_get_caps(sample);
    GstBuffer* buffer = gst_sample_get_buffer(sample);
    bool raw =
        caps != nullptr &&
        g_str_has_prefix(gst_structure_get_name(gst_caps_get_structure(caps, 0)), "video/x-raw");
    GstMapInfo map;
    if (raw && gst_video_info_from_caps(&info, caps) &&
        gst_buffer_map(buffer, &map, GST_MAP_READ)) {
        SeenPicture p;
        p.width = GST_VIDEO_INFO_WIDTH(&info);
        p.height = GST_VIDEO_INFO_HEIGHT(&info);
        if (GST_VIDEO_INFO_FORMAT(&info) == GST_VIDEO_FORMAT_RGB) {
            // Rows without their padding.
            size_t stride = (size_t)GST_VIDEO_INFO_PLANE_STRIDE(&info, 0);
            size_t row = (size_t)p.width * 3;
            for (size_t y = 0; y < (size_t)p.height && y * stride + row <= map.size; ++y)
                p.rgb.insert(p.rgb.end(), map.data + y * stride, map.data + y * stride + row);
        }
        gst_buffer_unmap(buffer, &map);
        std::lock_guard<std::mutex> hold(self->lock);
        self->pictures.push_back(std::move(p));
    }
    gst_sample_unref(sample);
    return GST_FLOW_OK;
}

std::vector<SeenPicture> TestPipeline::Pictures()
{
    std::lock_guard<std::mutex> hold(lock);
    return pictures;
}

std::vector<SeenBuffer> TestPipeline::Seen()
{
    std::lock_guard<std::mutex> hold(lock);
    return seen;
}

void TestPipeline::Clear()
{
    std::lock_guard<std::mutex> hold(lock);
    seen.clear();
    pictures.clear();
}

size_t CountLive(const std::vector<SeenBuffer>& seen)
{
    size_t n = 0;
    for (const SeenBuffer& b : seen)
        n += b.hasCounter ? 1 : 0;
    return n;
}

size_t CountPlaceholders(const std::vector<SeenBuffer>& seen, int kind)
{
    size_t n = 0;
    for (const SeenBuffer& b : seen)
        n += b.placeholder && (kind < 0 || b.placeholderKind == kind) ? 1 : 0;
    return n;
}
