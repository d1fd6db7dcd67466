#pragma once
// The capture source: a filter with one output pin that offers the block's
// formats as video in five layouts and streams the phone's frames (or its placeholder
// picture) through its own worker thread. The pin is part of the filter and
// counts its references on the filter.

#define NO_DSHOW_STRSAFE
#include <dshow.h>

#include <mutex>

#include "block_view.h"
#include "camera_client.h"
#include "com_object.h"
#include "media_types.h"
#include "source_stats.h"
#include "stream_worker.h"
#include "video_formats.h"

class CCaptureFilter;

class COutputPin : public IPin, public IAMStreamConfig, public IKsPropertySet {
public:
    explicit COutputPin(CCaptureFilter& owner);
    ~COutputPin();
    static const InterfaceEntry Interfaces[];

    STDMETHODIMP QueryInterface(REFIID riid, void** out) override;
    STDMETHODIMP_(ULONG) AddRef() override;
    STDMETHODIMP_(ULONG) Release() override;

    // IPin
    STDMETHODIMP Connect(IPin* receivePin, const AM_MEDIA_TYPE* mt) override;
    STDMETHODIMP ReceiveConnection(IPin* connector, const AM_MEDIA_TYPE* mt) override;
    STDMETHODIMP Disconnect() override;
    STDMETHODIMP ConnectedTo(IPin** pin) override;
    STDMETHODIMP ConnectionMediaType(AM_MEDIA_TYPE* mt) override;
    STDMETHODIMP QueryPinInfo(PIN_INFO* info) override;
    STDMETHODIMP QueryDirection(PIN_DIRECTION* direction) override;
    STDMETHODIMP QueryId(LPWSTR* id) override;
    STDMETHODIMP QueryAccept(const AM_MEDIA_TYPE* mt) override;
    STDMETHODIMP EnumMediaTypes(IEnumMediaTypes** out) override;
    STDMETHODIMP QueryInternalConnections(IPin** pins, ULONG* count) override;
    STDMETHODIMP EndOfStream() override;
    STDMETHODIMP BeginFlush() override;
    STDMETHODIMP EndFlush() override;
    STDMETHODIMP NewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate) override;

    // IAMStreamConfig
    STDMETHODIMP SetFormat(AM_MEDIA_TYPE* mt) override;
    STDMETHODIMP GetFormat(AM_MEDIA_TYPE** mt) override;
    STDMETHODIMP GetNumberOfCapabilities(int* count, int* size) override;
    STDMETHODIMP GetStreamCaps(int index, AM_MEDIA_TYPE** mt, BYTE* caps) override;

    // IKsPropertySet
    STDMETHODIMP Set(REFGUID set, DWORD id, LPVOID instance, DWORD instanceSize, LPVOID data,
                     DWORD dataSize) override;
    STDMETHODIMP Get(REFGUID set, DWORD id, LPVOID instance, DWORD instanceSize, LPVOID data,
                     DWORD dataSize, DWORD* returned) override;
    STDMETHODIMP QuerySupported(REFGUID set, DWORD id, DWORD* support) override;

    // For the filter, with its lock held. Inactive asks the worker to end;
    // the filter joins it after letting the lock go.
    HRESULT Active();
    void Inactive();
    CStreamWorker& Worker() { return worker; }

private:
    COutputPin(const COutputPin&);
    COutputPin& operator=(const COutputPin&);

    // The stream types are read from the block once and kept, so that a
    // count and the per-index calls after it always agree; a call that
    // starts a look at them (EnumMediaTypes, GetNumberOfCapabilities) reads
    // them again while the pin is stopped and unconnected.
    void RenewTypes();
    void EnsureTypes();
    HRESULT TryConnect(IPin* receivePin, const StreamChoice& choice);
    HRESULT DecideAllocator(IMemInputPin* peerInput, uint32_t sampleSize,
                            ComPtr<IMemAllocator>& out);
    void ReleaseConnection();

    CCaptureFilter& filter;
    CCameraClient tableReader;  // formats and requested size
    ComPtr<IPin> peer;
    ComPtr<IMemInputPin> peerInput;
    ComPtr<IMemAllocator> allocator;

    bool typesTaken;
    uint32_t typeCount;
    StreamType types[STREAM_TYPE_MAX];  // every type, for IAMStreamConfig
    uint32_t previewCount;
    StreamType previews[STREAM_TYPE_MAX];  // one per size, for EnumMediaTypes
    StreamChoice defaultChoice;            // at the block's requested size, else the last

    StreamChoice connected;
    bool formatChosen;
    StreamChoice chosen;  // set with SetFormat
    CStreamWorker worker;
};

class CCaptureFilter : public IBaseFilter, public IAMFilterMiscFlags, public IOvalixSourceStats {
public:
    CCaptureFilter();
    ~CCaptureFilter();
    static const InterfaceEntry Interfaces[];

    // IPersist
    STDMETHODIMP GetClassID(CLSID* id) override;
    // IMediaFilter
    STDMETHODIMP Stop() override;
    STDMETHODIMP Pause() override;
    STDMETHODIMP Run(REFERENCE_TIME start) override;
    STDMETHODIMP GetState(DWORD timeoutMs, FILTER_STATE* state) override;
    STDMETHODIMP SetSyncSource(IReferenceClock* clock) override;
    STDMETHODIMP GetSyncSource(IReferenceClock** clock) override;
    // IBaseFilter
    STDMETHODIMP EnumPins(IEnumPins** out) override;
    STDMETHODIMP FindPin(LPCWSTR id, IPin** pin) override;
    STDMETHODIMP QueryFilterInfo(FILTER_INFO* info) override;
    STDMETHODIMP JoinFilterGraph(IFilterGraph* graph, LPCWSTR name) override;
    STDMETHODIMP QueryVendorInfo(LPWSTR* info) override;
    // IAMFilterMiscFlags
    STDMETHODIMP_(ULONG) GetMiscFlags() override;
    // IOvalixSourceStats
    STDMETHODIMP GetStats(SourceStats* out) override;

    std::recursive_mutex& Lock() { return lock; }
    FILTER_STATE State() const { return state; }
    IFilterGraph* Graph() const { return graph; }

private:
    CCaptureFilter(const CCaptureFilter&);
    CCaptureFilter& operator=(const CCaptureFilter&);

    // Recursive: the graph manager may call back into the pin (Reconnect)
    // from a call the filter makes while holding it.
    std::recursive_mutex lock;
    FILTER_STATE state;
    ComPtr<IReferenceClock> clock;
    IFilterGraph* graph;  // not counted: the graph holds the filter
    wchar_t name[MAX_FILTER_NAME];
    COutputPin pin;
};

// Enumerators handed out by the filter and its pin.
HRESULT NewPinEnumerator(IBaseFilter* filter, IPin* pin, ULONG position, IEnumPins** out);
HRESULT NewMediaTypeEnumerator(IPin* pin, const StreamChoice* choices, uint32_t count,
                               uint32_t position, IEnumMediaTypes** out);
