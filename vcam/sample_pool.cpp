#include "sample_pool.h"

namespace {

// The object's reference count as it stands.
ULONG References(IUnknown* object)
{
    object->AddRef();
    return object->Release();
}

}  // namespace

HRESULT CSamplePool::Take(DWORD size, ComPtr<IMFSample>& sample, ComPtr<IMFMediaBuffer>& buffer)
{
    int empty = -1;
    for (int i = 0; i < SLOTS; ++i) {
        if (!samples[i]) {
            if (empty < 0)
                empty = i;
            continue;
        }
        if (References(samples[i].Get()) != 1 || References(buffers[i].Get()) > 2)
            continue;
        DWORD capacity = 0;
        if (FAILED(buffers[i]->GetMaxLength(&capacity)) || capacity < size) {
            // Of a smaller size than the stream now has: made again below.
            samples[i].Reset();
            buffers[i].Reset();
            if (empty < 0)
                empty = i;
            continue;
        }
        // A reader may have taken the buffer off, or left attributes on.
        HRESULT hr = samples[i]->DeleteAllItems();
        if (SUCCEEDED(hr))
            hr = samples[i]->RemoveAllBuffers();
        if (SUCCEEDED(hr))
            hr = samples[i]->AddBuffer(buffers[i].Get());
        if (FAILED(hr))
            return hr;
        sample = samples[i];
        buffer = buffers[i];
        return S_OK;
    }
    if (empty < 0)
        return MF_E_SAMPLEALLOCATOR_EMPTY;
    ComPtr<IMFSample> s;
    ComPtr<IMFMediaBuffer> b;
    HRESULT hr = MFCreateMemoryBuffer(size, &b);
    if (SUCCEEDED(hr))
        hr = MFCreateSample(&s);
    if (SUCCEEDED(hr))
        hr = s->AddBuffer(b.Get());
    if (FAILED(hr))
        return hr;
    samples[empty] = s;
    buffers[empty] = b;
    sample = s;
    buffer = b;
    return S_OK;
}

void CSamplePool::Clear()
{
    for (int i = 0; i < SLOTS; ++i) {
        samples[i].Reset();
        buffers[i].Reset();
    }
}
