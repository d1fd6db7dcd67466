#pragma once
// Helpers for tests that drive the stream protocol and the connection cycle
// against the real named block: phone messages, a loopback peer, and a
// fixture that opens the service's shared resources with no stored table.

#include <gtest/gtest.h>

#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#else
#include <unistd.h>
#endif

#include "connection_cycle.h"
#include "link_context.h"
#include "net/net_socket.h"
#include "service_host.h"
#include "service_signals.h"
#include "block_writer.h"
#include "stored_table_access.h"
#include "stream_protocol.h"
#include "ticks.h"

typedef std::vector<uint8_t> Bytes;

inline void PutWord(Bytes& b, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        b.push_back((uint8_t)(v >> (8 * i)));
}

inline uint32_t WordAt(const uint8_t* p)
{
    return (uint32_t)p[0] | ((uint32_t)p[1] << 8) | ((uint32_t)p[2] << 16) | ((uint32_t)p[3] << 24);
}

inline Bytes Message(uint32_t type, const Bytes& payload, uint32_t session = 0)
{
    Bytes m;
    PutWord(m, STREAM_MAGIC);
    PutWord(m, session);
    PutWord(m, type);
    PutWord(m, (uint32_t)payload.size());
    m.insert(m.end(), payload.begin(), payload.end());
    return m;
}

struct TestEntry {
    uint32_t width;
    uint32_t height;
};

// The phone's table message: 16-byte header + 336-byte payload.
inline Bytes TableMessage(uint32_t mode, const std::vector<TestEntry>& entries,
                          uint32_t session = 0, int count = -1)
{
    Bytes p;
    PutWord(p, mode);
    PutWord(p, 0xA1A2A3A4);
    PutWord(p, 0xB1B2B3B4);
    PutWord(p, count < 0 ? (uint32_t)entries.size() : (uint32_t)count);
    for (size_t i = 0; i < FORMAT_MAX_ENTRIES; ++i) {
        TestEntry e = i < entries.size() ? entries[i] : TestEntry{0, 0};
        PutWord(p, PackEntry(e.width, e.height, 0));
        PutWord(p, 0x41F00000);   // 30.0f
    }
    return Message(MSG_ALIVE, p, session);
}

// A frame whose bytes follow from its stamp, so that a slot can be checked.
inline Bytes FrameMessage(uint32_t size, uint32_t flags, uint32_t stamp)
{
    Bytes p;
    PutWord(p, flags);
    PutWord(p, stamp);
    PutWord(p, 0);
    for (uint32_t i = 0; i < size; ++i)
        p.push_back((uint8_t)(i * 7 + stamp));
    return Message(MSG_FRAME, p);
}

inline bool SlotHoldsFrame(const FrameSlot& slot, uint32_t size, uint32_t flags, uint32_t stamp)
{
    if (slot.size != size || slot.flags != flags || slot.stamp != stamp)
        return false;
    for (uint32_t i = 0; i < size; ++i)
        if (slot.data[i] != (uint8_t)(i * 7 + stamp))
            return false;
    return true;
}

inline Bytes SelectFormatBytes(uint32_t index, uint32_t session = 0)
{
    Bytes p;
    PutWord(p, index);
    return Message(MSG_SELECT_FORMAT, p, session);
}

inline void SleepMs(int ms)
{
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

// The phone's end of a TCP link, made of the same socket wrapper.
class LoopbackPeer {
public:
    LoopbackPeer() : socket(nullptr) {}
    ~LoopbackPeer() { Close(); }

    bool Connect(uint16_t port = LISTEN_PORT)
    {
        Close();
        socket = CNetSocket::CreateTcp();
        return socket && socket->Connect(0x7F000001, port, 1000) == NET_OK;
    }
    void Close()
    {
        delete socket;
        socket = nullptr;
    }
    bool Send(const Bytes& b)
    {
        // Large writes go out in pieces, waiting while the service's buffer is full.
        size_t done = 0;
        for (int tries = 0; done < b.size() && tries < 5000; ++tries) {
            int piece = (int)std::min<size_t>(b.size() - done, 65536);
            if (socket->Send(b.data() + done, piece) == NET_OK)
                done += piece;
            else
                SleepMs(1);
        }
        return done == b.size();
    }
    // Everything that arrives within waitMs.
    Bytes Drain(int waitMs)
    {
        Bytes out;
        uint32_t start = GetTickMs();
        uint8_t buf[4096];
        while ((int)(GetTickMs() - start) < waitMs) {
            int size = sizeof(buf);
            if (socket->Receive(buf, size) != NET_OK)
                break;
            if (size == 0)
                SleepMs(2);
            out.insert(out.end(), buf, buf + size);
        }
        return out;
    }
    CNetSocket* socket;
};

// Makes `server` the service's accepted end of a loopback link to `peer`.
inline bool AcceptPeer(CNetSocket*& server, LoopbackPeer& peer)
{
    server = CNetSocket::CreateTcp();
    if (!server || server->Bind(0x7F000001, LISTEN_PORT) != NET_OK || server->Listen() != NET_OK)
        return false;
    if (!peer.Connect())
        return false;
    for (int i = 0; i < 2000; ++i) {
        if (server->Accept() == NET_OK)
            return true;
        SleepMs(1);
    }
    return false;
}

// Opens the block, mutex and event as the service does, with no stored table.
class SharedBlockTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        // An empty store: every test starts from the default table and a
        // requested size of 0 x 0.
        UseTemporaryStore();
        RemoveStoredKey();
        ASSERT_TRUE(OpenSharedBlock());
        g_serviceTimer.Create();
        g_link.fill = 0;
        g_link.sessionWord = 0;
        g_link.tableShifted = false;
        g_link.lastSendTick = GetTickMs() - 10000;
        g_link.lastReceiveTick = GetTickMs();
        g_link.sentWidth = 0;
        g_link.sentHeight = 0;
    }
    void TearDown() override
    {
        CloseServiceResources();
        g_serviceTimer.Close();
    }
};
