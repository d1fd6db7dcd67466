#pragma once
// The camera's one video stream. Its thread answers each RequestSample with
// the next picture from the feed (the phone's frame decoded into the chosen
// type, or the placeholder card) as an MEMediaSample, while the stream runs.
// Every wait in it is bounded or woken, so Stop and Shutdown return at once
// even while a request waits for a frame.

#include <windows.h>
#include <mfapi.h>
#include <mfidl.h>

#include <condition_variable>
#include <mutex>
#include <thread>

#include "camera_types.h"
#include "com_object.h"
#include "event_generator.h"
#include "no_camera_controls.h"
#include "camera_feed.h"
#include "mf_declarations.h"
#include "picture_convert.h"
#include "sample_pool.h"

// Requests that may wait at once; the frame server and the source reader keep
// a few at most.
const uint32_t MAX_PENDING_REQUESTS = 16;

class CMediaStream : public CEventGenerator<IMFMediaStream2>, public CNoCameraControls {
public:
    static const InterfaceEntry Interfaces[];

    CMediaStream();
    virtual ~CMediaStream();

    HRESULT Init(IMFMediaSource* source, IMFStreamDescriptor* descriptor);
    IMFAttributes* Attributes() const { return attributes.Get(); }

    // From the source, which holds its own lock around each. Start takes the
    // descriptor's current media type; a restart with another type switches.
    HRESULT Start(const PROPVARIANT& startTime, bool restart);
    HRESULT Stop();
    HRESULT Pause();
    void Shutdown();

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
    HRESULT ReadCurrentType(CameraType& out);
    void Run();
    ComPtr<IMFSample> NextSample(const CameraType& type, bool restarted);
    bool Stamp(IMFSample* sample, const CameraType& type, LONGLONG time, bool restarted);
    const uint8_t* Placeholder(PlaceholderKind kind, const CameraType& type);

    // The base's lock guards everything below up to the thread's own state.
    std::condition_variable wake;
    ComPtr<IMFMediaSource> source;   // until Shutdown
    ComPtr<IMFStreamDescriptor> descriptor;
    ComPtr<IMFAttributes> attributes;
    MF_STREAM_STATE state;
    bool quit;       // the thread ends; Shutdown is under way
    bool endTaken;   // a reader took MEEndOfStream
    CameraType active;
    bool activeChanged;
    ComPtr<IUnknown> tokens[MAX_PENDING_REQUESTS];   // a ring; a token may be null
    uint32_t firstToken;
    uint32_t pending;
    std::thread thread;

    // The thread's own.
    CCameraFeed feed;
    CameraFrame* frame;   // allocated once
    CPictureConverter converter;
    CSamplePool pool;
    uint8_t* placeholderRgb;
    uint8_t* placeholderFrame;
    bool placeholderDrawn;
    PlaceholderKind placeholderKind;
    CameraType placeholderType;
};
