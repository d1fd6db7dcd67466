#pragma once
// The connection cycle: one step per timer expiry, or as soon as the link's
// socket has something, finds the phone, carries the link through its states
// and re-arms the service timer.

#include <stdint.h>

const uint16_t LISTEN_PORT = 5055;
const uint32_t CONNECT_TIMEOUT_MS = 1000;
const uint32_t AWAIT_TABLE_TIMEOUT_MS = 1500;
const uint32_t LINK_TIMEOUT_MS = 2500;
const int64_t STEP_BUSY_DUE = -200000;     // 20 ms in 100-ns units
const int64_t STEP_IDLE_DUE = -5000000;    // 500 ms
const int64_t STEP_FIRST_DUE = -10000000;  // 1 s, armed by the run loop
const uint32_t STEP_BUSY_MS = 20;

void ConnectionStep();
// The socket whose readiness should wake a step at once: the listening or
// accepted socket, else the outgoing one; SOCKET_WATCH_NONE when there is
// none, or when its readiness is one a step cannot clear (a peer that closed
// while the table is awaited, a connection that accept keeps refusing), which
// the timer's steps look after. Called on the service thread, between steps.
uintptr_t LinkSocketToWatch();
// Empties the reassembly buffer, clears the frame ring and enters
// LINK_AWAIT_TABLE; the caller holds g_linkLock.
void StartLink();

// The serial engine's owner: bytes from the I/O thread go to FeedStream under
// the link lock.
void ReceiveSerialData(const uint8_t* bytes, int count);
