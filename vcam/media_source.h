#pragma once
// The camera as a Media Foundation media source: one video stream, a
// presentation descriptor with a media type per table size and subtype, the
// source's attribute store, and an IKsControl that has no controls. It runs
// inside the camera frame server (a service in session 0: no window, no
// user profile, no console) as well as in any application's process.

#include <windows.h>
#include <mfapi.h>
#include <mfidl.h>

#include <mutex>

#include "com_object.h"
#include "no_camera_controls.h"
#include "media_stream.h"

class CMediaSource : public IMFMediaSourceEx, public CNoCameraControls {
public:
    static const InterfaceEntry Interfaces[];

    CMediaSource();
    virtual ~CMediaSource();
    // The media types come from the block's table as it is now (the
    // service's default entry when there is none).
    HRESULT Init();

    // IMFMediaEventGenerator
    STDMETHODIMP GetEvent(DWORD flags, IMFMediaEvent** event) override;
    STDMETHODIMP BeginGetEvent(IMFAsyncCallback* callback, IUnknown* state) override;
    STDMETHODIMP EndGetEvent(IMFAsyncResult* result, IMFMediaEvent** event) override;
    STDMETHODIMP QueueEvent(MediaEventType type, REFGUID extended, HRESULT status,
                            const PROPVARIANT* value) override;
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

    HRESULT CheckAlive() const;

    std::mutex lock;
    ComPtr<IMFMediaEventQueue> events;
    ComPtr<IMFAttributes> attributes;
    ComPtr<IMFPresentationDescriptor> presentation;
    ComPtr<IMFStreamDescriptor> streamDescriptor;
    ComPtr<IMFMediaStream2> streamRef;   // holds stream
    CMediaStream* stream;
    bool streamAnnounced;   // MENewStream went out; later starts send MEUpdatedStream
    bool started;
    bool shutdown;
    bool mediaFoundation;   // MFStartup succeeded
};
