#include "block_writer.h"

#include <string.h>

#include <atomic>
#include <mutex>

#include "bus_fault.h"
#include "discovery/discovery.h"
#include "link_context.h"
#include "named_objects.h"
#include "net/net_socket.h"
#include "sealed_channel.h"
#include "serial/usb_engine.h"
#include "service_platform.h"
#include "ticks.h"

SharedCameraBlock* g_block = nullptr;
FormatTable g_formats;

namespace {

CNamedMapping g_mapping;
CNamedMutex g_frameMutex;
CNamedEvent g_readyEvent;

// The same block once more in sealed objects, handed to readers over the
// camera socket: no process can cut those under a reader. Every write to the
// named block goes to this one too; each has its own ring, taken by its own
// readers. Missing where the platform has no sealed objects.
CNamedMapping g_sealedMapping;
CNamedMutex g_sealedMutex;
CNamedEvent g_sealedEvent;
SharedCameraBlock* g_sealedBlock = nullptr;
CSealedChannel g_channel;
uint64_t g_sealedRuns = 0;

// When the names were last checked; someone may have unlinked them.
uint32_t g_namesCheckedMs = 0;
const uint32_t NAME_CHECK_INTERVAL_MS = 1000;

// The last requested size read from the block (or set at start-up), carried
// into a block that has to be replaced.
uint32_t g_requestedWidth = 0;
uint32_t g_requestedHeight = 0;

// A damaged block is being replaced; set until the replacement succeeds.
bool g_repairPending = false;

// Set when a wait for the frame mutex has run out, cleared when the mutex is
// taken again. A reader that holds the mutex without end then costs one wait,
// not one per frame: the link, its keep-alives and its time-outs all run under
// the link lock that a waiting publication holds.
std::atomic<bool> g_ringStalled(false);
std::atomic<bool> g_sealedRingStalled(false);

// Holds a frame mutex for a scope when it could be taken: after the full
// wait, or while the mutex is known to be stuck, at once or not at all.
class CRingLock {
public:
    CRingLock(CNamedMutex& frameMutex, std::atomic<bool>& stalled) : mutex(frameMutex), held(false)
    {
        uint32_t wait = stalled.load() ? 0 : PUBLISH_MUTEX_WAIT_MS;
        NamedWaitResult result = mutex.Lock(wait);
        held = result == NAMED_WAIT_ACQUIRED;
        if (held)
            stalled.store(false);
        else if (result == NAMED_WAIT_TIMEOUT)
            stalled.store(true);
    }
    ~CRingLock()
    {
        if (held)
            mutex.Unlock();
    }
    bool Held() const { return held; }

private:
    CRingLock(const CRingLock&);
    CRingLock& operator=(const CRingLock&);
    CNamedMutex& mutex;
    bool held;
};

// One published copy of the block: its memory, mutex and event.
struct PublishedBlock {
    SharedCameraBlock* block;
    CNamedMutex* mutex;
    CNamedEvent* event;
    std::atomic<bool>* stalled;
};

// The copies that exist now. The sealed one comes first, so that its readers
// never wait for a mutex that a stranger holds in the named one.
int PublishedBlocks(PublishedBlock (&out)[2])
{
    int n = 0;
    if (g_sealedBlock != nullptr)
        out[n++] =
            PublishedBlock{g_sealedBlock, &g_sealedMutex, &g_sealedEvent, &g_sealedRingStalled};
    if (g_block != nullptr)
        out[n++] = PublishedBlock{g_block, &g_frameMutex, &g_readyEvent, &g_ringStalled};
    return n;
}

// Creates the three objects, open to all users and sessions so that consumers
// under any account can attach, and guards the memory they map. A view that
// cannot be mapped leaves the mapping missing; the mutex and event are still
// created, unless the mapping belongs to another running service.
bool CreateSharedObjects(bool& otherInstance)
{
    bool mapped = g_mapping.Create(SHARED_MEMORY_NAME, SHARED_BLOCK_SIZE);
    otherInstance = !mapped && g_mapping.InUseByAnotherCreator();
    if (otherInstance)
        return false;
    bool mutexReady = g_frameMutex.Create(SHARED_MUTEX_NAME);
    bool eventReady = g_readyEvent.Create(READY_EVENT_NAME);
    if (!mapped || !mutexReady || !eventReady)
        return false;
    size_t length = 0;
    void* region = g_mapping.MappedRegion(length);
    WatchSharedRange(region, length);
    region = g_frameMutex.MappedRegion(length);
    WatchSharedRange(region, length);
    region = g_readyEvent.MappedRegion(length);
    WatchSharedRange(region, length);
    g_block = static_cast<SharedCameraBlock*>(g_mapping.View());
    return true;
}

void CloseSharedObjects()
{
    UnwatchSharedRanges();
    g_block = nullptr;
    g_readyEvent.Close();
    g_frameMutex.Close();
    g_mapping.Close();
}

// The sealed copy and the socket that hands it out. Without them readers use
// the names, so a failure here only costs that protection.
void OpenSealedBlock()
{
    if (!g_sealedMapping.CreateSealed(SHARED_BLOCK_SIZE) || !g_sealedMutex.CreateSealed() ||
        !g_sealedEvent.CreateSealed())
        return;
    g_sealedBlock = static_cast<SharedCameraBlock*>(g_sealedMapping.View());
    // A new sealed mapping reads as zeros, but its pages are only made when
    // first written: writing them now keeps that cost (milliseconds for the
    // whole ring) out of the first link's start, where the ring is cleared.
    memset(g_sealedBlock, 0, SHARED_BLOCK_SIZE);
    SealedObjects objects;
    objects.descriptors[0] = g_sealedMapping.Descriptor();
    objects.descriptors[1] = g_sealedMutex.Descriptor();
    objects.descriptors[2] = g_sealedEvent.Descriptor();
    // Tells this set from any earlier run's, which readers may still hold.
    objects.identity = ((uint64_t)GetTickMs() << 32) | ++g_sealedRuns;
    if (!g_channel.Start(objects))
        ReportServiceMessage("the camera socket could not be made; readers use the names");
}

void CloseSealedBlock()
{
    g_channel.Stop();
    g_sealedBlock = nullptr;
    g_sealedEvent.Close();
    g_sealedMutex.Close();
    g_sealedMapping.Close();
}

// True when a name no longer leads to the service's object (someone unlinked
// it or put another object there), or an object was cut while the service had
// no reason to touch it (nobody takes frames from a full ring), looked at once
// a second.
bool NamedObjectsLost()
{
    if (g_block == nullptr)
        return false;
    uint32_t now = GetTickMs();
    if (now - g_namesCheckedMs < NAME_CHECK_INTERVAL_MS)
        return false;
    g_namesCheckedMs = now;
    return !g_mapping.NameLeadsHere() || !g_frameMutex.NameLeadsHere() ||
           !g_readyEvent.NameLeadsHere() || g_mapping.Shrunk() || g_frameMutex.Shrunk() ||
           g_readyEvent.Shrunk();
}

}  // namespace

bool OpenSharedBlock()
{
    g_link.linkState = LINK_IDLE;
    g_ringStalled.store(false);
    g_sealedRingStalled.store(false);
    g_repairPending = false;
    InstallBusFaultGuard();
    bool otherInstance = false;
    if (!CreateSharedObjects(otherInstance)) {
        // Another service owns the block: leave it, its names and the
        // consumers alone, and do not start.
        if (otherInstance)
            ReportServiceMessage("another instance is running and owns the camera block; "
                                 "this one does not start");
        return false;
    }

    if (!StartNetworking())
        return false;

    // Discovery is optional: without its library the other transports work.
    DiscoveryAvailable = (LoadDiscoveryLibrary() == 0);

    // Start from a clean block whatever a consumer wrote before the service
    // came up; this also leaves the link idle and every slot free.
    memset(g_block, 0, SHARED_BLOCK_SIZE);
    OpenSealedBlock();
    memset(&g_formats, 0, sizeof(g_formats));
    g_requestedWidth = 0;
    g_requestedHeight = 0;

    LoadFormatTable();
    return true;
}

void CloseServiceResources()
{
    SaveFormatTable();

    // Deleting the engine stops its I/O thread, which may itself be waiting
    // for the link lock; the lock is therefore not held here.
    delete g_link.serialEngine;
    g_link.serialEngine = nullptr;

    StopResolve();

    delete g_link.outgoingSocket;
    g_link.outgoingSocket = nullptr;
    delete g_link.listenSocket;
    g_link.listenSocket = nullptr;

    CloseSealedBlock();
    CloseSharedObjects();

    UnloadDiscoveryLibrary();
}

void RepairSharedBlock()
{
    if (!g_repairPending && !SharedRangeFaulted() && !NamedObjectsLost())
        return;
    // The old objects go, names included, so that the new ones are made
    // afresh; consumers notice the new names and attach again. The sealed
    // copy cannot be damaged that way and stays.
    g_repairPending = true;
    CloseSharedObjects();
    bool otherInstance = false;
    if (!CreateSharedObjects(otherInstance)) {
        CloseSharedObjects();
        return;
    }
    g_repairPending = false;
    g_ringStalled.store(false);
    memset(g_block, 0, SHARED_BLOCK_SIZE);
    SetRequestedSize(g_requestedWidth, g_requestedHeight);
    PublishFormats();
    g_block->linkState = g_link.linkState;
}

void PublishFormats()
{
    PublishedBlock blocks[2];
    for (int i = 0, n = PublishedBlocks(blocks); i < n; ++i)
        memcpy(&blocks[i].block->formats, &g_formats, sizeof(g_formats));
}

void SetLinkState(uint32_t state)
{
    g_link.linkState = state;
    PublishedBlock blocks[2];
    for (int i = 0, n = PublishedBlocks(blocks); i < n; ++i)
        blocks[i].block->linkState = state;
}

void SetRequestedSize(uint32_t width, uint32_t height)
{
    g_requestedWidth = width;
    g_requestedHeight = height;
    PublishedBlock blocks[2];
    for (int i = 0, n = PublishedBlocks(blocks); i < n; ++i) {
        blocks[i].block->requestedWidth = width;
        blocks[i].block->requestedHeight = height;
    }
}

void ReadRequestedSize(uint32_t& width, uint32_t& height)
{
    // Every copy shows the last size the service took, so a copy that shows
    // another one holds a reader's new request. Requests in both copies in
    // the same moment: the sealed copy's wins, and the size taken goes back
    // into every copy so that all readers see what the phone is asked for. A
    // block that has lost its memory reads as zeros until it is replaced; the
    // consumer asked for nothing new in it.
    PublishedBlock blocks[2];
    int n = PublishedBlocks(blocks);
    bool changed = false;
    for (int i = 0; i < n && !changed; ++i) {
        if (blocks[i].block == g_block && SharedRangeFaulted())
            continue;
        uint32_t w = blocks[i].block->requestedWidth;
        uint32_t h = blocks[i].block->requestedHeight;
        if (w != g_requestedWidth || h != g_requestedHeight) {
            g_requestedWidth = w;
            g_requestedHeight = h;
            changed = true;
        }
    }
    if (changed && n > 1)
        SetRequestedSize(g_requestedWidth, g_requestedHeight);
    width = g_requestedWidth;
    height = g_requestedHeight;
}

namespace {

void PublishInto(const PublishedBlock& into, const uint8_t* bytes, uint32_t size, uint32_t flags,
                 uint32_t stamp)
{
    CRingLock lock(*into.mutex, *into.stalled);
    // Without the mutex the ring is never touched: the frame is dropped.
    if (!lock.Held())
        return;
    SharedCameraBlock& b = *into.block;
    // currentSlot is read once; whatever a reader left there, the index
    // stays inside the ring.
    uint32_t current = b.currentSlot;
    uint32_t next = (current + 1) % FRAME_SLOT_COUNT;
    FrameSlot& slot = b.slots[next];
    // The consumer has not taken the frame in that slot yet: drop this one
    // rather than overwrite or wait.
    if (slot.size != 0)
        return;
    b.currentSlot = next;
    if (size != 0)
        memcpy(slot.data, bytes, size);
    slot.size = size;
    slot.flags = flags;
    slot.stamp = stamp;
    into.event->Set();
}

}  // namespace

void PublishFrame(const uint8_t* bytes, uint32_t size, uint32_t flags, uint32_t stamp)
{
    if (size > FRAME_DATA_SIZE)
        return;
    PublishedBlock blocks[2];
    for (int i = 0, n = PublishedBlocks(blocks); i < n; ++i)
        PublishInto(blocks[i], bytes, size, flags, stamp);
}

void RetainFrame(const uint8_t* bytes, uint32_t size, uint32_t flags, uint32_t stamp)
{
    if (size > FRAME_DATA_SIZE)
        return;
    PublishedBlock blocks[2];
    for (int i = 0, n = PublishedBlocks(blocks); i < n; ++i) {
        RetainedFrame& retained = blocks[i].block->retained;
        if (size != 0)
            memcpy(retained.data, bytes, size);
        retained.size = size;
        retained.flags = flags;
        retained.stamp = stamp;
    }
}

void ClearFrameRing()
{
    // Taken so that a consumer never copies a slot that is being cleared; the
    // ring is cleared even if a dead consumer kept the mutex past the wait.
    PublishedBlock blocks[2];
    for (int i = 0, n = PublishedBlocks(blocks); i < n; ++i) {
        CRingLock lock(*blocks[i].mutex, *blocks[i].stalled);
        memset(blocks[i].block->slots, 0, sizeof(FrameSlot) * FRAME_SLOT_COUNT);
        blocks[i].block->currentSlot = 0;
    }
}
