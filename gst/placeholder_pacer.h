#pragma once
// When the source sends a placeholder: once no live frame has gone out for
// the stall time, then every period until a live frame goes out again.

#include <stdint.h>

struct PlaceholderPacer {
    uint64_t lastLiveMs;          // or the start
    uint64_t lastPlaceholderMs;
    bool placeholderSent;         // since the last live frame
    bool dueAtOnce;               // nothing live is coming: do not wait the stall time
};

// At start a placeholder is due at once unless frames are expected (the link
// is streaming); then the first frame gets the whole stall time.
void PacerStart(PlaceholderPacer& pacer, uint64_t nowMs, bool framesExpected);
void PacerLiveSent(PlaceholderPacer& pacer, uint64_t nowMs);
void PacerPlaceholderSent(PlaceholderPacer& pacer, uint64_t nowMs);

// Milliseconds until the next placeholder is due; 0 when it is due now.
uint32_t PacerDueInMs(const PlaceholderPacer& pacer, uint64_t nowMs, uint32_t stallMs,
                      uint32_t periodMs);
