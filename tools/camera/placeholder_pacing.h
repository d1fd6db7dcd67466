#pragma once
// When the camera sends a placeholder instead of a live frame: at once and
// then at a low steady rate while there is no service or no phone link; while
// the link is up, only once no frame has come for the stall time. So a
// consumer never sits on a frozen or empty stream, and a live stream is never
// interrupted by a late frame.

#include <stdint.h>

#include "placeholder_picture.h"

const uint32_t PLACEHOLDER_PERIOD_MS = 200;
const uint32_t PLACEHOLDER_STALL_MS = 1000;

struct PlaceholderPacing {
    uint32_t lastLiveMs;          // last live frame sent, or when the consumer came
    uint32_t lastPlaceholderMs;
    bool placeholderSent;         // since the consumer came
};

void PacingStart(PlaceholderPacing& pacing, uint32_t nowMs);
void PacingLiveSent(PlaceholderPacing& pacing, uint32_t nowMs);
void PacingPlaceholderSent(PlaceholderPacing& pacing, uint32_t nowMs);

// True when a placeholder is due now; kind says which. linkStreaming is
// whether the block's link state is streaming.
bool PlaceholderDue(const PlaceholderPacing& pacing, uint32_t nowMs, bool attached,
                    bool linkStreaming, PlaceholderKind& kind);
