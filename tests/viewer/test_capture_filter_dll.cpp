// The stand-in capture source as an in-process COM server, for the tests
// that run the real OvalixViewer.exe. OVALIX_TEST_FILTER sets its pins and
// formats (see ParseTestFilterConfig); OVALIX_TEST_FILTER_LOG names a file
// that receives the formats it was told to use and connected with.
#include <stdlib.h>

#include "capture_graph.h"
#include "test_capture_filter.h"

extern "C" HRESULT __stdcall DllGetClassObject(REFCLSID filterClass, REFIID iid, void** out)
{
    static bool configured = false;
    if (!configured) {
        const char* text = getenv("OVALIX_TEST_FILTER");
        ParseTestFilterConfig(text ? text : "1280x720,640x480,320x240", &TestFilterSettings);
        configured = true;
    }
    *out = nullptr;
    if (filterClass != CLSID_OvalixCaptureFilter)
        return CLASS_E_CLASSNOTAVAILABLE;
    return TestFilterFactory()->QueryInterface(iid, out);
}

extern "C" HRESULT __stdcall DllCanUnloadNow()
{
    return S_FALSE;
}
