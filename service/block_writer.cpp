#include "block_writer.h"

#include <string.h>

#include <atomic>
#include <mutex>

#include "bus_fault.h"
#include "discovery/discovery.h"
#include "link_context.h"
#include "named_objects.h"
#include "net/net_socket.h"
#include "serial/usb_engine.h"
#include "service_platform.h"

SharedCameraBlock* g_block = nullptr;
FormatTable g_formats;

namespace {

CNamedMapping g_mapping;
CNamedMutex g_frameMutex;
CNamedEvent g_readyEvent;
FrameSlot* g_ring = nullptr;

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

// Holds the frame mutex for a scope when it could be taken: after the full
// wait, or while the mutex is known to be stuck, at once or not at all.
class CRingLock {
public:
    CRingLock() : held(false)
    {
        uint32_t wait = g_ringStalled.load() ? 0 : PUBLISH_MUTEX_WAIT_MS;
        NamedWaitResult result = g_frameMutex.Lock(wait);
        held = result == NAMED_WAIT_ACQUIRED;
        if (held)
            g_ringStalled.store(false);
        else if (result == NAMED_WAIT_TIMEOUT)
            g_ringStalled.store(true);
    }
    ~CRingLock()
    {
        if (held)
            g_frameMutex.Unlock();
    }
    bool Held() const { return held; }
private:
    CRingLock(const CRingLock&);
    CRingLock& operator=(const CRingLock&);
    bool held;
};

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
    g_ring = g_block->slots;
    return true;
}

void CloseSharedObjects()
{
    UnwatchSharedRanges();
    g_ring = nullptr;
    g_block = nullptr;
    g_readyEvent.Close();
    g_frameMutex.Close();
    g_mapping.Close();
}

}  // namespace

bool OpenSharedBlock()
{
    g_link.linkState = LINK_IDLE;
    g_ringStalled.store(false);
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

    CloseSharedObjects();

    UnloadDiscoveryLibrary();
}

void RepairSharedBlock()
{
    if (!g_repairPending && !SharedRangeFaulted())
        return;
    // The old objects go, names included, so that the new ones are made
    // afresh; consumers notice the new names and attach again.
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
    if (g_block != nullptr)
        memcpy(&g_block->formats, &g_formats, sizeof(g_formats));
}

void SetLinkState(uint32_t state)
{
    g_link.linkState = state;
    if (g_block != nullptr)
        g_block->linkState = state;
}

void SetRequestedSize(uint32_t width, uint32_t height)
{
    g_requestedWidth = width;
    g_requestedHeight = height;
    if (g_block == nullptr)
        return;
    g_block->requestedWidth = width;
    g_block->requestedHeight = height;
}

void ReadRequestedSize(uint32_t& width, uint32_t& height)
{
    // A block that has lost its memory reads as zeros until it is replaced;
    // the consumer asked for nothing new in it.
    if (g_block != nullptr && !SharedRangeFaulted()) {
        g_requestedWidth = g_block->requestedWidth;
        g_requestedHeight = g_block->requestedHeight;
    }
    width = g_requestedWidth;
    height = g_requestedHeight;
}

void PublishFrame(const uint8_t* bytes, uint32_t size, uint32_t flags, uint32_t stamp)
{
    if (g_block == nullptr || size > FRAME_DATA_SIZE)
        return;
    CRingLock lock;
    // Without the mutex the ring is never touched: the frame is dropped.
    if (!lock.Held())
        return;
    // currentSlot is read once; whatever a reader left there, the index
    // stays inside the ring.
    uint32_t current = g_block->currentSlot;
    uint32_t next = (current + 1) % FRAME_SLOT_COUNT;
    FrameSlot& slot = g_ring[next];
    // The consumer has not taken the frame in that slot yet: drop this one
    // rather than overwrite or wait.
    if (slot.size != 0)
        return;
    g_block->currentSlot = next;
    if (size != 0)
        memcpy(slot.data, bytes, size);
    slot.size = size;
    slot.flags = flags;
    slot.stamp = stamp;
    g_readyEvent.Set();
}

void RetainFrame(const uint8_t* bytes, uint32_t size, uint32_t flags, uint32_t stamp)
{
    if (g_block == nullptr || size > FRAME_DATA_SIZE)
        return;
    RetainedFrame& retained = g_block->retained;
    if (size != 0)
        memcpy(retained.data, bytes, size);
    retained.size = size;
    retained.flags = flags;
    retained.stamp = stamp;
}

void ClearFrameRing()
{
    if (g_block == nullptr)
        return;
    // Taken so that a consumer never copies a slot that is being cleared; the
    // ring is cleared even if a dead consumer kept the mutex past the wait.
    CRingLock lock;
    memset(g_ring, 0, sizeof(FrameSlot) * FRAME_SLOT_COUNT);
    g_block->currentSlot = 0;
}
