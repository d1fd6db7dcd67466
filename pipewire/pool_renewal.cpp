#include "pool_renewal.h"

void PoolWatchStart(PoolWatch& w)
{
    w.starved = 0;
    w.fed = 0;
    w.limit = POOL_FIRST_LIMIT;
    w.buffers = 0;
    w.taken = 0;
    w.flowing = false;
    w.setupRenewed = false;
}

void PoolWatchNewPool(PoolWatch& w)
{
    w.starved = 0;
    w.fed = 0;
    w.taken = 0;
    w.flowing = false;
}

void PoolWatchBufferAdded(PoolWatch& w)
{
    ++w.buffers;
}

void PoolWatchBufferRemoved(PoolWatch& w)
{
    if (w.buffers > 0)
        --w.buffers;
}

void PoolWatchConsumerLeft(PoolWatch& w)
{
    w.flowing = true;
}

bool PoolWatchFrame(PoolWatch& w, bool gotBuffer)
{
    if (gotBuffer) {
        w.starved = 0;
        if (w.taken <= w.buffers)
            ++w.taken;
        if (w.taken > w.buffers) {
            w.flowing = true;
            w.setupRenewed = false;
        }
        if (++w.fed >= POOL_STEADY_FRAMES)
            w.limit = POOL_FIRST_LIMIT;
        return false;
    }
    w.fed = 0;
    ++w.starved;
    if (w.flowing) {
        if (w.starved < w.limit)
            return false;
        w.limit = w.limit * 2 < POOL_MAX_LIMIT ? w.limit * 2 : POOL_MAX_LIMIT;
    } else {
        if (w.setupRenewed || w.starved < POOL_SETUP_FRAMES)
            return false;
        w.setupRenewed = true;
    }
    PoolWatchNewPool(w);
    return true;
}
