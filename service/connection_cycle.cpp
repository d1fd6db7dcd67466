// The connection cycle. Each step runs under g_linkLock, so it never overlaps a
// FeedStream call from the serial I/O thread. The lock is let go only while the
// serial engine is deleted: the deletion waits for the I/O thread, and that
// thread may itself be waiting for the lock.

#include "connection_cycle.h"

#include <mutex>

#include "discovery/discovery.h"
#include "link_context.h"
#include "net/net_socket.h"
#include "serial/usb_engine.h"
#include "service_host.h"
#include "service_signals.h"
#include "block_writer.h"
#include "stream_protocol.h"
#include "ticks.h"

namespace {

typedef std::unique_lock<std::mutex> LinkLock;

const int FIRST_SERIAL_READ = 16;

void DeleteSerialEngine(LinkLock& lock)
{
    CUSBEngine* engine = g_link.serialEngine;
    if (!engine)
        return;
    g_link.serialEngine = nullptr;
    lock.unlock();
    delete engine;
    lock.lock();
}

void DeleteSocket(CNetSocket*& socket)
{
    delete socket;
    socket = nullptr;
}

// Releases every transport and returns to LINK_IDLE. The caller holds the
// link lock; it is let go while the serial engine is deleted.
void DropLink(LinkLock& lock)
{
    DeleteSerialEngine(lock);
    DeleteSocket(g_link.outgoingSocket);
    DeleteSocket(g_link.listenSocket);
    SetLinkState(LINK_IDLE);
}

// Reads what the socket holds, no more than the reassembly buffer can take,
// and hands it to the protocol. False when the peer closed or the read failed.
bool ReceiveFrom(CNetSocket* socket)
{
    int size = (int)StreamFreeRoom();
    if (size <= 0)
        return true;
    if (socket->Receive(g_link.receiveBuffer, size) != NET_OK)
        return false;
    if (size > 0)
        FeedStream(g_link.receiveBuffer, (uint32_t)size);
    return true;
}

// Returns the due time of the next step.
int64_t IdleStep(LinkLock& lock)
{
    g_link.lastReceiveTick = GetTickMs();

    // Serial link first: a phone on the cable wins over the network.
    if (!g_link.serialEngine)
        g_link.serialEngine = new CUSBEngine(ReceiveSerialData);
    if (g_link.serialEngine && g_link.serialEngine->Connect()) {
        StopResolve();
        DeleteSocket(g_link.outgoingSocket);
        DeleteSocket(g_link.listenSocket);
        g_link.serialEngine->SetReadSize(FIRST_SERIAL_READ);
        StartLink();
        return STEP_BUSY_DUE;
    }

    // A phone that discovery has resolved.
    if (DiscoveryAvailable) {
        StartResolve();
        uint32_t address = 0;
        uint16_t port = 0;
        if (PollResolve(address, port)) {
            if (!g_link.outgoingSocket)
                g_link.outgoingSocket = CNetSocket::CreateTcp();
            if (g_link.outgoingSocket &&
                g_link.outgoingSocket->Connect(address, port, CONNECT_TIMEOUT_MS) == NET_OK) {
                DeleteSerialEngine(lock);
                DeleteSocket(g_link.listenSocket);
                StopResolve();
                StartLink();
                return STEP_BUSY_DUE;
            }
            // Resolve afresh next time; the listening port is still checked now.
            StopResolve();
            DeleteSocket(g_link.outgoingSocket);
        }
    }

    // A phone that connects to us.
    if (!g_link.listenSocket) {
        g_link.listenSocket = CNetSocket::CreateTcp();
        if (!g_link.listenSocket)
            return STEP_BUSY_DUE;
        // A socket whose bind failed (the port is taken) would listen on a
        // port of the system's choosing, or not at all, for good: it is
        // dropped, and the next idle step tries the port again.
        if (g_link.listenSocket->Bind(0, LISTEN_PORT) != NET_OK) {
            DeleteSocket(g_link.listenSocket);
            return STEP_IDLE_DUE;
        }
        g_link.listenSocket->Listen();
    }
    if (g_link.listenSocket->Accept() == NET_OK) {
        DeleteSerialEngine(lock);
        StopResolve();
        DeleteSocket(g_link.outgoingSocket);
        StartLink();
        return STEP_BUSY_DUE;
    }
    return STEP_IDLE_DUE;
}

void AwaitTableStep(LinkLock& lock)
{
    if (g_link.serialEngine && !g_link.serialEngine->IsPresent()) {
        DeleteSerialEngine(lock);
        SetLinkState(LINK_IDLE);
    }
    // A closed peer is not acted on here; the table time-out ends the link.
    if (g_link.outgoingSocket)
        ReceiveFrom(g_link.outgoingSocket);
    if (g_link.listenSocket)
        ReceiveFrom(g_link.listenSocket);
    if (GetTickMs() - g_link.lastReceiveTick > AWAIT_TABLE_TIMEOUT_MS)
        DropLink(lock);
}

void LinkUpStep(LinkLock& lock)
{
    CNetSocket** sockets[2] = {&g_link.outgoingSocket, &g_link.listenSocket};
    for (CNetSocket** socket : sockets) {
        if (*socket && !ReceiveFrom(*socket)) {
            DeleteSocket(*socket);
            SetLinkState(LINK_IDLE);
            return;
        }
    }
    bool alive = GetTickMs() - g_link.lastReceiveTick <= LINK_TIMEOUT_MS;
    uint32_t width = 0;
    uint32_t height = 0;
    ReadRequestedSize(width, height);
    bool sameSize = width == g_link.sentWidth && height == g_link.sentHeight;
    if (alive && sameSize)
        SendKeepAlive();
    else
        DropLink(lock);
}

}  // namespace

void ConnectionStep()
{
    int64_t due = STEP_BUSY_DUE;
    {
        LinkLock lock(g_linkLock);
        RepairSharedBlock();
        // The state comes from the service's own record; publishing it again
        // undoes whatever a reader may have written over the block's copy.
        SetLinkState(g_link.linkState);
        switch (g_link.linkState) {
        case LINK_IDLE:
            due = IdleStep(lock);
            break;
        case LINK_AWAIT_TABLE:
            AwaitTableStep(lock);
            break;
        case LINK_AWAIT_FRAME:
        case LINK_STREAMING:
            LinkUpStep(lock);
            break;
        default:
            break;
        }
    }
    g_serviceTimer.Arm(due);
}

void StartLink()
{
    // The table's time-out counts from here, not from the start of the idle
    // step that found the phone: that step may have spent up to a second on
    // the serial ports and on a discovered phone's connect before it accepted.
    g_link.lastReceiveTick = GetTickMs();
    g_link.fill = 0;
    ClearFrameRing();
    SetLinkState(LINK_AWAIT_TABLE);
}

void ReceiveSerialData(const uint8_t* bytes, int count)
{
    if (count <= 0)
        return;
    std::lock_guard<std::mutex> lock(g_linkLock);
    FeedStream(bytes, (uint32_t)count);
}
