#pragma once
// The service hands its sealed objects (the block, its mutex and its event;
// see named_objects.h) to readers over a local socket at CAMERA_SOCKET_PATH.
// Whoever may connect to it may read the camera. A reader connects, receives
// the three descriptors and the identity of the set, and hangs up; asking
// again once a second tells it that the service went (nobody answers) or made
// new objects (another identity). What arrives is checked when it is adopted,
// so even a stranger answering at the path cannot hand over memory that
// shrinks. Windows has no such channel: a reader uses the names there.

#include <stdint.h>

extern const char* const CAMERA_SOCKET_PATH;  // "/run/ovalix/camera"

enum { SEALED_OBJECT_COUNT = 3 };  // block, mutex, event: in that order

struct SealedObjects {
    intptr_t descriptors[SEALED_OBJECT_COUNT];
    uint64_t identity;
};

// Connects, receives and hangs up; never waits long for an answer. On success
// the caller owns the descriptors.
bool FetchSealedObjects(SealedObjects& out);
void CloseSealedObjects(SealedObjects& objects);

// Serves the descriptors from a thread of its own until Stop. The socket is
// made afresh (a stale one from a run that died is replaced) and open to every
// local user, like the names.
class CSealedChannel {
public:
    CSealedChannel();
    ~CSealedChannel();
    bool Start(const SealedObjects& objects);  // the descriptors stay the caller's
    void Stop();

private:
    CSealedChannel(const CSealedChannel&);
    CSealedChannel& operator=(const CSealedChannel&);
    struct Impl;
    Impl* impl;
};
