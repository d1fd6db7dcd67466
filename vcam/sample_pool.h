#pragma once
// The stream's samples, each with one memory buffer, handed out again once
// every reader has let go of them: frames are allocated once per stream and
// size, not once per frame. A slot is free when the pool holds the only
// reference to its sample and no one but the pool and that sample holds its
// buffer; then no one else can take a new reference either, so the check
// cannot race with a reader.

#include <windows.h>
#include <mfapi.h>
#include <mferror.h>
#include <mfidl.h>

#include "com_object.h"

class CSamplePool {
public:
    // A sample no one else holds, with one buffer of at least size bytes
    // and no attributes left from its last use. Fails when every slot is in
    // use or memory runs out.
    HRESULT Take(DWORD size, ComPtr<IMFSample>& sample, ComPtr<IMFMediaBuffer>& buffer);

    // Lets go of every slot; samples still held elsewhere live on there.
    void Clear();

private:
    // Enough for the readers' queues; slots are filled only as needed.
    static const int SLOTS = 8;
    ComPtr<IMFSample> samples[SLOTS];
    ComPtr<IMFMediaBuffer> buffers[SLOTS];
};
