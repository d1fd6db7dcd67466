#pragma once
// The camera's node in the user's PipeWire daemon: one Video/Source stream
// that drives itself, offers the given sizes and rates in the formats of
// camera_formats.h, and hands out one buffer at a time to be filled.
//
// PipeWire runs on a thread of its own; every call here takes its lock, but a
// buffer is filled without it, so a slow decode never holds up the daemon's
// messages. When the daemon goes away (or is not there yet) the camera lets
// go of the connection, and Upkeep connects again, at most once a second.
//
// The daemon keeps a node's format and buffer pool from one consumer to the
// next, and a consumer that dies holding a buffer never gives it back. So
// when the last consumer goes, or when no buffer comes free (pool_renewal.h
// says when), Upkeep suspends the node: the next link negotiates a full pool.

#include <stdint.h>

#include "named_objects.h"
#include "picture_convert.h"
#include "video_formats.h"

struct CameraNodeInfo {
    const char* nodeName;     // stable, for target-object and stored links
    const char* description;  // what camera pickers show
};

class CPipeWireCamera {
public:
    CPipeWireCamera();
    ~CPipeWireCamera();

    // Starts PipeWire's thread; false when the library cannot. changed is
    // woken whenever the stream's state changes, so that a caller with no
    // consumer can wait long and still follow a consumer's coming and going
    // at once.
    bool Start(const CameraNodeInfo& info, CWakeSignal& changed);
    // Ends the stream, the connection and the thread.
    void Stop();

    // Connects and publishes the node when it is not published and the last
    // try is at least a second old. True while the node is published.
    bool Upkeep(uint32_t nowMs);

    // The sizes and rates to offer; the node's offer changes at once.
    void SetFormats(const VideoFormat* formats, uint32_t count);

    // True while a consumer takes frames.
    bool Streaming() const;

    // The negotiated picture; generation changes with every negotiation.
    bool Negotiated(PictureTarget& target, uint32_t& generation) const;

    // Fills one buffer: fill(buffer, capacity, target, context) writes the
    // frame and returns whether it is to be sent. A buffer not sent is kept
    // for the next call. False when nothing was sent (no consumer, no free
    // buffer, or fill said no). While fill runs, the daemon's thread may go
    // on, but a buffer it takes away waits for fill to end.
    typedef bool (*FillFunction)(uint8_t* buffer, uint32_t capacity, const PictureTarget& target,
                                 void* context);
    bool SendFrame(FillFunction fill, void* context);

    struct Impl;

private:
    CPipeWireCamera(const CPipeWireCamera&);
    CPipeWireCamera& operator=(const CPipeWireCamera&);

    Impl* impl;
};
