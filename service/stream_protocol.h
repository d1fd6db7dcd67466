#pragma once
// The phone's stream protocol: framing, reassembly and dispatch by link state.

#include <stdint.h>

const uint32_t STREAM_MAGIC = 0xDEADC0DE;
const uint32_t STREAM_HEADER_SIZE = 16;
const uint32_t STREAM_MAX_MESSAGE = 200000;
const uint32_t STREAM_MAX_LENGTH = STREAM_MAX_MESSAGE - STREAM_HEADER_SIZE;   // 199,984
const uint32_t MSG_TYPE_FIRST = 0x20000;
const uint32_t MSG_FRAME = 0x20002;
const uint32_t MSG_SELECT_FORMAT = 0x20003;
const uint32_t MSG_ALIVE = 0x20005;
const uint32_t MSG_TYPE_LAST = 0x20005;
const uint32_t FRAME_SUBHEADER_SIZE = 12;
const uint32_t FRAME_FLAG_RETAIN = 8;
const uint32_t KEEPALIVE_INTERVAL_MS = 500;
const uint32_t STREAMING_READ_HINT = 500;

// Takes received bytes; the caller holds g_linkLock.
void FeedStream(const uint8_t* bytes, uint32_t length);
// Bytes the reassembly buffer can still take. A transport reads no more than
// this, because a delivery larger than the free room is discarded whole.
uint32_t StreamFreeRoom();
void SendFormatRequest();
void SendKeepAlive();
