#pragma once
// What the camera stream shows next: the phone's newest frame, a placeholder
// of some kind, or nothing yet. Attaches to the block, asks a service that is
// new to it for this stream's size, and paces the placeholder. Cancel() from
// another thread ends a waiting Next() soon.

#include <stdint.h>

#include <atomic>

#include "camera_client.h"
#include "placeholder_pacing.h"

enum FeedItem {
    FEED_NOTHING = 0,
    FEED_LIVE = 1,
    FEED_PLACEHOLDER = 2,
};

class CFrameFeed {
public:
    CFrameFeed();
    ~CFrameFeed() { delete frame; }

    // Begins a stream of this size: the size is asked of the service now and
    // after every new attachment.
    void Begin(uint32_t width, uint32_t height);
    // Waits up to timeoutMs; a live frame is in Frame(), a placeholder's kind
    // in Kind().
    FeedItem Next(uint32_t timeoutMs);
    void LiveShown();   // the live frame went out (it was whole and of the size)
    void PlaceholderShown();
    void Cancel();
    void Resume();

    const CameraFrame& Frame() const { return *frame; }
    PlaceholderKind Kind() const { return kind; }

private:
    CFrameFeed(const CFrameFeed&);
    CFrameFeed& operator=(const CFrameFeed&);

    void AskForSize();

    CCameraClient client;
    CameraFrame* frame;   // allocated once
    PlaceholderPacing pacing;
    PlaceholderKind kind;
    uint32_t width;
    uint32_t height;
    uint32_t attachments;
    std::atomic<bool> cancelled;
};
