#include "shared_block.h"

#include <string.h>

#include "discovery/discovery.h"
#include "link_context.h"
#include "named_objects.h"
#include "net/net_socket.h"
#include "serial/usb_engine.h"

SharedCameraBlock* g_block = nullptr;

namespace {

CNamedMapping g_mapping;
CNamedMutex g_frameMutex;
CNamedEvent g_readyEvent;
FrameSlot* g_ring = nullptr;

// Holds the frame mutex for a scope when the bounded wait acquired it.
class CRingLock {
public:
    CRingLock() : held(g_frameMutex.Lock(PUBLISH_MUTEX_WAIT_MS) == NAMED_WAIT_ACQUIRED) {}
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

}  // namespace

bool OpenSharedBlock()
{
    // Every object is created open to all users and sessions, so consumers
    // running under any account can attach. A view that cannot be mapped
    // leaves the mapping missing; the mutex and event are still created.
    bool mapped = g_mapping.Create(SHARED_MEMORY_NAME, SHARED_BLOCK_SIZE);
    bool mutexReady = g_frameMutex.Create(SHARED_MUTEX_NAME);
    bool eventReady = g_readyEvent.Create(READY_EVENT_NAME);
    if (!mapped || !mutexReady || !eventReady)
        return false;

    if (!StartNetworking())
        return false;

    // Discovery is optional: without its library the other transports work.
    DiscoveryAvailable = (LoadDiscoveryLibrary() == 0);

    // Start from a clean block whatever a consumer wrote before the service
    // came up; this also leaves the link idle and every slot free.
    g_block = static_cast<SharedCameraBlock*>(g_mapping.View());
    memset(g_block, 0, SHARED_BLOCK_SIZE);
    g_ring = g_block->slots;

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

    g_readyEvent.Close();
    g_frameMutex.Close();

    g_ring = nullptr;
    g_block = nullptr;
    g_mapping.Close();

    UnloadDiscoveryLibrary();
}

void PublishFrame(const uint8_t* bytes, uint32_t size, uint32_t flags, uint32_t stamp)
{
    if (g_block == nullptr || size > FRAME_DATA_SIZE)
        return;
    CRingLock lock;
    // Without the mutex the ring is never touched: the frame is dropped.
    if (!lock.Held())
        return;
    uint32_t next = (g_block->currentSlot + 1) % FRAME_SLOT_COUNT;
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
