#pragma once
// The stream's samples, each with one memory buffer, allocated once per
// stream and size and handed out again once every reader has let go of
// them. Each is a tracked sample: when its last outside reference goes, the
// sample itself calls the pool back (IMFTrackedSample), and the pool puts it
// on its free list. The pool never reads a reference count.
//
// A handed-out sample holds the pool's reference; its callback gives it
// back. The callback object outlives the pool for as long as samples are
// out, and drops what comes back after the pool is gone.

#include <windows.h>
#include <mfapi.h>
#include <mferror.h>
#include <mfidl.h>

#include "com_object.h"

class CSampleReturn;

class CSamplePool {
public:
    CSamplePool();
    ~CSamplePool();

    // A sample no reader holds, with one buffer of at least size bytes and
    // no attributes left from its last use. Fails when every sample is out
    // or memory runs out.
    HRESULT Take(DWORD size, ComPtr<IMFSample>& sample, ComPtr<IMFMediaBuffer>& buffer);

    // Samples made so far (at most SAMPLE_POOL_SIZE), and of those on the free list.
    void Counts(uint32_t& made, uint32_t& free);

private:
    CSamplePool(const CSamplePool&);
    CSamplePool& operator=(const CSamplePool&);

    CSampleReturn* returns;  // one reference, null when memory ran out
};

// Enough for the readers' queues; samples are made only as needed.
const uint32_t SAMPLE_POOL_SIZE = 8;
