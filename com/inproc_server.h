#pragma once
// The entry points of an in-process server of one class (DllMain,
// DllGetClassObject, DllCanUnloadNow, DllRegisterServer, DllUnregisterServer)
// come from inproc_server.cpp; the DLL defines `inprocServer` to say what it
// serves and where it is registered.

#include "com_object.h"

struct InprocServer {
    const CLSID* clsid;
    CreateInstanceFn create;
    HKEY root;               // the class key is under this root ...
    const wchar_t* classKey; // ... e.g. "CLSID\\{...}" under HKEY_CLASSES_ROOT
    const wchar_t* name;
    // Further registration once the class is registered, and its removal
    // before the class key goes (a failure there does not stop the removal).
    // Either may be null.
    HRESULT (*registerMore)();
    void (*unregisterMore)();
};

extern const InprocServer inprocServer;
