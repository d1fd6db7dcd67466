#pragma once
// The camera as a Media Foundation media source: one video stream, a
// presentation descriptor with a media type per table size and subtype, the
// source's attribute store, and an IKsControl that has no controls. It runs
// inside the camera frame server (a service in session 0: no window, no
// user profile, no console) as well as in any application's process.
//
// The source and its stream take one lock and keep one state (SourceState,
// event_generator.h), which the source's Start, Stop, Pause and Shutdown move.

#include <windows.h>
#include <mfapi.h>
#include <mfidl.h>

#include "com_object.h"
#include "event_generator.h"
#include "no_camera_controls.h"
#include "media_stream.h"

class CMediaSource : public CEventGenerator<IMFMediaSourceEx>, public CNoCameraControls {
public:
    static const InterfaceEntry Interfaces[];

    CMediaSource();
    virtual ~CMediaSource();
    // The media types come from the block's table as it is now (the
    // service's default entry when there is none).
    HRESULT Init();

    // IMFMediaSource
    STDMETHODIMP GetCharacteristics(DWORD* characteristics) override;
    STDMETHODIMP CreatePresentationDescriptor(IMFPresentationDescriptor** descriptor) override;
    STDMETHODIMP Start(IMFPresentationDescriptor* descriptor, const GUID* timeFormat,
                       const PROPVARIANT* startPosition) override;
    STDMETHODIMP Stop() override;
    STDMETHODIMP Pause() override;
    STDMETHODIMP Shutdown() override;
    // IMFMediaSourceEx
    STDMETHODIMP GetSourceAttributes(IMFAttributes** attributes) override;
    STDMETHODIMP GetStreamAttributes(DWORD streamId, IMFAttributes** attributes) override;
    STDMETHODIMP SetD3DManager(IUnknown* manager) override;

private:
    CMediaSource(const CMediaSource&);
    CMediaSource& operator=(const CMediaSource&);

    ComPtr<IMFAttributes> attributes;
    ComPtr<IMFPresentationDescriptor> presentation;
    ComPtr<IMFStreamDescriptor> streamDescriptor;
    // The stream's one counted reference, through the interface it is
    // handed out as (CMediaStream has two IUnknown bases).
    ComPtr<IMFMediaStream2> stream;
    CMediaStream* Stream() const { return static_cast<CMediaStream*>(stream.Get()); }
    bool streamAnnounced;  // MENewStream went out; later starts send MEUpdatedStream
    bool mediaFoundation;  // MFStartup succeeded
};
