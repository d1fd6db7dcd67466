#include "placeholder_pacer.h"

void PacerStart(PlaceholderPacer& pacer, uint64_t nowMs, bool framesExpected)
{
    pacer.lastLiveMs = nowMs;
    pacer.lastPlaceholderMs = 0;
    pacer.placeholderSent = false;
    pacer.dueAtOnce = !framesExpected;
}

void PacerLiveSent(PlaceholderPacer& pacer, uint64_t nowMs)
{
    pacer.lastLiveMs = nowMs;
    pacer.placeholderSent = false;
    pacer.dueAtOnce = false;
}

void PacerPlaceholderSent(PlaceholderPacer& pacer, uint64_t nowMs)
{
    pacer.lastPlaceholderMs = nowMs;
    pacer.placeholderSent = true;
    pacer.dueAtOnce = false;
}

uint32_t PacerDueInMs(const PlaceholderPacer& pacer, uint64_t nowMs, uint32_t stallMs,
                      uint32_t periodMs)
{
    if (pacer.dueAtOnce)
        return 0;
    uint64_t due = pacer.placeholderSent ? pacer.lastPlaceholderMs + periodMs
                                         : pacer.lastLiveMs + stallMs;
    return due <= nowMs ? 0 : (uint32_t)(due - nowMs);
}
