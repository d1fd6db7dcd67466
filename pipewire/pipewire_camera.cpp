#include "pipewire_camera.h"

#include <errno.h>
#include <stdio.h>
#include <string.h>
#include <time.h>

#include <atomic>
#include <mutex>

#include <pipewire/pipewire.h>
#include <spa/node/command.h>
#include <spa/param/video/format-utils.h>
#include <spa/pod/builder.h>

#include "camera_formats.h"
#include "pool_renewal.h"

namespace {

const uint32_t RECONNECT_INTERVAL_MS = 1000;
// Up to 40 sizes in three formats, about 200 bytes each.
const uint32_t POD_BUFFER_SIZE = 32768;

uint64_t MonotonicNs()
{
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return (uint64_t)ts.tv_sec * 1000000000ull + (uint64_t)ts.tv_nsec;
}

}  // namespace

struct CPipeWireCamera::Impl {
    CameraNodeInfo info;
    CWakeSignal* changed;
    pw_thread_loop* loop;
    pw_context* context;
    pw_core* core;
    spa_hook coreListener;
    pw_stream* stream;
    spa_hook streamListener;
    bool lost;  // the daemon went away or the stream failed
    bool tried;
    bool missingReported;  // since the last connection
    uint32_t lastTryMs;
    std::atomic<bool> streaming;
    bool negotiated;
    PictureTarget target;
    uint32_t size;  // bytes of one frame of the target
    uint32_t stride;
    uint32_t generation;
    pw_buffer* held;  // dequeued, not yet sent
    // The buffer being filled without the loop lock. The daemon's thread,
    // about to take it away, waits on fillLock for the fill to end and then
    // clears it, so the fill's end knows not to queue it.
    pw_buffer* filling;
    std::mutex fillLock;
    // The last consumer went: the pool is made afresh before the next one.
    bool consumerLeft;
    bool renew;  // the pool gives no buffer: make it afresh
    PoolWatch pool;
    uint64_t sequence;
    VideoFormat formats[FORMAT_MAX_ENTRIES];
    uint32_t formatCount;

    void CreateStream();
    void UpdateOffers();
    void Suspend();
    void Disconnect();
    bool FrameWaiting();
    pw_buffer* TakeBuffer();
    void Queue(pw_buffer* b);
};

namespace {

void OnCoreError(void* data, uint32_t id, int, int res, const char* message)
{
    CPipeWireCamera::Impl* impl = static_cast<CPipeWireCamera::Impl*>(data);
    if (id == PW_ID_CORE && res == -EPIPE) {
        fprintf(stderr, "ovalix-camera: lost the PipeWire daemon (%s)\n", message);
        impl->lost = true;
        impl->streaming = false;
    }
}

pw_core_events MakeCoreEvents()
{
    pw_core_events e;
    memset(&e, 0, sizeof e);
    e.version = PW_VERSION_CORE_EVENTS;
    e.error = OnCoreError;
    return e;
}

const pw_core_events CORE_EVENTS = MakeCoreEvents();

void OnStateChanged(void* data, pw_stream_state old, pw_stream_state state, const char* error)
{
    CPipeWireCamera::Impl* impl = static_cast<CPipeWireCamera::Impl*>(data);
    impl->streaming = state == PW_STREAM_STATE_STREAMING;
    impl->changed->Wake();
    // The daemon keeps the format and its buffers for the next consumer, less
    // the ones the last one never gave back.
    if (old == PW_STREAM_STATE_STREAMING && state == PW_STREAM_STATE_PAUSED) {
        impl->consumerLeft = true;
        PoolWatchConsumerLeft(impl->pool);
    }
    if (state == PW_STREAM_STATE_ERROR || state == PW_STREAM_STATE_UNCONNECTED) {
        fprintf(stderr, "ovalix-camera: stream %s%s%s\n", pw_stream_state_as_string(state),
                error ? ": " : "", error ? error : "");
        impl->lost = true;
    }
}

void OnParamChanged(void* data, uint32_t id, const spa_pod* param)
{
    CPipeWireCamera::Impl* impl = static_cast<CPipeWireCamera::Impl*>(data);
    if (id != SPA_PARAM_Format)
        return;
    // A held buffer stays held: remove_buffer says when it goes away.
    impl->negotiated = false;
    ++impl->generation;
    if (param == nullptr)
        return;
    PicturePlanes planes;
    if (!ParseChosenFormat(param, impl->target) ||
        !PlanesOf(impl->target.layout, impl->target.width, impl->target.height, true, planes)) {
        pw_stream_set_error(impl->stream, -EINVAL, "unsupported format");
        return;
    }
    impl->size = planes.size;
    impl->stride = planes.stride[0];
    impl->negotiated = true;
    PoolWatchNewPool(impl->pool);
    fprintf(stderr, "ovalix-camera: consumer chose %s %ux%u\n",
            CameraLayoutName(impl->target.layout), impl->target.width, impl->target.height);

    uint8_t buffer[1024];
    spa_pod_builder b = SPA_POD_BUILDER_INIT(buffer, sizeof buffer);
    const spa_pod* params[2];
    params[0] = static_cast<const spa_pod*>(spa_pod_builder_add_object(
        &b, SPA_TYPE_OBJECT_ParamBuffers, SPA_PARAM_Buffers, SPA_PARAM_BUFFERS_buffers,
        SPA_POD_CHOICE_RANGE_Int(4, 2, 8), SPA_PARAM_BUFFERS_blocks, SPA_POD_Int(1),
        SPA_PARAM_BUFFERS_size, SPA_POD_Int((int32_t)impl->size), SPA_PARAM_BUFFERS_stride,
        SPA_POD_Int((int32_t)impl->stride)));
    params[1] = static_cast<const spa_pod*>(spa_pod_builder_add_object(
        &b, SPA_TYPE_OBJECT_ParamMeta, SPA_PARAM_Meta, SPA_PARAM_META_type,
        SPA_POD_Id(SPA_META_Header), SPA_PARAM_META_size,
        SPA_POD_Int((int32_t)sizeof(spa_meta_header))));
    pw_stream_update_params(impl->stream, params, 2);
}

void OnAddBuffer(void* data, pw_buffer*)
{
    PoolWatchBufferAdded(static_cast<CPipeWireCamera::Impl*>(data)->pool);
}

void OnRemoveBuffer(void* data, pw_buffer* buffer)
{
    CPipeWireCamera::Impl* impl = static_cast<CPipeWireCamera::Impl*>(data);
    PoolWatchBufferRemoved(impl->pool);
    if (impl->held == buffer)
        impl->held = nullptr;
    if (impl->filling == buffer) {
        // Its memory goes once this returns: wait for the fill to end.
        std::lock_guard<std::mutex> wait(impl->fillLock);
        impl->filling = nullptr;
    }
}

pw_stream_events MakeStreamEvents()
{
    pw_stream_events e;
    memset(&e, 0, sizeof e);
    e.version = PW_VERSION_STREAM_EVENTS;
    e.state_changed = OnStateChanged;
    e.param_changed = OnParamChanged;
    e.add_buffer = OnAddBuffer;
    e.remove_buffer = OnRemoveBuffer;
    return e;
}

const pw_stream_events STREAM_EVENTS = MakeStreamEvents();

}  // namespace

// Caller holds the loop lock and has a core.
void CPipeWireCamera::Impl::CreateStream()
{
    pw_properties* props = pw_properties_new(
        PW_KEY_MEDIA_TYPE, "Video", PW_KEY_MEDIA_CATEGORY, "Capture", PW_KEY_MEDIA_ROLE, "Camera",
        PW_KEY_MEDIA_CLASS, "Video/Source", PW_KEY_NODE_NAME, info.nodeName,
        PW_KEY_NODE_DESCRIPTION, info.description, PW_KEY_NODE_NICK, info.description, nullptr);
    stream = pw_stream_new(core, info.description, props);
    if (stream == nullptr) {
        lost = true;
        return;
    }
    spa_zero(streamListener);
    pw_stream_add_listener(stream, &streamListener, &STREAM_EVENTS, this);
    static uint8_t buffer[POD_BUFFER_SIZE];  // used under the loop lock only
    spa_pod_builder b = SPA_POD_BUILDER_INIT(buffer, sizeof buffer);
    const spa_pod* params[CAMERA_MAX_OFFERS];
    uint32_t n = BuildCameraOffers(formats, formatCount, b, params);
    if (pw_stream_connect(
            stream, PW_DIRECTION_OUTPUT, PW_ID_ANY,
            static_cast<pw_stream_flags>(PW_STREAM_FLAG_DRIVER | PW_STREAM_FLAG_MAP_BUFFERS),
            params, n) < 0)
        lost = true;
}

// Caller holds the loop lock and has a stream.
void CPipeWireCamera::Impl::UpdateOffers()
{
    static uint8_t buffer[POD_BUFFER_SIZE];  // used under the loop lock only
    spa_pod_builder b = SPA_POD_BUILDER_INIT(buffer, sizeof buffer);
    const spa_pod* params[CAMERA_MAX_OFFERS];
    uint32_t n = BuildCameraOffers(formats, formatCount, b, params);
    pw_stream_update_params(stream, params, n);
}

// Caller holds the loop lock and has a core and a stream. A suspended node
// drops its format and buffers; the next consumer negotiates a full pool.
// The node itself stays, so consumers that look for it by name find it.
void CPipeWireCamera::Impl::Suspend()
{
    consumerLeft = false;
    renew = false;
    uint32_t id = pw_stream_get_node_id(stream);
    if (id == SPA_ID_INVALID)
        return;
    pw_registry* registry = pw_core_get_registry(core, PW_VERSION_REGISTRY, 0);
    if (registry == nullptr)
        return;
    pw_node* node = static_cast<pw_node*>(
        pw_registry_bind(registry, id, PW_TYPE_INTERFACE_Node, PW_VERSION_NODE, 0));
    if (node != nullptr) {
        spa_command suspend = SPA_NODE_COMMAND_INIT(SPA_NODE_COMMAND_Suspend);
        pw_node_send_command(node, &suspend);
        pw_proxy_destroy(reinterpret_cast<pw_proxy*>(node));
    }
    pw_proxy_destroy(reinterpret_cast<pw_proxy*>(registry));
}

// Caller holds the loop lock.
void CPipeWireCamera::Impl::Disconnect()
{
    if (stream != nullptr) {
        spa_hook_remove(&streamListener);
        pw_stream_destroy(stream);
        stream = nullptr;
    }
    if (core != nullptr) {
        spa_hook_remove(&coreListener);
        pw_core_disconnect(core);
        core = nullptr;
    }
    streaming = false;
    negotiated = false;
    held = nullptr;
    consumerLeft = false;
    renew = false;
    PoolWatchStart(pool);
}

// Caller holds the loop lock, with a stream. A frame queued earlier still
// waits for the consumer (one setting up, or a slow one): a frame queued
// behind it would be older still by the time the consumer came to it, so
// none is; the graph runs again, so that the waiting one goes as soon as
// the consumer can take it, and the next frame is the newest.
bool CPipeWireCamera::Impl::FrameWaiting()
{
    pw_time t;
    memset(&t, 0, sizeof t);
    if (pw_stream_get_time_n(stream, &t, sizeof t) < 0 || t.queued_buffers == 0)
        return false;
    pw_stream_trigger_process(stream);
    if (PoolWatchFrame(pool, false) && !renew) {
        fprintf(stderr, "ovalix-camera: no frame taken; renewing the pool\n");
        renew = true;
    }
    return true;
}

// Caller holds the loop lock, with a negotiated stream: the held buffer, or
// a free one. The pool watch learns whether one came.
pw_buffer* CPipeWireCamera::Impl::TakeBuffer()
{
    pw_buffer* b = held != nullptr ? held : pw_stream_dequeue_buffer(stream);
    held = nullptr;
    if (PoolWatchFrame(pool, b != nullptr) && !renew) {
        fprintf(stderr, "ovalix-camera: no free buffer; renewing the pool\n");
        renew = true;
    }
    return b;
}

// Caller holds the loop lock; b is filled with a whole frame.
void CPipeWireCamera::Impl::Queue(pw_buffer* b)
{
    spa_buffer* buf = b->buffer;
    spa_data* d = &buf->datas[0];
    d->chunk->offset = 0;
    d->chunk->size = size;
    d->chunk->stride = (int32_t)stride;
    d->chunk->flags = 0;
    spa_meta_header* h = static_cast<spa_meta_header*>(
        spa_buffer_find_meta_data(buf, SPA_META_Header, sizeof(spa_meta_header)));
    if (h != nullptr) {
        h->flags = 0;
        h->offset = 0;
        h->pts = (int64_t)MonotonicNs();
        h->dts_offset = 0;
        h->seq = sequence++;
    }
    pw_stream_queue_buffer(stream, b);
    pw_stream_trigger_process(stream);
}

CPipeWireCamera::CPipeWireCamera() : impl(nullptr) {}

CPipeWireCamera::~CPipeWireCamera()
{
    Stop();
}

bool CPipeWireCamera::Start(const CameraNodeInfo& info, CWakeSignal& changed)
{
    pw_init(nullptr, nullptr);
    impl = new Impl();
    impl->info = info;
    impl->changed = &changed;
    impl->loop = pw_thread_loop_new("ovalix-camera", nullptr);
    impl->context = nullptr;
    impl->core = nullptr;
    impl->stream = nullptr;
    impl->lost = false;
    impl->tried = false;
    impl->missingReported = false;
    impl->lastTryMs = 0;
    impl->streaming = false;
    impl->negotiated = false;
    memset(&impl->target, 0, sizeof impl->target);
    impl->size = impl->stride = 0;
    impl->generation = 0;
    impl->held = nullptr;
    impl->filling = nullptr;
    impl->consumerLeft = false;
    impl->renew = false;
    PoolWatchStart(impl->pool);
    impl->sequence = 0;
    impl->formats[0] = DEFAULT_VIDEO_FORMAT;
    impl->formatCount = 1;
    if (impl->loop == nullptr)
        return false;
    impl->context = pw_context_new(pw_thread_loop_get_loop(impl->loop), nullptr, 0);
    if (impl->context == nullptr)
        return false;
    return pw_thread_loop_start(impl->loop) == 0;
}

void CPipeWireCamera::Stop()
{
    if (impl == nullptr)
        return;
    if (impl->loop != nullptr) {
        pw_thread_loop_lock(impl->loop);
        impl->Disconnect();
        pw_thread_loop_unlock(impl->loop);
        pw_thread_loop_stop(impl->loop);
    }
    if (impl->context != nullptr)
        pw_context_destroy(impl->context);
    if (impl->loop != nullptr)
        pw_thread_loop_destroy(impl->loop);
    delete impl;
    impl = nullptr;
    pw_deinit();
}

bool CPipeWireCamera::Upkeep(uint32_t nowMs)
{
    if (impl == nullptr || impl->context == nullptr)
        return false;
    pw_thread_loop_lock(impl->loop);
    if (impl->lost) {
        impl->Disconnect();
        impl->lost = false;
    }
    // While no consumer is linked (a new one may be on its way: then at its
    // end), or when the linked ones get nothing anyway.
    if ((impl->renew || (impl->consumerLeft && !impl->streaming)) && impl->stream != nullptr &&
        impl->core != nullptr)
        impl->Suspend();
    if (impl->core == nullptr &&
        (!impl->tried || nowMs - impl->lastTryMs >= RECONNECT_INTERVAL_MS)) {
        impl->tried = true;
        impl->lastTryMs = nowMs;
        impl->core = pw_context_connect(impl->context, nullptr, 0);
        if (impl->core != nullptr) {
            spa_zero(impl->coreListener);
            pw_core_add_listener(impl->core, &impl->coreListener, &CORE_EVENTS, impl);
            impl->CreateStream();
            impl->missingReported = false;
            fprintf(stderr, "ovalix-camera: connected to PipeWire as %s\n", impl->info.nodeName);
        } else if (!impl->missingReported) {
            impl->missingReported = true;
            fprintf(stderr, "ovalix-camera: no PipeWire daemon; trying again every second\n");
        }
    }
    bool up = impl->core != nullptr && !impl->lost;
    pw_thread_loop_unlock(impl->loop);
    return up;
}

void CPipeWireCamera::SetFormats(const VideoFormat* formats, uint32_t count)
{
    if (impl == nullptr || impl->loop == nullptr)
        return;
    if (count > FORMAT_MAX_ENTRIES)
        count = FORMAT_MAX_ENTRIES;
    pw_thread_loop_lock(impl->loop);
    memcpy(impl->formats, formats, count * sizeof formats[0]);
    impl->formatCount = count;
    if (impl->stream != nullptr)
        impl->UpdateOffers();
    pw_thread_loop_unlock(impl->loop);
}

bool CPipeWireCamera::Streaming() const
{
    return impl != nullptr && impl->streaming;
}

bool CPipeWireCamera::Negotiated(PictureTarget& target, uint32_t& generation) const
{
    if (impl == nullptr || impl->loop == nullptr)
        return false;
    pw_thread_loop_lock(impl->loop);
    bool ok = impl->negotiated;
    target = impl->target;
    generation = impl->generation;
    pw_thread_loop_unlock(impl->loop);
    return ok;
}

bool CPipeWireCamera::SendFrame(FillFunction fill, void* context)
{
    if (impl == nullptr || impl->loop == nullptr)
        return false;
    pw_thread_loop_lock(impl->loop);
    if (impl->stream == nullptr || !impl->negotiated || !impl->streaming) {
        pw_thread_loop_unlock(impl->loop);
        return false;
    }
    if (impl->FrameWaiting()) {
        pw_thread_loop_unlock(impl->loop);
        return false;
    }
    pw_buffer* b = impl->TakeBuffer();
    spa_data* d = b != nullptr && b->buffer->n_datas > 0 ? &b->buffer->datas[0] : nullptr;
    if (d == nullptr || d->data == nullptr || d->maxsize < impl->size) {
        impl->held = b;  // none, or too small for this format: kept until renegotiation
        pw_thread_loop_unlock(impl->loop);
        return false;
    }
    PictureTarget target = impl->target;
    uint32_t generation = impl->generation;
    // Filled without the loop lock; fillLock, taken before the loop lock is
    // let go, keeps the buffer's memory until the fill ends.
    impl->filling = b;
    impl->fillLock.lock();
    pw_thread_loop_unlock(impl->loop);
    bool filled = fill(static_cast<uint8_t*>(d->data), d->maxsize, target, context);
    impl->fillLock.unlock();

    pw_thread_loop_lock(impl->loop);
    bool kept = impl->filling == b;  // not taken away meanwhile
    impl->filling = nullptr;
    bool sent = false;
    if (kept && filled && impl->generation == generation && impl->streaming) {
        impl->Queue(b);
        sent = true;
    } else if (kept) {
        impl->held = b;
    }
    pw_thread_loop_unlock(impl->loop);
    return sent;
}
