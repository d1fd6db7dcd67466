#include "frame_feed.h"

#include <new>

#include "ticks.h"

namespace {
const uint32_t STALL_MS = 1000;
const uint32_t PLACEHOLDER_PERIOD_MS = 200;
const uint32_t WAIT_SLICE_MS = 50;   // how soon Cancel() is noticed
}  // namespace

CFrameFeed::CFrameFeed()
    : frame(new (std::nothrow) CameraFrame), kind(PLACEHOLDER_NO_SERVICE), width(0), height(0),
      attachments(0), cancelled(false)
{
    PacingStart(pacing, GetTickMs(), STALL_MS, PLACEHOLDER_PERIOD_MS);
}

void CFrameFeed::Begin(uint32_t w, uint32_t h)
{
    width = w;
    height = h;
    client.Attach();
    attachments = client.Attachments();
    AskForSize();
    PacingStart(pacing, GetTickMs(), STALL_MS, PLACEHOLDER_PERIOD_MS);
}

void CFrameFeed::AskForSize()
{
    uint32_t w = 0, h = 0;
    if (client.ReadRequestedSize(w, h) && (w != width || h != height))
        client.RequestSize(width, height);
}

FeedItem CFrameFeed::Next(uint32_t timeoutMs)
{
    if (frame == nullptr)
        return FEED_NOTHING;
    uint32_t start = GetTickMs();
    while (!cancelled) {
        uint32_t now = GetTickMs();
        bool streaming = client.LinkStreaming();
        if (PacingDueInMs(pacing, now, streaming) == 0) {
            kind = PlaceholderKindFor(client.IsAttached(), streaming);
            return FEED_PLACEHOLDER;
        }
        uint32_t left = timeoutMs - (now - start);
        if (now - start >= timeoutMs)
            return FEED_NOTHING;
        uint32_t wait = PacingWaitMs(pacing, now, streaming);
        wait = wait < left ? wait : left;
        ClientResult got = client.WaitNewest(wait < WAIT_SLICE_MS ? wait : WAIT_SLICE_MS, *frame);
        if (client.Attachments() != attachments) {
            attachments = client.Attachments();
            AskForSize();
        }
        if (got == CLIENT_FRAME)
            return FEED_LIVE;
    }
    return FEED_NOTHING;
}

void CFrameFeed::LiveShown()
{
    PacingLiveSent(pacing, GetTickMs());
}

void CFrameFeed::PlaceholderShown()
{
    PacingPlaceholderSent(pacing, GetTickMs());
}

void CFrameFeed::Cancel()
{
    cancelled = true;
}

void CFrameFeed::Resume()
{
    cancelled = false;
}
