#pragma once
// When the camera makes its node's buffer pool afresh. The daemon keeps a
// node's pool from one consumer to the next, and a consumer killed in the
// middle of its stream never gives back the buffers it held: then no buffer
// comes free, and only a new pool brings the stream back. But a consumer
// still setting up its pool (slow on a loaded machine) also has no buffer to
// give yet, and renewing under it starts its set-up over: renewed again at
// the same pace, it would never get a frame.
//
// A new pool's buffers are all free at first, so taking them proves nothing:
// buffers have flowed only once more have been taken than the pool holds,
// that is, once the consumer has given one back.
//
// So: once buffers have flowed, a pool that gives none for `limit` frames in
// a row is renewed, and each renewal that is followed by no steady flow
// doubles the limit (5, 10, 20, 40, up to 60 frames); a steady flow brings it
// back to 5. A pool that has given no buffer since it was made belongs to a
// consumer still setting up: it is renewed at most once, after at least 60
// frames, and then left to finish however long that takes.

#include <stdint.h>

const uint32_t POOL_FIRST_LIMIT = 5;  // frames without a buffer, once buffers flowed
const uint32_t POOL_MAX_LIMIT = 60;
const uint32_t POOL_SETUP_FRAMES = 60;   // a consumer setting up gets at least this
const uint32_t POOL_STEADY_FRAMES = 60;  // frames in a row with a buffer that reset the limit

struct PoolWatch {
    uint32_t starved;   // frames in a row that found no free buffer
    uint32_t fed;       // frames in a row that found one
    uint32_t limit;     // starved frames that renew a pool that has flowed
    uint32_t buffers;   // buffers in the pool
    uint32_t taken;     // buffers taken since the pool was made, up to buffers + 1
    bool flowing;       // the consumer has given a buffer back since the pool was made
    bool setupRenewed;  // renewed once under a consumer still setting up
};

void PoolWatchStart(PoolWatch& w);

// A consumer chose a format: the daemon makes a new pool for it.
void PoolWatchNewPool(PoolWatch& w);

// The daemon added a buffer to the pool, or removed one.
void PoolWatchBufferAdded(PoolWatch& w);
void PoolWatchBufferRemoved(PoolWatch& w);

// A consumer went while others stay: the pool may now lack what it held.
void PoolWatchConsumerLeft(PoolWatch& w);

// One frame to send, and whether it found a free buffer. True: renew the
// pool now.
bool PoolWatchFrame(PoolWatch& w, bool gotBuffer);
