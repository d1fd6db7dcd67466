// The pin and media type enumerators. Each holds a reference on what it
// enumerates, so the filter outlives every enumerator it handed out.
#include <string.h>

#include "capture_filter.h"
#include "media_types.h"

namespace {

class CEnumPins : public IEnumPins {
public:
    static const InterfaceEntry Interfaces[];
    CEnumPins(IBaseFilter* f, IPin* p, ULONG at) : filter(f), pin(p), position(at) {}
    virtual ~CEnumPins() {}

    STDMETHODIMP Next(ULONG wanted, IPin** pins, ULONG* fetched) override
    {
        if (pins == nullptr || (wanted > 1 && fetched == nullptr))
            return E_POINTER;
        ULONG n = 0;
        if (wanted > 0 && position == 0) {
            pins[0] = pin;
            pin->AddRef();
            ++position;
            n = 1;
        }
        if (fetched != nullptr)
            *fetched = n;
        return n == wanted ? S_OK : S_FALSE;
    }
    STDMETHODIMP Skip(ULONG count) override
    {
        ULONG left = position < 1 ? 1 - position : 0;
        position = count > left ? 1 : position + count;
        return count <= left ? S_OK : S_FALSE;
    }
    STDMETHODIMP Reset() override
    {
        position = 0;
        return S_OK;
    }
    STDMETHODIMP Clone(IEnumPins** out) override
    {
        return NewPinEnumerator(filter.Get(), pin, position, out);
    }

private:
    ComPtr<IBaseFilter> filter;
    IPin* pin;   // part of the filter held above
    ULONG position;
};

const InterfaceEntry CEnumPins::Interfaces[] = {
    { &IID_IEnumPins, InterfaceOf<CEnumPins, IEnumPins> },
    { nullptr, nullptr },
};

class CEnumMediaTypes : public IEnumMediaTypes {
public:
    static const InterfaceEntry Interfaces[];
    CEnumMediaTypes(IPin* p, const StreamChoice* c, uint32_t n, uint32_t at)
        : pin(p), count(n), position(at)
    {
        memcpy(choices, c, n * sizeof *c);
    }
    virtual ~CEnumMediaTypes() {}

    STDMETHODIMP Next(ULONG wanted, AM_MEDIA_TYPE** types, ULONG* fetched) override
    {
        if (types == nullptr || (wanted > 1 && fetched == nullptr))
            return E_POINTER;
        ULONG n = 0;
        while (n < wanted && position < count) {
            types[n] = NewMediaType(choices[position]);
            if (types[n] == nullptr)
                break;
            ++n;
            ++position;
        }
        if (fetched != nullptr)
            *fetched = n;
        return n == wanted ? S_OK : S_FALSE;
    }
    STDMETHODIMP Skip(ULONG n) override
    {
        uint32_t left = count - position;
        position = n > left ? count : position + n;
        return n <= left ? S_OK : S_FALSE;
    }
    STDMETHODIMP Reset() override
    {
        position = 0;
        return S_OK;
    }
    STDMETHODIMP Clone(IEnumMediaTypes** out) override
    {
        return NewMediaTypeEnumerator(pin.Get(), choices, count, position, out);
    }

private:
    ComPtr<IPin> pin;
    StreamChoice choices[STREAM_TYPE_MAX];
    uint32_t count;
    uint32_t position;
};

const InterfaceEntry CEnumMediaTypes::Interfaces[] = {
    { &IID_IEnumMediaTypes, InterfaceOf<CEnumMediaTypes, IEnumMediaTypes> },
    { nullptr, nullptr },
};

}  // namespace

HRESULT NewPinEnumerator(IBaseFilter* filter, IPin* pin, ULONG position, IEnumPins** out)
{
    if (out == nullptr)
        return E_POINTER;
    *out = NewComObject<CEnumPins>(filter, pin, position);
    return *out != nullptr ? S_OK : E_OUTOFMEMORY;
}

HRESULT NewMediaTypeEnumerator(IPin* pin, const StreamChoice* choices, uint32_t count,
                               uint32_t position, IEnumMediaTypes** out)
{
    if (out == nullptr)
        return E_POINTER;
    if (count > STREAM_TYPE_MAX)
        count = STREAM_TYPE_MAX;
    *out = NewComObject<CEnumMediaTypes>(pin, choices, count, position);
    return *out != nullptr ? S_OK : E_OUTOFMEMORY;
}
