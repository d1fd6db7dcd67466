// The in-process server of the Media Foundation camera source: how the class
// is created, and its registration under its identifier (the frame server
// creates it by that identifier; the registrar names it to Windows).
#include <windows.h>

#include "camera_ids.h"
#include "inproc_server.h"
#include "media_source.h"

namespace {

HRESULT CreateSource(REFIID riid, void** out)
{
    CMediaSource* created = NewComObject<CMediaSource>();
    if (created == nullptr)
        return E_OUTOFMEMORY;
    ComPtr<IMFMediaSourceEx> source;
    source.Attach(static_cast<IMFMediaSourceEx*>(created));
    HRESULT hr = created->Init();
    if (SUCCEEDED(hr))
        hr = source->QueryInterface(riid, out);
    if (FAILED(hr))
        source->Shutdown();
    return hr;
}

}  // namespace

// Under HKEY_LOCAL_MACHINE, where the frame server's account looks, whoever
// runs regsvr32.
extern const InprocServer inprocServer = {
    &CLSID_OvalixMediaSource,
    CreateSource,
    HKEY_LOCAL_MACHINE,
    L"Software\\Classes\\CLSID\\{4D34993D-67BD-4538-9C88-5F514A70AB14}",
    MEDIA_SOURCE_NAME,
    nullptr,
    nullptr,
};
