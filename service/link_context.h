#pragma once
// LinkContext: the one service-wide record of the phone link, shared by the
// stream protocol and the connection cycle.

#include <stdint.h>
#include <mutex>

class CUSBEngine;
class CNetSocket;

const uint32_t LINK_BUFFER_SIZE = 200000;

struct LinkContext {
    // The link's state as the service knows it; the block's linkState is only
    // a published copy that readers could overwrite.
    uint32_t linkState;

    // Stream protocol
    uint8_t reassembly[LINK_BUFFER_SIZE];
    uint32_t fill;
    uint8_t message[LINK_BUFFER_SIZE];
    uint32_t sessionWord;
    bool tableShifted;
    uint32_t lastReceiveTick;
    uint32_t lastSendTick;
    uint32_t sentWidth;
    uint32_t sentHeight;

    // Connection cycle: each transport present or null
    CUSBEngine* serialEngine;
    CNetSocket* outgoingSocket;
    CNetSocket* listenSocket;
    uint8_t receiveBuffer[LINK_BUFFER_SIZE];
};

extern LinkContext g_link;

// Guards g_link, the block fields the protocol writes and the engine's send
// path. FeedStream runs under it (its callers take it); ConnectionStep holds it
// around its work but never while it deletes the serial engine, whose I/O
// thread may be waiting for it.
extern std::mutex g_linkLock;
