#pragma once
// The capture filter's DLL loaded into a test process without registration,
// and the small graph helpers its in-process tests share.
#define NO_DSHOW_STRSAFE
#include <dshow.h>
#include <qedit.h>

#include <gtest/gtest.h>

#include <string.h>

#include "com_object.h"
#include "filter_ids.h"

extern "C" const CLSID CLSID_SampleGrabber;
extern "C" const CLSID CLSID_NullRenderer;

namespace {

typedef HRESULT(STDAPICALLTYPE* GetClassObjectFn)(REFCLSID, REFIID, void**);
typedef HRESULT(STDAPICALLTYPE* CanUnloadFn)();

struct FilterDll {
    HMODULE module = nullptr;
    GetClassObjectFn getClassObject = nullptr;
    CanUnloadFn canUnload = nullptr;

    FilterDll()
    {
        // The DLL sits in the build tree's filter folder, two up from this one.
        char path[MAX_PATH];
        DWORD n = GetModuleFileNameA(nullptr, path, MAX_PATH);
        char* slash = strrchr(path, '\\');
        if (n == 0 || slash == nullptr)
            return;
        strcpy(slash, "\\..\\..\\filter\\ovalix_filter.dll");
        module = LoadLibraryA(path);
        if (module) {
            getClassObject = (GetClassObjectFn)(void*)GetProcAddress(module, "DllGetClassObject");
            canUnload = (CanUnloadFn)(void*)GetProcAddress(module, "DllCanUnloadNow");
        }
    }
    ~FilterDll()
    {
        if (module)
            FreeLibrary(module);
    }
    ComPtr<IBaseFilter> Create()
    {
        ComPtr<IClassFactory> factory;
        ComPtr<IBaseFilter> filter;
        if (getClassObject &&
            SUCCEEDED(getClassObject(CLSID_OvalixCaptureFilter, IID_PPV_ARGS(&factory))))
            factory->CreateInstance(nullptr, IID_PPV_ARGS(&filter));
        return filter;
    }
};

class FilterTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        CoInitializeEx(nullptr, COINIT_MULTITHREADED);
        ASSERT_NE(dll.getClassObject, nullptr);
    }
    void TearDown() override { CoUninitialize(); }
    FilterDll dll;
};

ComPtr<IPin> OnlyPin(IBaseFilter* filter)
{
    ComPtr<IEnumPins> pins;
    ComPtr<IPin> pin, extra;
    EXPECT_EQ(filter->EnumPins(&pins), S_OK);
    ULONG got = 0;
    EXPECT_EQ(pins->Next(1, &pin, &got), S_OK);
    EXPECT_EQ(pins->Next(1, &extra, &got), S_FALSE);
    EXPECT_EQ(got, 0u);
    return pin;
}

template <class I>
ComPtr<I> Make(REFCLSID clsid)
{
    ComPtr<I> made;
    CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&made));
    return made;
}

const VIDEOINFOHEADER* Info(const AM_MEDIA_TYPE* mt)
{
    return reinterpret_cast<const VIDEOINFOHEADER*>(mt->pbFormat);
}

void Free(AM_MEDIA_TYPE* mt)
{
    if (mt->pbFormat)
        CoTaskMemFree(mt->pbFormat);
    CoTaskMemFree(mt);
}

ComPtr<IPin> PinOf(IBaseFilter* filter, PIN_DIRECTION wanted)
{
    ComPtr<IEnumPins> pins;
    ComPtr<IPin> pin;
    PIN_DIRECTION direction;
    if (SUCCEEDED(filter->EnumPins(&pins)))
        while (pins->Next(1, &pin, nullptr) == S_OK)
            if (SUCCEEDED(pin->QueryDirection(&direction)) && direction == wanted)
                return pin;
    return nullptr;
}

// filter → Sample Grabber → Null Renderer, each pin to the next.
HRESULT ConnectChain(IGraphBuilder* graph, IBaseFilter* filter, IBaseFilter* grabber,
                     IBaseFilter* renderer)
{
    HRESULT hr;
    if (FAILED(hr = graph->AddFilter(filter, FILTER_NAME)) ||
        FAILED(hr = graph->AddFilter(grabber, L"Sample Grabber")) ||
        FAILED(hr = graph->AddFilter(renderer, L"Null Renderer")) ||
        FAILED(hr = graph->Connect(PinOf(filter, PINDIR_OUTPUT).Get(),
                                   PinOf(grabber, PINDIR_INPUT).Get())))
        return hr;
    return graph->Connect(PinOf(grabber, PINDIR_OUTPUT).Get(), PinOf(renderer, PINDIR_INPUT).Get());
}

// The IPin of a test's own input pin: input direction, no peer to report,
// and everything a source pin does not call left out. A test pin adds
// ReceiveConnection and what else it needs.
class CTestInputPin : public IPin {
public:
    virtual ~CTestInputPin() {}
    STDMETHODIMP Connect(IPin*, const AM_MEDIA_TYPE*) override { return E_UNEXPECTED; }
    STDMETHODIMP Disconnect() override { return S_OK; }
    STDMETHODIMP ConnectedTo(IPin**) override { return VFW_E_NOT_CONNECTED; }
    STDMETHODIMP ConnectionMediaType(AM_MEDIA_TYPE*) override { return VFW_E_NOT_CONNECTED; }
    STDMETHODIMP QueryPinInfo(PIN_INFO*) override { return E_NOTIMPL; }
    STDMETHODIMP QueryDirection(PIN_DIRECTION* d) override
    {
        *d = PINDIR_INPUT;
        return S_OK;
    }
    STDMETHODIMP QueryId(LPWSTR*) override { return E_NOTIMPL; }
    STDMETHODIMP QueryAccept(const AM_MEDIA_TYPE*) override { return S_FALSE; }
    STDMETHODIMP EnumMediaTypes(IEnumMediaTypes**) override { return E_NOTIMPL; }
    STDMETHODIMP QueryInternalConnections(IPin**, ULONG*) override { return E_NOTIMPL; }
    STDMETHODIMP EndOfStream() override { return S_OK; }
    STDMETHODIMP BeginFlush() override { return S_OK; }
    STDMETHODIMP EndFlush() override { return S_OK; }
    STDMETHODIMP NewSegment(REFERENCE_TIME, REFERENCE_TIME, double) override { return S_OK; }
};

}  // namespace
