#pragma once
// When a consumer writes the picture size it wants into the block: the rule
// of camera_feed.h ("Asking for a size") as one decision over what a look at
// the block saw, so that it can be checked case by case without a service.

#include <stdint.h>

// Starving for this long, with the requested size unchanged as long, makes a
// feed ask again (see camera_feed.h).
const uint32_t STARVED_ASK_MS = 3000;

// One look at the block, with what the consumer wants.
struct SizeLook {
    uint32_t nowMs;
    bool force;          // the wanted size was just set, or the objects are new
    bool preferredOnly;  // the wanted size is a default nobody chose (PreferSize)
    uint32_t wantedWidth;
    uint32_t wantedHeight;
    uint32_t requestedWidth;  // the block's words
    uint32_t requestedHeight;
    bool streaming;           // the link streams
    bool ringEmpty;           // no slot holds a frame
    bool requestedIsStartUp;  // the requested size is the table's last entry
    bool wantedIsStartUp;     // the wanted size is the table's last entry
};

// What the decision remembers between looks.
struct SizeAskState {
    uint32_t seenRequest;  // the requested size last seen, packed
    uint32_t seenRequestSinceMs;
    bool seenRequestByConsumer;  // it changed while the link was up with frames in the ring
    bool streamedAtLastLook;
    uint32_t lastLiveShownMs;  // or the start, or the last attachment, or the last ask
};

void SizeAskStart(SizeAskState& state, uint32_t nowMs);

// True when the consumer should write its wanted size now.
bool DecideSizeAsk(SizeAskState& state, const SizeLook& look);
