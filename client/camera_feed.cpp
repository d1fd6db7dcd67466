#include "camera_feed.h"

#include <string.h>

#include <new>

#include "jpeg_check.h"
#include "ticks.h"

namespace {

uint32_t PackSize(uint32_t width, uint32_t height)
{
    return (width & 0xFFFF) | (height & 0xFFFF) << 16;
}

// The size a starting service writes when it has a stored table: that of the
// table's last entry.
bool IsStartUpSize(const FormatTable& table, uint32_t width, uint32_t height)
{
    uint32_t count = table.count;
    if (count == 0 || count > FORMAT_MAX_ENTRIES)
        return false;
    const FormatEntry& last = table.entries[count - 1];
    return EntryWidth(last) == width && EntryHeight(last) == height;
}

}  // namespace

CCameraFeed::CCameraFeed(uint32_t frameBacklog)
    : frames(nullptr), backlog(frameBacklog > 0 ? frameBacklog : 1), pending(0), next(0),
      caughtUp(false), last(FEED_NOTHING), lastStamp(0), attachments(0), lastAskCheckMs(0),
      sizeCount(0), sizesAttachment(0), wanted(0), wantedChanged(false), wantedPreferred(false),
      stallMs(DEFAULT_STALL_MS), periodMs(DEFAULT_PLACEHOLDER_PERIOD_MS)
{
    memset(&ask, 0, sizeof ask);
    if (backlog > 1)
        frames = new (std::nothrow) CameraFrame[backlog];
    ResetCounters();
    PacingStart(pacing, GetTickMs(), DEFAULT_STALL_MS, DEFAULT_PLACEHOLDER_PERIOD_MS);
}

CCameraFeed::~CCameraFeed()
{
    delete[] frames;
}

bool CCameraFeed::Attach()
{
    uint32_t now = GetTickMs();
    bool attached = client.Attach(now);
    view.Update(client, now);
    return attached;
}

void CCameraFeed::Detach()
{
    client.Detach();
    view.Update(client, GetTickMs());
}

void CCameraFeed::Start()
{
    uint32_t now = GetTickMs();
    // After an idle time the ring's newest frame may be long gone by.
    if (client.Attach(now))
        client.SkipJammedRing();
    view.Update(client, now);
    PacingStart(pacing, now, stallMs.load(), periodMs.load());
    pending = next = 0;
    caughtUp = false;
    last = FEED_NOTHING;
    wantedChanged = true;
    SizeAskStart(ask, now);
}

void CCameraFeed::SetWantedSize(uint32_t width, uint32_t height)
{
    wantedPreferred = false;
    wanted = PackSize(width, height);
    wantedChanged = true;
}

void CCameraFeed::PreferSize(uint32_t width, uint32_t height)
{
    wantedPreferred = true;
    wanted = PackSize(width, height);
    wantedChanged = true;
}

void CCameraFeed::SetPacing(uint32_t stall, uint32_t period)
{
    stallMs = stall;
    periodMs = period > 0 ? period : 1;
}

void CCameraFeed::ApplyPacing()
{
    pacing.stallMs = stallMs.load(std::memory_order_relaxed);
    pacing.periodMs = periodMs.load(std::memory_order_relaxed);
}

void CCameraFeed::ReadCounts(FeedCounts& out)
{
    std::lock_guard<std::mutex> hold(countersLock);
    out = counts;
}

void CCameraFeed::ReadLatency(uint32_t (&buckets)[FEED_LATENCY_BUCKETS])
{
    std::lock_guard<std::mutex> hold(countersLock);
    memcpy(buckets, latencyMs, sizeof latencyMs);
}

void CCameraFeed::ResetCounters()
{
    std::lock_guard<std::mutex> hold(countersLock);
    memset(&counts, 0, sizeof counts);
    memset(latencyMs, 0, sizeof latencyMs);
}

// Every ASK_CHECK_MS, and at once for a new wanted size or new objects: the
// view, and the size this consumer asks for.
void CCameraFeed::Look(uint32_t now)
{
    bool attached = client.IsAttached();
    bool newObjects = attached && client.Attachments() != attachments;
    if (!newObjects && !(attached && wantedChanged.load()) && now - lastAskCheckMs < ASK_CHECK_MS)
        return;
    lastAskCheckMs = now;
    view.Update(client, now);
    if (attached)
        AskForSize(now, newObjects);
}

void CCameraFeed::AskForSize(uint32_t now, bool newObjects)
{
    bool force = wantedChanged.exchange(false) || newObjects;
    if (newObjects) {
        attachments = client.Attachments();
        ask.lastLiveShownMs = now;
    }
    FormatTable table;
    bool haveTable = ReadSizes(table);
    SizeLook look;
    if (!client.ReadRequestedSize(look.requestedWidth, look.requestedHeight))
        return;
    uint32_t packed = wanted.load();
    look.nowMs = now;
    look.force = force;
    look.preferredOnly = wantedPreferred.load();
    look.wantedWidth = packed & 0xFFFF;
    look.wantedHeight = packed >> 16;
    look.streaming = client.LinkStreaming();
    look.ringEmpty = client.RingEmpty();
    look.requestedIsStartUp =
        haveTable && IsStartUpSize(table, look.requestedWidth, look.requestedHeight);
    look.wantedIsStartUp = haveTable && IsStartUpSize(table, look.wantedWidth, look.wantedHeight);
    if (DecideSizeAsk(ask, look))
        client.RequestSize(look.wantedWidth, look.wantedHeight);
}

// The sizes of the block's table; kept when the table cannot be read whole.
bool CCameraFeed::ReadSizes(FormatTable& table)
{
    sizesAttachment = client.Attachments();
    if (!client.ReadFormats(table))
        return false;
    sizeCount = UsableFormats(table, sizes);
    return true;
}

// Whether the table lists the size; the table is read again first when it
// was read from other objects, or does not list it (a new table may have
// come just before the frames of a new size).
bool CCameraFeed::ListedSize(uint32_t width, uint32_t height)
{
    FormatTable table;
    if (sizesAttachment != client.Attachments())
        ReadSizes(table);
    if (FindFormat(sizes, sizeCount, width, height) >= 0)
        return true;
    return ReadSizes(table) && FindFormat(sizes, sizeCount, width, height) >= 0;
}

bool CCameraFeed::HandOut(CameraFrame& into, FeedItem& item)
{
    bool whole = ReadWholeJpeg(into.data, into.size, item.width, item.height) &&
                 ListedSize(item.width, item.height);
    if (whole) {
        lastStamp = into.stamp;
    } else {
        std::lock_guard<std::mutex> hold(countersLock);
        ++counts.damaged;
    }
    return whole;
}

// One look at the ring, waiting up to timeoutMs. FEED_NOTHING when nothing
// whole came.
FeedResult CCameraFeed::TakeLive(uint32_t now, uint32_t timeoutMs, CameraFrame& into,
                                 FeedItem& item)
{
    uint32_t taken = 0;
    bool all = caughtUp && frames != nullptr;
    ClientResult got =
        frames != nullptr
            ? client.WaitFrames(now, timeoutMs, frames, all ? backlog : 1, all, &wake, taken)
            : client.WaitFrames(now, timeoutMs, &into, 1, false, &wake, taken);
    if (got == CLIENT_WOKEN)
        return FEED_CANCELLED;
    // The ring may hold frames from long before this reader came (or came
    // back): the first take is the newest frame alone, later ones every frame
    // since.
    if (got == CLIENT_NO_SERVICE || client.Attachments() != attachments)
        caughtUp = false;
    if (got != CLIENT_FRAME)
        return FEED_NOTHING;
    caughtUp = true;
    if (frames == nullptr)
        return HandOut(into, item) ? FEED_LIVE : FEED_NOTHING;
    pending = taken;
    next = 0;
    return HandOutPending(into, item);
}

// Frames of the last take still to hand out, oldest first.
FeedResult CCameraFeed::HandOutPending(CameraFrame& into, FeedItem& item)
{
    while (next < pending) {
        const CameraFrame& f = frames[next++];
        memcpy(into.data, f.data, f.size);
        into.size = f.size;
        into.flags = f.flags;
        into.stamp = f.stamp;
        into.slot = f.slot;
        if (HandOut(into, item))
            return FEED_LIVE;
    }
    return FEED_NOTHING;
}

FeedResult CCameraFeed::Next(uint32_t timeoutMs, CameraFrame& into, FeedItem& item)
{
    last = FEED_NOTHING;
    if (wake.Woken())
        return FEED_CANCELLED;
    if (HandOutPending(into, item) == FEED_LIVE)
        return last = FEED_LIVE;
    ApplyPacing();
    uint32_t now = GetTickMs();
    uint32_t start = now;
    for (;;) {
        Look(now);
        bool streaming = client.LinkStreaming();
        uint32_t due = PacingDueInMs(pacing, now, streaming);
        if (due == 0) {
            // Counted as sent even when the consumer cannot send it, so that
            // a refusing downstream is not offered another at once.
            item.placeholder = PlaceholderKindFor(client.IsAttached(), streaming);
            PacingPlaceholderSent(pacing, now);
            return last = FEED_PLACEHOLDER;
        }
        uint32_t elapsed = now - start;
        if (elapsed >= timeoutMs)
            return FEED_NOTHING;
        // Never past the placeholder's time, and at most a period, so that a
        // link that drops during a long wait is noticed in time.
        uint32_t wait = PacingWaitMs(pacing, now, streaming);
        if (wait > timeoutMs - elapsed)
            wait = timeoutMs - elapsed;
        FeedResult got = TakeLive(now, wait, into, item);
        if (got != FEED_NOTHING)
            return last = got;
        now = GetTickMs();
    }
}

void CCameraFeed::Shown()
{
    if (last == FEED_NOTHING || last == FEED_CANCELLED)
        return;
    uint32_t now = GetTickMs();
    std::lock_guard<std::mutex> hold(countersLock);
    if (last == FEED_PLACEHOLDER) {
        ++counts.placeholders;
    } else {
        PacingLiveSent(pacing, now);
        ask.lastLiveShownMs = now;
        if (counts.live == 0)
            counts.firstStamp = lastStamp;
        ++counts.live;
        counts.lastStamp = lastStamp;
        uint32_t latency = now - lastStamp;
        latencyMs[latency < FEED_LATENCY_BUCKETS ? latency : FEED_LATENCY_BUCKETS - 1]++;
    }
    last = FEED_NOTHING;
}

void CCameraFeed::Dropped()
{
    if (last != FEED_LIVE)
        return;
    std::lock_guard<std::mutex> hold(countersLock);
    ++counts.dropped;
    last = FEED_NOTHING;
}
