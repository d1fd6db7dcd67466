// ovalixsrc ! fakesink for a while, counting at the source's pad: live
// buffers and the stand-in's frame counters in them, latency from the
// phone's send stamp (carried in the buffer's reference timestamp meta) to
// the buffer leaving the source, the process's CPU share while frames flow,
// and how many distinct pooled buffers carried them.
//
//   bench_gst_source --seconds S
//
// Prints one "source ..." line; the caller (gst_source.sh) compares the count
// with what the stand-in sent. Never fails on timing.
#include <gst/gst.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/resource.h>
#include <time.h>

#include <mutex>
#include <set>

#include "frame_stats.h"
#include "ovalix_src.h"

namespace {

uint64_t MonotonicUs()
{
    timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return (uint64_t)t.tv_sec * 1000000u + (uint64_t)t.tv_nsec / 1000u;
}

uint64_t CpuUs()
{
    rusage u;
    getrusage(RUSAGE_SELF, &u);
    return (uint64_t)(u.ru_utime.tv_sec + u.ru_stime.tv_sec) * 1000000u +
           (uint64_t)(u.ru_utime.tv_usec + u.ru_stime.tv_usec);
}

// Frames that open the measurement of CPU share (the link settles first).
const uint64_t CPU_WARMUP_FRAMES = 30;

struct Counts {
    std::mutex lock;
    CFrameStats stats;
    uint64_t placeholders = 0;
    std::set<const void*> buffers;
    uint64_t cpuStartUs = 0, wallStartUs = 0, cpuEndUs = 0, wallEndUs = 0;
    GstCaps* stampCaps = nullptr;
};

GstPadProbeReturn OnBuffer(GstPad*, GstPadProbeInfo* info, void* data)
{
    Counts& c = *static_cast<Counts*>(data);
    uint64_t nowUs = MonotonicUs();
    GstBuffer* buffer = GST_PAD_PROBE_INFO_BUFFER(info);
    GstMapInfo map;
    if (!gst_buffer_map(buffer, &map, GST_MAP_READ))
        return GST_PAD_PROBE_OK;
    uint32_t counter = 0;
    bool live = ReadFrameCounter(map.data, (uint32_t)map.size, counter);
    const void* memory = map.data;
    gst_buffer_unmap(buffer, &map);
    GstReferenceTimestampMeta* meta = gst_buffer_get_reference_timestamp_meta(buffer, c.stampCaps);

    std::lock_guard<std::mutex> hold(c.lock);
    c.buffers.insert(memory);
    if (!live || meta == nullptr) {
        ++c.placeholders;
        return GST_PAD_PROBE_OK;
    }
    // Both clocks are CLOCK_MONOTONIC in milliseconds, the stamp cut to 32 bits.
    uint32_t stampMs = (uint32_t)(meta->timestamp / GST_MSECOND);
    int32_t latencyMs = (int32_t)((uint32_t)(nowUs / 1000u) - stampMs);
    c.stats.Add(true, counter, latencyMs);
    if (c.stats.Frames() == CPU_WARMUP_FRAMES) {
        c.cpuStartUs = CpuUs();
        c.wallStartUs = nowUs;
    }
    c.cpuEndUs = CpuUs();
    c.wallEndUs = nowUs;
    return GST_PAD_PROBE_OK;
}

}  // namespace

int main(int argc, char** argv)
{
    double seconds = 25;
    for (int i = 1; i + 1 < argc; i += 2)
        if (!strcmp(argv[i], "--seconds"))
            seconds = atof(argv[i + 1]);
    gst_init(nullptr, nullptr);
    gst_plugin_register_static(GST_VERSION_MAJOR, GST_VERSION_MINOR, "ovalix", "bench",
                               OvalixSrcRegister, "1.0", "Proprietary", "ovalix", "Ovalix",
                               "Ovalix");
    GError* error = nullptr;
    GstElement* pipeline = gst_parse_launch("ovalixsrc name=src ! fakesink sync=false", &error);
    if (pipeline == nullptr || error != nullptr) {
        fprintf(stderr, "bench_gst_source: %s\n", error ? error->message : "no pipeline");
        return 1;
    }
    Counts counts;
    counts.stampCaps = gst_caps_new_empty_simple(OVALIX_PHONE_STAMP_CAPS);
    GstElement* src = gst_bin_get_by_name(GST_BIN(pipeline), "src");
    GstPad* pad = gst_element_get_static_pad(src, "src");
    gst_pad_add_probe(pad, GST_PAD_PROBE_TYPE_BUFFER, OnBuffer, &counts, nullptr);
    gst_object_unref(pad);

    gst_element_set_state(pipeline, GST_STATE_PLAYING);
    g_usleep((gulong)(seconds * 1e6));
    // The source waits in the feed for a frame or its next placeholder; the
    // state change cancels that wait.
    gint64 stopStartUs = g_get_monotonic_time();
    gst_element_set_state(pipeline, GST_STATE_NULL);
    double stopMs = (double)(g_get_monotonic_time() - stopStartUs) / 1000.0;

    std::lock_guard<std::mutex> hold(counts.lock);
    double wall = (double)(counts.wallEndUs - counts.wallStartUs);
    double cpu = (double)(counts.cpuEndUs - counts.cpuStartUs);
    printf("source live=%llu placeholders=%llu gaps=%llu latency_p50_ms=%d latency_p99_ms=%d "
           "cpu_percent=%.2f over_s=%.1f buffers=%zu stop_ms=%.1f\n",
           (unsigned long long)counts.stats.Frames(), (unsigned long long)counts.placeholders,
           (unsigned long long)counts.stats.Drops(), counts.stats.LatencyPercentile(50),
           counts.stats.LatencyPercentile(99), wall > 0 ? 100.0 * cpu / wall : 0.0, wall / 1e6,
           counts.buffers.size(), stopMs);
    gst_caps_unref(counts.stampCaps);
    gst_object_unref(src);
    gst_object_unref(pipeline);
    gst_deinit();
    return 0;
}
