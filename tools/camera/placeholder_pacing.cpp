#include "placeholder_pacing.h"

void PacingStart(PlaceholderPacing& pacing, uint32_t nowMs)
{
    pacing.lastLiveMs = nowMs;
    pacing.lastPlaceholderMs = nowMs;
    pacing.placeholderSent = false;
}

void PacingLiveSent(PlaceholderPacing& pacing, uint32_t nowMs)
{
    pacing.lastLiveMs = nowMs;
}

void PacingPlaceholderSent(PlaceholderPacing& pacing, uint32_t nowMs)
{
    pacing.lastPlaceholderMs = nowMs;
    pacing.placeholderSent = true;
}

bool PlaceholderDue(const PlaceholderPacing& pacing, uint32_t nowMs, bool attached,
                    bool linkStreaming, PlaceholderKind& kind)
{
    if (!attached)
        kind = PLACEHOLDER_NO_SERVICE;
    else if (!linkStreaming)
        kind = PLACEHOLDER_NO_PHONE;
    else if (nowMs - pacing.lastLiveMs >= PLACEHOLDER_STALL_MS)
        kind = PLACEHOLDER_NO_PICTURE;
    else
        return false;
    // Measured from the later of the last live frame and the last placeholder.
    uint32_t sinceLive = nowMs - pacing.lastLiveMs;
    uint32_t sincePlaceholder = nowMs - pacing.lastPlaceholderMs;
    uint32_t since = sinceLive < sincePlaceholder ? sinceLive : sincePlaceholder;
    if (!pacing.placeholderSent && kind != PLACEHOLDER_NO_PICTURE)
        return true;
    return since >= PLACEHOLDER_PERIOD_MS;
}
