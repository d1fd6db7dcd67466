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

// What a socket may deliver. Steps woken by the socket come more often than
// the timer's, but together they read no more than the timer's pace allows,
// 200,000 bytes per 20 ms step: a peer that floods the link costs what it did.
// The allowance refills with the tick and holds at most one step's worth.
const uint32_t RECEIVE_BYTES_PER_MS = LINK_BUFFER_SIZE / STEP_BUSY_MS;
uint32_t g_receiveAllowance = LINK_BUFFER_SIZE;
uint32_t g_allowanceTick = 0;

// The socket's readiness is one no step can clear (see LinkSocketToWatch).
bool g_socketSpent = false;

uint32_t ReceiveAllowance()
{
    uint32_t now = GetTickMs();
    uint64_t refilled =
        g_receiveAllowance + (uint64_t)(now - g_allowanceTick) * RECEIVE_BYTES_PER_MS;
    g_allowanceTick = now;
    g_receiveAllowance = refilled > LINK_BUFFER_SIZE ? LINK_BUFFER_SIZE : (uint32_t)refilled;
    return g_receiveAllowance;
}

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
    g_socketSpent = false;
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
    uint32_t room = StreamFreeRoom();
    uint32_t allowance = ReceiveAllowance();
    int size = (int)(room < allowance ? room : allowance);
    if (size <= 0)
        return true;
    if (socket->Receive(g_link.receiveBuffer, size) != NET_OK)
        return false;
    g_receiveAllowance -= (uint32_t)size;
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
    int accepted = g_link.listenSocket->Accept();
    g_socketSpent = accepted == NET_ACCEPT_FAILED;
    if (accepted == NET_OK) {
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
    if (g_link.outgoingSocket && !ReceiveFrom(g_link.outgoingSocket))
        g_socketSpent = true;
    if (g_link.listenSocket && !ReceiveFrom(g_link.listenSocket))
        g_socketSpent = true;
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

uintptr_t LinkSocketToWatch()
{
    // Only this thread creates and deletes the sockets, so no lock is needed.
    CNetSocket* socket = g_link.listenSocket ? g_link.listenSocket : g_link.outgoingSocket;
    if (!socket || g_socketSpent)
        return SOCKET_WATCH_NONE;
    return socket->Handle();
}

void StartLink()
{
    // The table's time-out counts from here, not from the start of the idle
    // step that found the phone: that step may have spent up to a second on
    // the serial ports and on a discovered phone's connect before it accepted.
    g_link.lastReceiveTick = GetTickMs();
    g_socketSpent = false;
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
