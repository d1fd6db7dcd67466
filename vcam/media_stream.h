#pragma once
// The camera's one video stream. Its thread answers each RequestSample with
// the next picture from the feed (the phone's frame decoded into the chosen
// type, or the placeholder card) as an MEMediaSample, while the source runs.
// Every wait in it is bounded or woken, so Stop and Shutdown return at once
// even while a request waits for a frame.
//
// The stream shares its source's lock and state (event_generator.h): the
// source moves the state and calls the *Locked operations with the lock
// held; SetStreamState does the same for a reader that drives the stream.

#include <windows.h>
#include <mfapi.h>
#include <mfidl.h>

#include <deque>
#include <thread>

#include "camera_feed.h"
#include "camera_types.h"
#include "com_object.h"
#include "event_generator.h"
#include "mf_declarations.h"
#include "no_camera_controls.h"
#include "picture_convert.h"
#include "placeholder_sample.h"
#include "sample_pool.h"

// Requests that may wait at once; the frame server and the source reader keep
// a few at most.
const uint32_t MAX_PENDING_REQUESTS = 16;

class CMediaStream : public CEventGenerator<IMFMediaStream2>, public CNoCameraControls {
public:
    static const InterfaceEntry Interfaces[];

    explicit CMediaStream(CSourceCore* core);
    virtual ~CMediaStream();

    HRESULT Init(IMFMediaSource* source, IMFStreamDescriptor* descriptor);
    IMFAttributes* Attributes() const { return attributes.Get(); }

    // With the lock held, after the source has set the state. Start takes the
    // descriptor's current media type; a restart with another type switches.
    HRESULT StartLocked(const PROPVARIANT& startTime, bool restart);
    HRESULT StopLocked();
    HRESULT PauseLocked();
    // Without the lock, once the source is SOURCE_ENDING: ends the thread,
    // gives a reader of a started stream its end, and shuts the stream down.
    void Shutdown(bool started);

    // IMFMediaStream
    STDMETHODIMP GetMediaSource(IMFMediaSource** source) override;
    STDMETHODIMP GetStreamDescriptor(IMFStreamDescriptor** descriptor) override;
    STDMETHODIMP RequestSample(IUnknown* token) override;
    // IMFMediaStream2
    STDMETHODIMP SetStreamState(MF_STREAM_STATE value) override;
    STDMETHODIMP GetStreamState(MF_STREAM_STATE* value) override;

private:
    CMediaStream(const CMediaStream&);
    CMediaStream& operator=(const CMediaStream&);

    void EventTaken(HRESULT hr, IMFMediaEvent* event) override;
    void EndThread();
    HRESULT ReadCurrentType(CameraType& out);
    void Run();
    ComPtr<IMFSample> NextSample(const CameraType& type, bool restarted);
    bool Stamp(IMFSample* sample, const CameraType& type, LONGLONG time, bool restarted);

    // Under the core's lock.
    ComPtr<IMFMediaSource> source;  // until Shutdown
    ComPtr<IMFStreamDescriptor> descriptor;
    ComPtr<IMFAttributes> attributes;
    bool endTaken;  // a reader took MEEndOfStream
    CameraType active;
    bool activeChanged;
    std::deque<ComPtr<IUnknown>> requests;  // oldest first; a token may be null
    std::thread thread;

    // The thread's own.
    CCameraFeed feed;
    CameraFrame* frame;  // allocated once
    CPictureConverter converter;
    CSamplePool pool;
    CPlaceholderSample placeholder;  // the card as a sample of the stream's type
};
