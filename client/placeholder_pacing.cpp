#include "placeholder_pacing.h"

const char* PlaceholderKindName(PlaceholderKind kind)
{
    switch (kind) {
    case PLACEHOLDER_NO_SERVICE: return "no-service";
    case PLACEHOLDER_NO_PHONE: return "no-phone";
    case PLACEHOLDER_NO_PICTURE: return "no-picture";
    default: return "";
    }
}

PlaceholderKind PlaceholderKindFor(bool attached, bool linkStreaming)
{
    if (!attached)
        return PLACEHOLDER_NO_SERVICE;
    return linkStreaming ? PLACEHOLDER_NO_PICTURE : PLACEHOLDER_NO_PHONE;
}

void PacingStart(PlaceholderPacing& pacing, uint32_t nowMs, uint32_t stallMs, uint32_t periodMs)
{
    pacing.stallMs = stallMs;
    pacing.periodMs = periodMs;
    pacing.lastLiveMs = nowMs;
    pacing.lastPlaceholderMs = nowMs;
    pacing.placeholderSent = false;
    pacing.liveSent = false;
}

void PacingLiveSent(PlaceholderPacing& pacing, uint32_t nowMs)
{
    pacing.lastLiveMs = nowMs;
    pacing.placeholderSent = false;
    pacing.liveSent = true;
}

void PacingPlaceholderSent(PlaceholderPacing& pacing, uint32_t nowMs)
{
    pacing.lastPlaceholderMs = nowMs;
    pacing.placeholderSent = true;
}

uint32_t PacingDueInMs(const PlaceholderPacing& pacing, uint32_t nowMs, bool linkStreaming)
{
    uint32_t since, after;
    if (pacing.placeholderSent) {
        since = nowMs - pacing.lastPlaceholderMs;
        after = pacing.periodMs;
    } else if (!linkStreaming && !pacing.liveSent) {
        return 0;
    } else {
        since = nowMs - pacing.lastLiveMs;
        after = pacing.stallMs;
    }
    return since >= after ? 0 : after - since;
}

uint32_t PacingWaitMs(const PlaceholderPacing& pacing, uint32_t nowMs, bool linkStreaming)
{
    uint32_t due = PacingDueInMs(pacing, nowMs, linkStreaming);
    if (due == 0)
        return 1;
    return due > pacing.periodMs ? pacing.periodMs : due;
}
