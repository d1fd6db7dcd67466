#pragma once
// The consumer's side of the shared camera block, for every reader (the
// capture filter, the GStreamer element, ovalix-monitor).
//
// A reader outlives the service: while the objects are missing it tries to
// open them again at most once a second, never blocking its caller for that,
// and when a restarted service has made new objects it lets go of the old
// ones and opens the new. Where the service hands out sealed objects (see
// sealed_channel.h) the reader takes those, which no other process can cut
// under it; otherwise it opens the names. A name that is gone while the
// service still publishes behind it changes nothing.
//
// Frames are taken under the mutex, newest first: the reader copies the frame
// in `currentSlot` out once, frees every older occupied slot and leaves the
// newest occupied until its next take. So several readers at once each get
// every frame they are awake for, and the ring never jams on a slot that only
// one of them freed.

#include <stdint.h>

#include "camera_block.h"
#include "named_objects.h"

enum ClientResult {
    CLIENT_FRAME = 0,       // a frame was taken
    CLIENT_TIMEOUT = 1,     // attached, but no new frame within the wait
    CLIENT_NO_SERVICE = 2,  // the named objects are not there (yet)
    CLIENT_WOKEN = 3,       // the caller's wake signal ended the wait
};

// One taken frame; the caller allocates it once and reuses it.
struct CameraFrame {
    uint8_t data[FRAME_DATA_SIZE];
    uint32_t size;
    uint32_t flags;
    uint32_t stamp;
    uint32_t slot;
};

class CCameraClient {
public:
    CCameraClient();
    ~CCameraClient();

    // Opens the objects when they are not open and the last try is at least a
    // second old; lets go of objects whose names now lead elsewhere. Cheap to
    // call often. True while attached.
    bool Attach();
    bool Attach(uint32_t nowMs);  // with the caller's reading of the tick
    // Lets go of the objects; the next Attach tries at once.
    void Detach();
    bool IsAttached() const { return block != nullptr; }
    // Counts successful opens; a change means the objects behind the names are
    // new (a restarted service), even when no call ever saw them missing.
    uint32_t Attachments() const { return attachments; }

    // Waits up to timeoutMs for a frame this reader has not taken yet and
    // takes the newest. Detached, it tries to attach and otherwise sleeps out
    // the wait, so a caller's loop never spins.
    ClientResult WaitNewest(uint32_t timeoutMs, CameraFrame& out);

    // Like WaitNewest, but takes every frame in the ring this reader has not
    // taken yet, oldest first, up to capacity (for counting drops).
    ClientResult WaitAll(uint32_t timeoutMs, CameraFrame* out, uint32_t capacity, uint32_t& taken);

    // Both in one, for a caller that has just read the tick (nowMs) and may
    // be woken from another thread (wake, or null). With a frame waiting it
    // reads no clock and makes no system call beyond the mutex's.
    ClientResult WaitFrames(uint32_t nowMs, uint32_t timeoutMs, CameraFrame* out, uint32_t capacity,
                            bool all, CWakeSignal* wake, uint32_t& taken);

    // A ring with no free slot means that no reader has taken a frame for a
    // whole turn and the service has dropped every frame since the newest
    // one: that frame is old. Then every slot is freed, so that the next
    // take waits for a frame published after this call. For a reader that
    // starts after an idle time. True when the ring was full.
    bool SkipJammedRing();

    // Block fields outside the ring; false when detached.
    bool ReadLinkState(uint32_t& state) const;
    bool LinkStreaming() const;                // attached, and the link streams
    bool RingEmpty() const;                    // attached, and no slot holds a frame
    bool ReadFormats(FormatTable& out) const;  // a copy two reads agreed on
    bool ReadRequestedSize(uint32_t& width, uint32_t& height) const;
    bool RequestSize(uint32_t width, uint32_t height);

    // For diagnostics: the block as mapped, or null.
    const SharedCameraBlock* Block() const { return block; }

private:
    CCameraClient(const CCameraClient&);
    CCameraClient& operator=(const CCameraClient&);

    bool OpenObjects();
    void Release();
    bool ObjectsReplaced() const;
    bool ObjectsShrunk() const;
    uint32_t TakeLocked(CameraFrame* out, uint32_t capacity, bool all);

    CNamedMapping mapping;
    CNamedMutex mutex;
    CNamedEvent event;
    SharedCameraBlock* block;
    uint32_t lastAttemptMs;  // last open try, or last check of the names
    uint32_t lastSizeCheckMs;
    bool sizesChecked;  // since the last attachment
    bool attemptedOnce;
    uint32_t attachments;
    bool sealed;  // the objects came from the service's socket
    uint64_t sealedIdentity;
    // What this reader took last, so that a frame left in its slot for other
    // readers is not taken twice.
    bool haveLast;
    uint32_t lastSlot;
    uint32_t lastStamp;
    uint32_t lastSize;
};

void ClientSleepMs(uint32_t ms);
