#pragma once
// What the camera's source and its stream share: an event queue behind a
// lock, a shut-down flag every call looks at, and handing out counted
// references. Interface is the Media Foundation interface the object
// implements (an IMFMediaEventGenerator); the object's own methods use the
// lock and the flag too.

#include <windows.h>
#include <mfapi.h>
#include <mferror.h>
#include <mfidl.h>

#include <mutex>

#include "com_object.h"

template <class Interface>
class CEventGenerator : public Interface {
public:
    STDMETHODIMP GetEvent(DWORD flags, IMFMediaEvent** event) override
    {
        // Not under the lock: a blocking GetEvent would hold it indefinitely.
        ComPtr<IMFMediaEventQueue> queue;
        {
            std::lock_guard<std::mutex> hold(lock);
            if (shutdown)
                return MF_E_SHUTDOWN;
            queue = events;
        }
        HRESULT hr = queue->GetEvent(flags, event);
        std::lock_guard<std::mutex> hold(lock);
        EventTaken(hr, event ? *event : nullptr);
        return hr;
    }
    STDMETHODIMP BeginGetEvent(IMFAsyncCallback* callback, IUnknown* state) override
    {
        std::lock_guard<std::mutex> hold(lock);
        HRESULT hr = CheckAlive();
        return SUCCEEDED(hr) ? events->BeginGetEvent(callback, state) : hr;
    }
    STDMETHODIMP EndGetEvent(IMFAsyncResult* result, IMFMediaEvent** event) override
    {
        std::lock_guard<std::mutex> hold(lock);
        HRESULT hr = CheckAlive();
        if (SUCCEEDED(hr))
            hr = events->EndGetEvent(result, event);
        EventTaken(hr, event ? *event : nullptr);
        return hr;
    }
    STDMETHODIMP QueueEvent(MediaEventType type, REFGUID extended, HRESULT status,
                            const PROPVARIANT* value) override
    {
        std::lock_guard<std::mutex> hold(lock);
        HRESULT hr = CheckAlive();
        return SUCCEEDED(hr) ? events->QueueEventParamVar(type, extended, status, value) : hr;
    }

protected:
    CEventGenerator() : shutdown(false) {}
    virtual ~CEventGenerator() {}

    HRESULT CheckAlive() const { return shutdown ? MF_E_SHUTDOWN : S_OK; }

    // A reader took an event (hr says whether it did); under the lock.
    virtual void EventTaken(HRESULT, IMFMediaEvent*) {}

    // *out gets a counted reference to what get() returns under the lock, or
    // NULL with the error once the object is shut down or when check is one.
    template <class Out, class Get>
    HRESULT HandOut(Out** out, Get get, HRESULT check = S_OK)
    {
        if (out == nullptr)
            return E_POINTER;
        std::lock_guard<std::mutex> hold(lock);
        *out = nullptr;
        HRESULT hr = CheckAlive();
        if (SUCCEEDED(hr))
            hr = check;
        if (SUCCEEDED(hr))
            *out = ComPtr<Out>(get()).Detach();
        return hr;
    }

    std::mutex lock;
    ComPtr<IMFMediaEventQueue> events;
    bool shutdown;
};
