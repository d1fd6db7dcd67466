#pragma once
// What the camera's source and its stream share: one lock that every call
// of either takes, one state that says where both are, and for each an event
// queue and the handing out of counted references. Interface is the Media
// Foundation interface the object implements (an IMFMediaEventGenerator).
//
// The stream can outlive its source (a reader may hold it), so the lock and
// the state live in a small counted object of their own that both hold.

#include <windows.h>
#include <mfapi.h>
#include <mferror.h>
#include <mfidl.h>

#include <atomic>
#include <condition_variable>
#include <mutex>

#include "com_object.h"

enum SourceState {
    SOURCE_STOPPED = 0,
    SOURCE_PAUSED = 1,
    SOURCE_RUNNING = 2,
    SOURCE_ENDING = 3,     // Shutdown is under way: a reader may still take the end of stream
    SOURCE_SHUT_DOWN = 4,  // every call answers MF_E_SHUTDOWN
};

class CSourceCore {
public:
    CSourceCore() : state(SOURCE_STOPPED), refs(1) {}
    void AddRef() { ++refs; }
    void Release()
    {
        if (--refs == 0)
            delete this;
    }

    std::mutex lock;
    std::condition_variable wake;  // the stream's thread waits on it
    SourceState state;

private:
    std::atomic<long> refs;
};

template <class Interface> class CEventGenerator : public Interface {
public:
    STDMETHODIMP GetEvent(DWORD flags, IMFMediaEvent** event) override
    {
        // Not under the lock: a blocking GetEvent would hold it indefinitely.
        ComPtr<IMFMediaEventQueue> queue;
        {
            std::lock_guard<std::mutex> hold(core->lock);
            HRESULT hr = CheckReachable();
            if (FAILED(hr))
                return hr;
            queue = events;
            eventRequested = true;
        }
        HRESULT hr = queue->GetEvent(flags, event);
        std::lock_guard<std::mutex> hold(core->lock);
        Taken(hr, event);
        return hr;
    }
    STDMETHODIMP BeginGetEvent(IMFAsyncCallback* callback, IUnknown* state) override
    {
        std::lock_guard<std::mutex> hold(core->lock);
        HRESULT hr = CheckReachable();
        if (SUCCEEDED(hr))
            hr = events->BeginGetEvent(callback, state);
        if (SUCCEEDED(hr))
            eventRequested = true;
        return hr;
    }
    STDMETHODIMP EndGetEvent(IMFAsyncResult* result, IMFMediaEvent** event) override
    {
        std::lock_guard<std::mutex> hold(core->lock);
        HRESULT hr = CheckReachable();
        if (SUCCEEDED(hr))
            hr = events->EndGetEvent(result, event);
        Taken(hr, event);
        return hr;
    }
    STDMETHODIMP QueueEvent(MediaEventType type, REFGUID extended, HRESULT status,
                            const PROPVARIANT* value) override
    {
        std::lock_guard<std::mutex> hold(core->lock);
        HRESULT hr = CheckAlive();
        return SUCCEEDED(hr) ? events->QueueEventParamVar(type, extended, status, value) : hr;
    }

protected:
    CEventGenerator(CSourceCore* shared, bool eventsUntilShutDown)
        : core(shared), endsWithStream(eventsUntilShutDown), eventRequested(false)
    {
        core->AddRef();
    }
    virtual ~CEventGenerator() { core->Release(); }

    // Under the lock: the object's own calls fail once Shutdown has begun.
    HRESULT CheckAlive() const { return core->state >= SOURCE_ENDING ? MF_E_SHUTDOWN : S_OK; }
    // Under the lock: its events, and the objects it hands out, stay within
    // reach until the end of the stream has been taken (a reader looks the
    // stream up by its descriptor when it takes an event).
    HRESULT CheckReachable() const
    {
        SourceState last = endsWithStream ? SOURCE_SHUT_DOWN : SOURCE_ENDING;
        return core->state >= last || !events ? MF_E_SHUTDOWN : S_OK;
    }

    // A reader took an event (hr says whether it did); under the lock.
    virtual void EventTaken(HRESULT, IMFMediaEvent*) {}

    // *out gets a counted reference to what get() returns under the lock, or
    // NULL with the error once the object is shut down or when check is one.
    template <class Out, class Get> HRESULT HandOut(Out** out, Get get, HRESULT check = S_OK)
    {
        if (out == nullptr)
            return E_POINTER;
        std::lock_guard<std::mutex> hold(core->lock);
        *out = nullptr;
        HRESULT hr = CheckReachable();
        if (SUCCEEDED(hr))
            hr = check;
        if (SUCCEEDED(hr))
            *out = ComPtr<Out>(get()).Detach();
        return hr;
    }

    CSourceCore* core;
    ComPtr<IMFMediaEventQueue> events;
    // The stream stays within reach while Shutdown is under way (the end of
    // the stream is taken then); the source is out of reach at once.
    bool endsWithStream;
    // A reader has asked for the next event and not yet taken it: an event
    // queued now is on its way to that reader. Under the lock.
    bool eventRequested;

private:
    void Taken(HRESULT hr, IMFMediaEvent** event)
    {
        eventRequested = false;
        EventTaken(hr, event ? *event : nullptr);
        core->wake.notify_all();
    }
};
