// ovalixsrc: the consumer feed's frames and placeholders as GstBuffers. Two
// sides share the element:
//
// - The streaming thread alone runs the feed, the placeholder pictures and
//   the buffer pool (SourceState): in create(), and in start() and stop(),
//   which run before the thread starts and after it has ended.
// - Other threads (caps queries, properties, the unlock from a state change)
//   see what the streaming thread last read from the block and the
//   negotiated size only through the fields under the object lock; they
//   reach the feed only through its thread-safe calls (cancel, pacing, the
//   wanted size, the counters).
//
// create() waits in the feed, which a frame wakes at once, which hands out a
// placeholder when one is due, and which unlock() cancels at once. The frame
// is copied once, straight from its slot into a pooled buffer. The formats,
// the link state and the requested size come from the feed's block view,
// which any thread may read.

#include "ovalix_src.h"

#include <string.h>

#include <new>

#include "camera_feed.h"
#include "placeholder_sample.h"
#include "source_caps.h"
#include "ticks.h"
#include "video_formats.h"

GST_DEBUG_CATEGORY_STATIC(ovalix_src_debug);
#define GST_CAT_DEFAULT ovalix_src_debug

namespace {

// create() waits for as long as it takes: the feed itself gives a
// placeholder when one is due, and unlock() ends the wait.
const uint32_t CREATE_WAIT_MS = 0xFFFFFFFFu;
const guint DEFAULT_TIMEOUT_MS = DEFAULT_STALL_MS;
const gdouble DEFAULT_PLACEHOLDER_FPS = 1000.0 / DEFAULT_PLACEHOLDER_PERIOD_MS;
const guint POOL_MIN_BUFFERS = 4;

enum {
    PROP_0,
    PROP_TIMEOUT,
    PROP_PLACEHOLDER_FPS,
    PROP_REQUEST_SIZE,
    PROP_LIVE_FRAMES,
    PROP_PLACEHOLDER_FRAMES,
    PROP_DROPPED_FRAMES,
};

GstStaticPadTemplate SRC_TEMPLATE = GST_STATIC_PAD_TEMPLATE(
    "src", GST_PAD_SRC, GST_PAD_ALWAYS,
    GST_STATIC_CAPS("image/jpeg, width = (int) [ 1, 4095 ], height = (int) [ 1, 4095 ], "
                    "framerate = (fraction) [ 1/1, 240/1 ]"));

// Streaming-thread state.
struct SourceState {
    CCameraFeed feed;
    CPlaceholderSample placeholder;
    PictureSize cardSize;  // the negotiated size, the card's
    GstBufferPool* pool;
    GstCaps* stampCaps;
    PictureSize rejected;  // a frame size downstream refused, not asked again
    bool following;        // caps set to follow the frames, not negotiated
};

}  // namespace

struct _OvalixSrc {
    GstPushSrc parent;
    SourceState* state;

    // Under the object lock.
    guint timeoutMs;
    gdouble placeholderFps;
    gchar* requestText;
    gboolean haveRequest;
    PictureSize request;
    gboolean haveCaps;
    PictureSize current;
    gint fpsN, fpsD;
};

G_DEFINE_TYPE(OvalixSrc, ovalix_src, GST_TYPE_PUSH_SRC)

namespace {

// The size the feed asks the service for: request-size, else the negotiated
// size; none before either is known. Called whenever one of them changes.
void UpdateWantedSize(OvalixSrc* self)
{
    GST_OBJECT_LOCK(self);
    PictureSize wanted = {0, 0};
    if (self->haveRequest)
        wanted = self->request;
    else if (self->haveCaps)
        wanted = self->current;
    GST_OBJECT_UNLOCK(self);
    if (wanted.width != 0)
        GST_INFO_OBJECT(self, "asking the service for %ux%u", wanted.width, wanted.height);
    self->state->feed.SetWantedSize(wanted.width, wanted.height);
}

// The properties may change while the element runs.
void UpdatePacing(OvalixSrc* self)
{
    GST_OBJECT_LOCK(self);
    uint32_t stall = self->timeoutMs;
    uint32_t period = (uint32_t)(1000.0 / self->placeholderFps);
    GST_OBJECT_UNLOCK(self);
    self->state->feed.SetPacing(stall, period);
}

// A whole frame (the feed refuses the others) goes out when its size is the
// negotiated one. A frame of another size (the service is still switching, or another
// consumer asked for it) is followed when downstream takes that size, and
// dropped otherwise.
bool AcceptFrame(OvalixSrc* self, const FeedItem& item)
{
    SourceState& st = *self->state;
    PictureSize size = {item.width, item.height};
    BlockViewState view;
    st.feed.View().Read(view);
    GST_OBJECT_LOCK(self);
    PictureSize current = self->current;
    int fpsN = self->fpsN, fpsD = self->fpsD;
    GST_OBJECT_UNLOCK(self);
    int index = FindFormat(view.offer.formats, view.offer.count, size.width, size.height);
    if (index >= 0)
        FormatRate(view.offer.formats[index], fpsN, fpsD);
    if (size.width == current.width && size.height == current.height)
        return true;
    if (size.width == st.rejected.width && size.height == st.rejected.height)
        return false;

    GstCaps* caps = CapsForSize(size, fpsN, fpsD);
    GstBaseSrc* base = GST_BASE_SRC(self);
    bool ok = gst_pad_peer_query_accept_caps(GST_BASE_SRC_PAD(base), caps);
    if (ok) {
        GST_INFO_OBJECT(self, "frames now %ux%u: following them", size.width, size.height);
        st.following = true;
        ok = gst_base_src_set_caps(base, caps);
        st.following = false;
    }
    if (!ok) {
        GST_INFO_OBJECT(self, "dropping %ux%u frames: downstream keeps %ux%u", size.width,
                        size.height, current.width, current.height);
        st.rejected = size;
    }
    gst_caps_unref(caps);
    return ok;
}

// The phone's send stamp, in a meta that stays with the pooled buffer.
void SetPhoneStamp(OvalixSrc* self, GstBuffer* buffer, bool live, uint32_t stampMs)
{
    SourceState& st = *self->state;
    GstReferenceTimestampMeta* meta = gst_buffer_get_reference_timestamp_meta(buffer, st.stampCaps);
    if (!live) {
        if (meta != nullptr)
            gst_buffer_remove_meta(buffer, &meta->parent);
        return;
    }
    if (meta == nullptr) {
        meta =
            gst_buffer_add_reference_timestamp_meta(buffer, st.stampCaps, 0, GST_CLOCK_TIME_NONE);
        meta->parent.flags = (GstMetaFlags)(meta->parent.flags | GST_META_FLAG_POOLED);
    }
    meta->timestamp = (GstClockTime)stampMs * GST_MSECOND;
}

GstFlowReturn Create(GstPushSrc* push, GstBuffer** out)
{
    OvalixSrc* self = OVALIX_SRC(push);
    SourceState& st = *self->state;
    GstBuffer* buffer = nullptr;
    GstFlowReturn flow = gst_buffer_pool_acquire_buffer(st.pool, &buffer, nullptr);
    if (flow != GST_FLOW_OK)
        return flow;
    GstMapInfo map;
    if (!gst_buffer_map(buffer, &map, GST_MAP_WRITE) || map.size < sizeof(CameraFrame)) {
        gst_buffer_unref(buffer);
        return GST_FLOW_ERROR;
    }
    CameraFrame& frame = *reinterpret_cast<CameraFrame*>(map.data);
    uint32_t size = 0;
    bool live = false;
    for (;;) {
        FeedItem item;
        FeedResult got = st.feed.Next(CREATE_WAIT_MS, frame, item);
        if (got == FEED_CANCELLED) {
            flow = GST_FLOW_FLUSHING;
            break;
        }
        if (got == FEED_PLACEHOLDER) {
            PictureTarget card = {PICTURE_JPEG, st.cardSize.width, st.cardSize.height, 0, 0, false,
                                  false};
            const uint8_t* jpeg = st.placeholder.Get(item.placeholder, card, size);
            if (jpeg == nullptr)
                continue;
            memcpy(frame.data, jpeg, size);
            break;
        }
        if (got != FEED_LIVE)
            continue;
        if (AcceptFrame(self, item)) {
            size = frame.size;
            live = true;
            break;
        }
        GST_DEBUG_OBJECT(self, "dropping a %ux%u frame", item.width, item.height);
        st.feed.Dropped();
    }
    uint32_t stamp = live ? frame.stamp : 0;
    gst_buffer_unmap(buffer, &map);
    if (flow != GST_FLOW_OK) {
        gst_buffer_unref(buffer);
        return flow;
    }
    gst_buffer_resize(buffer, 0, size);
    SetPhoneStamp(self, buffer, live, stamp);
    st.feed.Shown();
    *out = buffer;
    return GST_FLOW_OK;
}

gboolean Start(GstBaseSrc* base)
{
    OvalixSrc* self = OVALIX_SRC(base);
    SourceState& st = *self->state;
    st.pool = gst_buffer_pool_new();
    GstStructure* config = gst_buffer_pool_get_config(st.pool);
    // Each buffer holds a whole CameraFrame, so the consumer library copies a
    // frame straight into it; the buffer is then cut to the frame's size.
    gst_buffer_pool_config_set_params(config, nullptr, sizeof(CameraFrame), POOL_MIN_BUFFERS, 0);
    GstAllocationParams params;
    gst_allocation_params_init(&params);
    params.align = alignof(CameraFrame) - 1;
    gst_buffer_pool_config_set_allocator(config, nullptr, &params);
    if (!gst_buffer_pool_set_config(st.pool, config) ||
        !gst_buffer_pool_set_active(st.pool, TRUE)) {
        GST_ELEMENT_ERROR(self, RESOURCE, NO_SPACE_LEFT, ("cannot allocate frame buffers"),
                          (nullptr));
        gst_object_unref(st.pool);
        st.pool = nullptr;
        return FALSE;
    }
    st.rejected = {0, 0};
    st.following = false;
    GST_OBJECT_LOCK(self);
    self->haveCaps = FALSE;
    GST_OBJECT_UNLOCK(self);
    st.feed.ResetCounters();
    UpdatePacing(self);
    UpdateWantedSize(self);
    st.feed.Start();
    return TRUE;
}

gboolean Stop(GstBaseSrc* base)
{
    OvalixSrc* self = OVALIX_SRC(base);
    SourceState& st = *self->state;
    if (st.pool != nullptr) {
        gst_buffer_pool_set_active(st.pool, FALSE);
        gst_object_unref(st.pool);
        st.pool = nullptr;
    }
    st.feed.Detach();
    GST_OBJECT_LOCK(self);
    self->haveCaps = FALSE;
    GST_OBJECT_UNLOCK(self);
    return TRUE;
}

gboolean Unlock(GstBaseSrc* base)
{
    OVALIX_SRC(base)->state->feed.Cancel();
    return TRUE;
}

gboolean UnlockStop(GstBaseSrc* base)
{
    OVALIX_SRC(base)->state->feed.Resume();
    return TRUE;
}

GstCaps* GetCaps(GstBaseSrc* base, GstCaps* filter)
{
    OvalixSrc* self = OVALIX_SRC(base);
    BlockViewState view;
    self->state->feed.View().Read(view);
    GstCaps* caps = CapsForOffer(view.offer);
    GST_OBJECT_LOCK(self);
    if (self->haveCaps)
        AppendSizeIfMissing(caps, self->current, self->fpsN, self->fpsD);
    GST_OBJECT_UNLOCK(self);
    if (filter != nullptr) {
        GstCaps* both = gst_caps_intersect_full(filter, caps, GST_CAPS_INTERSECT_FIRST);
        gst_caps_unref(caps);
        caps = both;
    }
    return caps;
}

// Prefers the size asked for by request-size, then the size the block asks
// for (what the phone is probably sending already), then the first entry.
GstCaps* Fixate(GstBaseSrc* base, GstCaps* caps)
{
    OvalixSrc* self = OVALIX_SRC(base);
    BlockViewState view;
    self->state->feed.View().Read(view);
    PictureSize preferred[2];
    int count = 0;
    GST_OBJECT_LOCK(self);
    if (self->haveRequest)
        preferred[count++] = self->request;
    GST_OBJECT_UNLOCK(self);
    if (view.requestedWidth != 0 && view.requestedHeight != 0)
        preferred[count++] = {view.requestedWidth, view.requestedHeight};
    for (int i = 0; i < count; ++i) {
        GstCaps* fixed = FixateToSize(gst_caps_ref(caps), preferred[i]);
        if (fixed != nullptr) {
            gst_caps_unref(caps);
            return fixed;
        }
    }
    return GST_BASE_SRC_CLASS(ovalix_src_parent_class)->fixate(base, caps);
}

gboolean SetCaps(GstBaseSrc* base, GstCaps* caps)
{
    OvalixSrc* self = OVALIX_SRC(base);
    SourceState& st = *self->state;
    PictureSize size;
    int n, d;
    if (!ReadCapsFormat(caps, size, n, d))
        return FALSE;
    GST_OBJECT_LOCK(self);
    self->current = size;
    self->fpsN = n;
    self->fpsD = d;
    self->haveCaps = TRUE;
    GST_OBJECT_UNLOCK(self);
    st.cardSize = size;
    st.rejected = {0, 0};
    if (!st.following)
        UpdateWantedSize(self);
    return TRUE;
}

gboolean Query(GstBaseSrc* base, GstQuery* query)
{
    OvalixSrc* self = OVALIX_SRC(base);
    if (GST_QUERY_TYPE(query) != GST_QUERY_LATENCY)
        return GST_BASE_SRC_CLASS(ovalix_src_parent_class)->query(base, query);
    GST_OBJECT_LOCK(self);
    gboolean known = self->haveCaps;
    GstClockTime frame = known ? gst_util_uint64_scale_int(GST_SECOND, self->fpsD, self->fpsN) : 0;
    GST_OBJECT_UNLOCK(self);
    if (!known)
        return FALSE;
    // Buffers are stamped when they leave, about a frame's time after the
    // phone took them. Downstream may hold a buffer up to a ring's worth of
    // frames without harm: the source then just takes the newest.
    gst_query_set_latency(query, TRUE, frame, frame * FRAME_SLOT_COUNT);
    return TRUE;
}

void SetProperty(GObject* object, guint id, const GValue* value, GParamSpec* pspec)
{
    OvalixSrc* self = OVALIX_SRC(object);
    switch (id) {
    case PROP_TIMEOUT:
        GST_OBJECT_LOCK(self);
        self->timeoutMs = g_value_get_uint(value);
        GST_OBJECT_UNLOCK(self);
        UpdatePacing(self);
        break;
    case PROP_PLACEHOLDER_FPS:
        GST_OBJECT_LOCK(self);
        self->placeholderFps = g_value_get_double(value);
        GST_OBJECT_UNLOCK(self);
        UpdatePacing(self);
        break;
    case PROP_REQUEST_SIZE: {
        const gchar* text = g_value_get_string(value);
        PictureSize size = {0, 0};
        bool empty = text == nullptr || *text == '\0';
        if (!empty && !ParsePictureSize(text, size)) {
            GST_WARNING_OBJECT(self, "request-size \"%s\" is not WxH: ignored", text);
            break;
        }
        GST_OBJECT_LOCK(self);
        g_free(self->requestText);
        self->requestText = g_strdup(empty ? "" : text);
        self->haveRequest = !empty;
        self->request = size;
        GST_OBJECT_UNLOCK(self);
        UpdateWantedSize(self);
        // Caps follow the request when downstream allows it.
        gst_pad_mark_reconfigure(GST_BASE_SRC_PAD(self));
        break;
    }
    default:
        G_OBJECT_WARN_INVALID_PROPERTY_ID(object, id, pspec);
    }
}

void GetProperty(GObject* object, guint id, GValue* value, GParamSpec* pspec)
{
    OvalixSrc* self = OVALIX_SRC(object);
    FeedCounts counts;
    switch (id) {
    case PROP_LIVE_FRAMES:
    case PROP_PLACEHOLDER_FRAMES:
    case PROP_DROPPED_FRAMES:
        self->state->feed.ReadCounts(counts);
        break;
    }
    GST_OBJECT_LOCK(self);
    switch (id) {
    case PROP_TIMEOUT:
        g_value_set_uint(value, self->timeoutMs);
        break;
    case PROP_PLACEHOLDER_FPS:
        g_value_set_double(value, self->placeholderFps);
        break;
    case PROP_REQUEST_SIZE:
        g_value_set_string(value, self->requestText);
        break;
    case PROP_LIVE_FRAMES:
        g_value_set_uint64(value, counts.live);
        break;
    case PROP_PLACEHOLDER_FRAMES:
        g_value_set_uint64(value, counts.placeholders);
        break;
    case PROP_DROPPED_FRAMES:
        g_value_set_uint64(value, counts.dropped + counts.damaged);
        break;
    default:
        G_OBJECT_WARN_INVALID_PROPERTY_ID(object, id, pspec);
    }
    GST_OBJECT_UNLOCK(self);
}

void Finalize(GObject* object)
{
    OvalixSrc* self = OVALIX_SRC(object);
    gst_caps_unref(self->state->stampCaps);
    delete self->state;
    g_free(self->requestText);
    G_OBJECT_CLASS(ovalix_src_parent_class)->finalize(object);
}

}  // namespace

static void ovalix_src_init(OvalixSrc* self)
{
    self->state = new (std::nothrow) SourceState();
    g_assert(self->state != nullptr);
    self->state->pool = nullptr;
    self->state->stampCaps = gst_caps_new_empty_simple(OVALIX_PHONE_STAMP_CAPS);
    self->timeoutMs = DEFAULT_TIMEOUT_MS;
    self->placeholderFps = DEFAULT_PLACEHOLDER_FPS;
    self->requestText = g_strdup("");
    GstBaseSrc* base = GST_BASE_SRC(self);
    gst_base_src_set_live(base, TRUE);
    gst_base_src_set_format(base, GST_FORMAT_TIME);
    gst_base_src_set_do_timestamp(base, TRUE);
}

static void ovalix_src_class_init(OvalixSrcClass* klass)
{
    GObjectClass* object = G_OBJECT_CLASS(klass);
    GstElementClass* element = GST_ELEMENT_CLASS(klass);
    GstBaseSrcClass* base = GST_BASE_SRC_CLASS(klass);
    GstPushSrcClass* push = GST_PUSH_SRC_CLASS(klass);

    object->set_property = SetProperty;
    object->get_property = GetProperty;
    object->finalize = Finalize;

    const GParamFlags rw =
        (GParamFlags)(G_PARAM_READWRITE | G_PARAM_STATIC_STRINGS | GST_PARAM_MUTABLE_PLAYING);
    const GParamFlags ro = (GParamFlags)(G_PARAM_READABLE | G_PARAM_STATIC_STRINGS);
    g_object_class_install_property(
        object, PROP_TIMEOUT,
        g_param_spec_uint("timeout", "Wait time-out",
                          "Milliseconds without a live frame before the placeholder picture "
                          "is sent instead (no service, no phone, or a phone that stopped "
                          "sending)",
                          100, 60000, DEFAULT_TIMEOUT_MS, rw));
    g_object_class_install_property(
        object, PROP_PLACEHOLDER_FPS,
        g_param_spec_double("placeholder-fps", "Placeholder rate",
                            "Frames per second of the placeholder picture while there is "
                            "nothing live, so that downstream keeps running",
                            0.2, 30.0, DEFAULT_PLACEHOLDER_FPS, rw));
    g_object_class_install_property(
        object, PROP_REQUEST_SIZE,
        g_param_spec_string("request-size", "Requested picture size",
                            "Picture size to ask the service (and so the phone) for, as WxH; "
                            "caps prefer it when downstream allows. Empty: the size caps "
                            "negotiation fixes",
                            "", rw));
    g_object_class_install_property(object, PROP_LIVE_FRAMES,
                                    g_param_spec_uint64("live-frames", "Live frames",
                                                        "Phone frames sent since start", 0,
                                                        G_MAXUINT64, 0, ro));
    g_object_class_install_property(object, PROP_PLACEHOLDER_FRAMES,
                                    g_param_spec_uint64("placeholder-frames", "Placeholder frames",
                                                        "Placeholder pictures sent since start", 0,
                                                        G_MAXUINT64, 0, ro));
    g_object_class_install_property(
        object, PROP_DROPPED_FRAMES,
        g_param_spec_uint64(
            "dropped-frames", "Dropped frames",
            "Phone frames not sent since start: damaged or cut short, or of a picture "
            "size downstream does not take",
            0, G_MAXUINT64, 0, ro));

    gst_element_class_add_static_pad_template(element, &SRC_TEMPLATE);
    gst_element_class_set_static_metadata(
        element, "Ovalix phone camera", "Source/Video",
        "Live JPEG frames of the phone camera, from the Ovalix service's shared camera block; "
        "a placeholder picture while there is no service, no phone or no picture",
        "Ovalix developers");

    base->start = Start;
    base->stop = Stop;
    base->unlock = Unlock;
    base->unlock_stop = UnlockStop;
    base->get_caps = GetCaps;
    base->fixate = Fixate;
    base->set_caps = SetCaps;
    base->query = Query;
    push->create = Create;

    GST_DEBUG_CATEGORY_INIT(ovalix_src_debug, "ovalixsrc", 0, "Ovalix phone camera source");
}

gboolean OvalixSrcRegister(GstPlugin* plugin)
{
    return gst_element_register(plugin, "ovalixsrc", GST_RANK_NONE, OVALIX_TYPE_SRC);
}
