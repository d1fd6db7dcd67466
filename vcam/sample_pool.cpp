#include "sample_pool.h"

#include <mutex>

#include "mf_declarations.h"

// The free list, and the callback each handed-out sample calls when its
// last outside reference goes.
class CSampleReturn : public IMFAsyncCallback {
public:
    static const InterfaceEntry Interfaces[];

    CSampleReturn() : freeCount(0), made(0), closed(false) {}

    // IMFAsyncCallback
    STDMETHODIMP GetParameters(DWORD*, DWORD*) override { return E_NOTIMPL; }
    STDMETHODIMP Invoke(IMFAsyncResult* result) override
    {
        ComPtr<IUnknown> object;
        ComPtr<IMFSample> sample;
        if (result == nullptr || FAILED(result->GetObject(&object)) || FAILED(object.As(&sample)))
            return S_OK;
        std::lock_guard<std::mutex> hold(lock);
        if (closed || freeCount == SAMPLE_POOL_SIZE)
            return S_OK;
        free[freeCount++] = sample;
        return S_OK;
    }

    HRESULT Take(DWORD size, ComPtr<IMFSample>& sample, ComPtr<IMFMediaBuffer>& buffer);
    void Counts(uint32_t& madeOut, uint32_t& freeOut)
    {
        std::lock_guard<std::mutex> hold(lock);
        madeOut = made;
        freeOut = freeCount;
    }
    // The pool is gone: samples that come back later are let go.
    void Close()
    {
        std::lock_guard<std::mutex> hold(lock);
        closed = true;
        for (uint32_t i = 0; i < freeCount; ++i)
            free[i].Reset();
        freeCount = 0;
    }

private:
    HRESULT Reuse(IMFSample* sample, DWORD size, ComPtr<IMFMediaBuffer>& buffer);
    HRESULT Make(ComPtr<IMFSample>& sample);

    std::mutex lock;
    ComPtr<IMFSample> free[SAMPLE_POOL_SIZE];
    uint32_t freeCount;
    uint32_t made;
    bool closed;
};

const InterfaceEntry CSampleReturn::Interfaces[] = {
    {&__uuidof(IMFAsyncCallback), InterfaceOf<CSampleReturn, IMFAsyncCallback>},
    {nullptr,                           nullptr                                             },
};

// A sample back from a reader, emptied: its buffer when it still has one
// large enough (a reader may have taken it off), else a new one.
HRESULT CSampleReturn::Reuse(IMFSample* sample, DWORD size, ComPtr<IMFMediaBuffer>& buffer)
{
    HRESULT hr = sample->DeleteAllItems();
    DWORD count = 0, capacity = 0;
    if (SUCCEEDED(hr) && SUCCEEDED(sample->GetBufferCount(&count)) && count == 1 &&
        SUCCEEDED(sample->GetBufferByIndex(0, &buffer)) &&
        SUCCEEDED(buffer->GetMaxLength(&capacity)) && capacity >= size)
        return S_OK;
    buffer.Reset();
    if (SUCCEEDED(hr))
        hr = sample->RemoveAllBuffers();
    if (SUCCEEDED(hr))
        hr = MFCreateMemoryBuffer(size, &buffer);
    if (SUCCEEDED(hr))
        hr = sample->AddBuffer(buffer.Get());
    return hr;
}

HRESULT CSampleReturn::Make(ComPtr<IMFSample>& sample)
{
    ComPtr<IMFTrackedSample> tracked;
    HRESULT hr = MFCreateTrackedSample(&tracked);
    if (SUCCEEDED(hr))
        hr = tracked.As(&sample);
    return hr;
}

HRESULT CSampleReturn::Take(DWORD size, ComPtr<IMFSample>& sample, ComPtr<IMFMediaBuffer>& buffer)
{
    {
        std::lock_guard<std::mutex> hold(lock);
        if (freeCount > 0) {
            sample.Swap(free[--freeCount]);
        } else {
            if (made == SAMPLE_POOL_SIZE)
                return MF_E_SAMPLEALLOCATOR_EMPTY;
            ++made;
        }
    }
    HRESULT hr = sample ? S_OK : Make(sample);
    if (SUCCEEDED(hr))
        hr = Reuse(sample.Get(), size, buffer);
    ComPtr<IMFTrackedSample> tracked;
    if (SUCCEEDED(hr))
        hr = sample.As(&tracked);
    // From here the sample calls back when the last reference but its own
    // tracking one goes, whoever lets go last.
    if (SUCCEEDED(hr))
        hr = tracked->SetAllocator(this, nullptr);
    if (FAILED(hr)) {
        // The sample goes with its last reference, untracked.
        std::lock_guard<std::mutex> hold(lock);
        --made;
        sample.Reset();
        buffer.Reset();
        return hr;
    }
    return S_OK;
}

CSamplePool::CSamplePool() : returns(NewComObject<CSampleReturn>()) {}

CSamplePool::~CSamplePool()
{
    if (returns != nullptr) {
        returns->Close();
        returns->Release();
    }
}

HRESULT CSamplePool::Take(DWORD size, ComPtr<IMFSample>& sample, ComPtr<IMFMediaBuffer>& buffer)
{
    return returns != nullptr ? returns->Take(size, sample, buffer) : E_OUTOFMEMORY;
}

void CSamplePool::Counts(uint32_t& made, uint32_t& free)
{
    made = free = 0;
    if (returns != nullptr)
        returns->Counts(made, free);
}
