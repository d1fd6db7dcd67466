#include "size_request.h"

namespace {

uint32_t PackSize(uint32_t width, uint32_t height)
{
    return (width & 0xFFFF) | (height & 0xFFFF) << 16;
}

// No live frame shown, and the requested size unchanged, for STARVED_ASK_MS
// while the phone streams. Asking starts the wait again.
bool Starved(SizeAskState& s, const SizeLook& look)
{
    if (look.nowMs - s.lastLiveShownMs < STARVED_ASK_MS ||
        look.nowMs - s.seenRequestSinceMs < STARVED_ASK_MS || !look.streaming)
        return false;
    s.lastLiveShownMs = look.nowMs;
    return true;
}

}  // namespace

void SizeAskStart(SizeAskState& state, uint32_t nowMs)
{
    state.lastLiveShownMs = nowMs;
    state.seenRequestSinceMs = nowMs;
}

bool DecideSizeAsk(SizeAskState& s, const SizeLook& look)
{
    // A service that has just started writes its size into an empty ring.
    // A size that changed while the link streamed at this look or the one
    // before, with frames still in the ring, was asked for by a consumer (the
    // service drops the link for it and empties the ring only when the phone
    // is back).
    bool linkWasUp = look.streaming || s.streamedAtLastLook;
    s.streamedAtLastLook = look.streaming;
    uint32_t requested = PackSize(look.requestedWidth, look.requestedHeight);
    if (requested != s.seenRequest) {
        s.seenRequest = requested;
        s.seenRequestSinceMs = look.nowMs;
        s.seenRequestByConsumer = linkWasUp && !look.ringEmpty;
    }
    if (look.wantedWidth == 0 || look.wantedHeight == 0 ||
        (look.requestedWidth == look.wantedWidth && look.requestedHeight == look.wantedHeight))
        return false;
    bool nobodyAsks = look.requestedWidth == 0 && look.requestedHeight == 0;
    // Asked for nothing, the service sends its table's last entry: when that
    // is the wanted size, asking again unprompted (a service that started
    // afresh under a reader) would only make it link again. A size the
    // consumer has chosen is written at once and after a new attachment, so
    // the block says what this consumer shows; a size it only prefers never.
    if ((!look.force || look.preferredOnly) && nobodyAsks && look.wantedIsStartUp)
        return false;
    bool startUp = nobodyAsks || (!s.seenRequestByConsumer && look.requestedIsStartUp);
    return look.force || startUp || Starved(s, look);
}
