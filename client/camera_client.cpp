#include "camera_client.h"

#include <string.h>

#include <chrono>
#include <thread>

#include "sealed_channel.h"
#include "ticks.h"

namespace {

const uint32_t RETRY_INTERVAL_MS = 1000;
const uint32_t SIZE_CHECK_INTERVAL_MS = 1000;
const int FORMAT_READ_TRIES = 16;
// How long SkipJammedRing waits for the mutex; without it the ring stays as it is.
const uint32_t SKIP_LOCK_MS = 100;

// The table is written without the mutex, so it is read byte by byte through
// a volatile pointer: two copies must really be two reads of the block.
void CopyVolatile(void* to, const void* from, size_t n)
{
    const volatile uint8_t* src = static_cast<const volatile uint8_t*>(from);
    uint8_t* dst = static_cast<uint8_t*>(to);
    for (size_t i = 0; i < n; ++i)
        dst[i] = src[i];
}

uint32_t ReadWord(const uint32_t& word)
{
    return *static_cast<const volatile uint32_t*>(&word);
}

}  // namespace

void ClientSleepMs(uint32_t ms)
{
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

CCameraClient::CCameraClient()
    : block(nullptr), lastAttemptMs(0), lastSizeCheckMs(0), sizesChecked(false),
      attemptedOnce(false), attachments(0), sealed(false), sealedIdentity(0), haveLast(false),
      lastSlot(0), lastStamp(0), lastSize(0)
{
}

CCameraClient::~CCameraClient()
{
    Release();
}

void CCameraClient::Detach()
{
    Release();
    // Whoever attaches next (a restarted stream) tries at once.
    attemptedOnce = false;
}

void CCameraClient::Release()
{
    event.Close();
    mutex.Close();
    mapping.Close();
    block = nullptr;
    haveLast = false;
}

// Asked once a second. Sealed objects are replaced when the service no
// longer answers or answers with others; named ones when a name leads to
// another object, or when the service has begun to hand out sealed objects.
bool CCameraClient::ObjectsReplaced() const
{
    SealedObjects fresh;
    bool answered = FetchSealedObjects(fresh);
    uint64_t identity = answered ? fresh.identity : 0;
    if (answered)
        CloseSealedObjects(fresh);
    if (sealed)
        return !answered || identity != sealedIdentity;
    // Objects that were refused once (they could shrink) are not tried again.
    return (answered && identity != sealedIdentity) || mapping.NameReplaced() ||
           mutex.NameReplaced() || event.NameReplaced();
}

bool CCameraClient::OpenObjects()
{
    SealedObjects objects;
    if (FetchSealedObjects(objects)) {
        // Each Adopt takes its descriptor, whether or not the others succeed.
        bool adopted = mapping.Adopt(objects.descriptors[0], SHARED_BLOCK_SIZE);
        adopted = mutex.Adopt(objects.descriptors[1]) && adopted;
        adopted = event.Adopt(objects.descriptors[2]) && adopted;
        sealed = adopted;
        sealedIdentity = objects.identity;
        if (adopted)
            return true;
    }
    sealed = false;
    return mapping.Open(SHARED_MEMORY_NAME, SHARED_BLOCK_SIZE) && mutex.Open(SHARED_MUTEX_NAME) &&
           event.Open(READY_EVENT_NAME);
}

bool CCameraClient::ObjectsShrunk() const
{
    return mapping.Shrunk() || mutex.Shrunk() || event.Shrunk();
}

bool CCameraClient::Attach()
{
    return Attach(GetTickMs());
}

bool CCameraClient::Attach(uint32_t now)
{
    // Named POSIX objects are files that any user may cut short, and touching
    // a page past the end of a cut object faults. Their lengths are looked at
    // before the first take of an attachment and then once a second, not on
    // every take (three system calls a frame): that lets go of objects that
    // were cut before this reader used them or while it waited. It leaves
    // open a cut made within the second after a look; no signal handler is
    // installed for that, since this library runs inside other programs'
    // processes. Sealed objects, which the service hands out wherever it
    // can, cannot be cut at all.
    if (block != nullptr && !sealed &&
        (!sizesChecked || now - lastSizeCheckMs >= SIZE_CHECK_INTERVAL_MS)) {
        sizesChecked = true;
        lastSizeCheckMs = now;
        if (ObjectsShrunk())
            Release();
    }
    if (attemptedOnce && now - lastAttemptMs < RETRY_INTERVAL_MS)
        return block != nullptr;
    attemptedOnce = true;
    lastAttemptMs = now;

    if (block != nullptr) {
        if (!ObjectsReplaced())
            return true;
        // The service stopped or a new run made new objects: open the names
        // again now, since a new run's objects are usually already there.
        Release();
    }
    if (!OpenObjects()) {
        Release();
        return false;
    }
    block = static_cast<SharedCameraBlock*>(mapping.View());
    sizesChecked = false;
    ++attachments;
    return true;
}

// Caller holds the mutex. Every field is read once into a local: the block
// can be written by any process that opens it.
uint32_t CCameraClient::TakeLocked(CameraFrame* out, uint32_t capacity, bool all)
{
    SharedCameraBlock& b = *block;
    uint32_t newest = ReadWord(b.currentSlot) % FRAME_SLOT_COUNT;
    uint32_t taken = 0;
    // Oldest first: the slot after the newest is the oldest one in the ring.
    for (uint32_t k = 1; k <= FRAME_SLOT_COUNT; ++k) {
        uint32_t i = (newest + k) % FRAME_SLOT_COUNT;
        FrameSlot& slot = b.slots[i];
        uint32_t size = ReadWord(slot.size);
        if (size == 0)
            continue;
        uint32_t stamp = ReadWord(slot.stamp);
        bool seen = haveLast && i == lastSlot && stamp == lastStamp && size == lastSize;
        bool wanted = (all || i == newest) && !seen && size <= FRAME_DATA_SIZE && taken < capacity;
        if (wanted) {
            CameraFrame& f = out[taken++];
            memcpy(f.data, slot.data, size);
            f.size = size;
            f.flags = ReadWord(slot.flags);
            f.stamp = stamp;
            f.slot = i;
        }
        if (i == newest) {
            if (wanted || seen) {
                haveLast = true;
                lastSlot = i;
                lastStamp = stamp;
                lastSize = size;
            }
        } else {
            // Left behind by this or another reader; kept, it would stop the
            // ring once the service comes round to it.
            slot.size = 0;
        }
    }
    return taken;
}

ClientResult CCameraClient::WaitFrames(uint32_t now, uint32_t timeoutMs, CameraFrame* out,
                                       uint32_t capacity, bool all, CWakeSignal* wake,
                                       uint32_t& taken)
{
    taken = 0;
    if (!Attach(now)) {
        if (wake == nullptr) {
            ClientSleepMs(timeoutMs);
            return CLIENT_NO_SERVICE;
        }
        return wake->Sleep(timeoutMs) == NAMED_WAIT_WOKEN ? CLIENT_WOKEN : CLIENT_NO_SERVICE;
    }
    uint32_t start = now;
    bool lastLook = false;
    for (;;) {
        // Look before waiting: another reader may have reset the event for a
        // frame this reader has not taken yet. The reset happens under the
        // mutex, and the service sets the event under it, so no later
        // publication's wake-up is lost.
        uint32_t elapsed = now - start;
        uint32_t left = elapsed < timeoutMs ? timeoutMs - elapsed : 0;
        NamedWaitResult locked = mutex.Lock(left > 0 ? left : 1);
        if (locked == NAMED_WAIT_ACQUIRED) {
            taken = TakeLocked(out, capacity, all);
            event.Reset();
            mutex.Unlock();
            if (taken > 0)
                return CLIENT_FRAME;
        } else if (locked == NAMED_WAIT_FAILED) {
            Release();
            return CLIENT_NO_SERVICE;
        }
        if (wake != nullptr && wake->Woken())
            return CLIENT_WOKEN;
        now = GetTickMs();
        elapsed = now - start;
        if (lastLook || elapsed >= timeoutMs)
            return CLIENT_TIMEOUT;
        NamedWaitResult woke = wake != nullptr ? event.Wait(timeoutMs - elapsed, *wake)
                                               : event.Wait(timeoutMs - elapsed);
        if (woke == NAMED_WAIT_WOKEN)
            return CLIENT_WOKEN;
        if (woke == NAMED_WAIT_FAILED) {
            Release();
            return CLIENT_NO_SERVICE;
        }
        // After a time-out, one last look for a wake-up that another reader
        // reset before this one slept; then the wait is over. After a
        // wake-up the tick is read again only if the look finds nothing.
        lastLook = woke == NAMED_WAIT_TIMEOUT;
    }
}

bool CCameraClient::SkipJammedRing()
{
    if (block == nullptr || mutex.Lock(SKIP_LOCK_MS) != NAMED_WAIT_ACQUIRED)
        return false;
    SharedCameraBlock& b = *block;
    // The service's own test: the slot after the newest is not free.
    uint32_t newest = ReadWord(b.currentSlot) % FRAME_SLOT_COUNT;
    bool jammed = ReadWord(b.slots[(newest + 1) % FRAME_SLOT_COUNT].size) != 0;
    if (jammed)
        for (uint32_t i = 0; i < FRAME_SLOT_COUNT; ++i)
            b.slots[i].size = 0;
    mutex.Unlock();
    return jammed;
}

ClientResult CCameraClient::WaitNewest(uint32_t timeoutMs, CameraFrame& out)
{
    uint32_t taken = 0;
    return WaitFrames(GetTickMs(), timeoutMs, &out, 1, false, nullptr, taken);
}

ClientResult CCameraClient::WaitAll(uint32_t timeoutMs, CameraFrame* out, uint32_t capacity,
                                    uint32_t& taken)
{
    return WaitFrames(GetTickMs(), timeoutMs, out, capacity, true, nullptr, taken);
}

bool CCameraClient::ReadLinkState(uint32_t& state) const
{
    if (block == nullptr)
        return false;
    state = ReadWord(block->linkState);
    return true;
}

bool CCameraClient::LinkStreaming() const
{
    uint32_t state = 0;
    return ReadLinkState(state) && state == LINK_STREAMING;
}

bool CCameraClient::RingEmpty() const
{
    if (block == nullptr)
        return false;
    for (uint32_t i = 0; i < FRAME_SLOT_COUNT; ++i)
        if (ReadWord(block->slots[i].size) != 0)
            return false;
    return true;
}

bool CCameraClient::ReadFormats(FormatTable& out) const
{
    if (block == nullptr)
        return false;
    FormatTable again;
    CopyVolatile(&out, &block->formats, sizeof(out));
    for (int i = 0; i < FORMAT_READ_TRIES; ++i) {
        CopyVolatile(&again, &block->formats, sizeof(again));
        if (memcmp(&again, &out, sizeof(out)) == 0)
            return true;
        out = again;
    }
    return false;
}

bool CCameraClient::ReadRequestedSize(uint32_t& width, uint32_t& height) const
{
    if (block == nullptr)
        return false;
    width = ReadWord(block->requestedWidth);
    height = ReadWord(block->requestedHeight);
    return true;
}

bool CCameraClient::RequestSize(uint32_t width, uint32_t height)
{
    if (block == nullptr)
        return false;
    *static_cast<volatile uint32_t*>(&block->requestedWidth) = width;
    *static_cast<volatile uint32_t*>(&block->requestedHeight) = height;
    return true;
}
