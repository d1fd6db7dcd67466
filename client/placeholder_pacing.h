#pragma once
// When a consumer sends its placeholder instead of a live frame, and which
// one. Until the first live frame, without a service or without a streaming
// link nothing live is coming: the placeholder goes out at once and then every
// period. Otherwise it goes out only once no live frame has gone out for the
// stall time, then every period until live frames come again. So a consumer
// never sits on a frozen or empty stream, and a live stream is bridged over
// one late frame or a quick new link (the service links again when a reader
// asks for another picture size) without a placeholder in between.
//
// Times are a wrapping millisecond tick: only differences are compared.

#include <stdint.h>

// Every consumer's pacing unless the user changes it: the placeholder after
// a second without a live frame, then five a second.
const uint32_t DEFAULT_STALL_MS = 1000;
const uint32_t DEFAULT_PLACEHOLDER_PERIOD_MS = 200;

enum PlaceholderKind {
    PLACEHOLDER_NO_SERVICE = 0,   // the shared camera block is not there
    PLACEHOLDER_NO_PHONE = 1,     // the service has no streaming link
    PLACEHOLDER_NO_PICTURE = 2,   // the link is up but frames stopped coming
    PLACEHOLDER_KIND_COUNT = 3,
};

// "no-service", "no-phone", "no-picture"; "" for anything else.
const char* PlaceholderKindName(PlaceholderKind kind);
PlaceholderKind PlaceholderKindFor(bool attached, bool linkStreaming);

struct PlaceholderPacing {
    uint32_t stallMs;             // a consumer may change these between calls
    uint32_t periodMs;
    uint32_t lastLiveMs;          // last live frame sent, or the start
    uint32_t lastPlaceholderMs;
    bool placeholderSent;         // since the last live frame or the start
    bool liveSent;                // since the start
};

void PacingStart(PlaceholderPacing& pacing, uint32_t nowMs, uint32_t stallMs, uint32_t periodMs);
void PacingLiveSent(PlaceholderPacing& pacing, uint32_t nowMs);
void PacingPlaceholderSent(PlaceholderPacing& pacing, uint32_t nowMs);

// Milliseconds until the next placeholder is due; 0 when it is due now.
// linkStreaming: attached and the block's link state is streaming.
uint32_t PacingDueInMs(const PlaceholderPacing& pacing, uint32_t nowMs, bool linkStreaming);

// How long the worker may wait for a frame before it must look again: until
// the placeholder is due, at least 1 ms (no busy loop) and at most a period,
// so that a link that drops during a long stall wait is noticed in time.
uint32_t PacingWaitMs(const PlaceholderPacing& pacing, uint32_t nowMs, bool linkStreaming);
