#pragma once
// IKsControl for a camera without controls, which the frame server asks the
// source and its stream for: every property, method and event is "not
// supported" (ERROR_SET_NOT_FOUND), which it takes as absent.

#include <windows.h>
#include <devicetopology.h>

class CNoCameraControls : public IKsControl {
public:
    virtual ~CNoCameraControls() {}
    STDMETHODIMP KsProperty(PKSPROPERTY, ULONG, void*, ULONG, ULONG*) override
    {
        return HRESULT_FROM_WIN32(ERROR_SET_NOT_FOUND);
    }
    STDMETHODIMP KsMethod(PKSMETHOD, ULONG, void*, ULONG, ULONG*) override
    {
        return HRESULT_FROM_WIN32(ERROR_SET_NOT_FOUND);
    }
    STDMETHODIMP KsEvent(PKSEVENT, ULONG, void*, ULONG, ULONG*) override
    {
        return HRESULT_FROM_WIN32(ERROR_SET_NOT_FOUND);
    }
};
