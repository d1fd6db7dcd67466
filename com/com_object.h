#pragma once
// COM without base classes: reference counting in one place (CComObject),
// QueryInterface as a table of interface ids, and a count of live objects
// and server locks that decides whether the DLL may be unloaded.

#include <windows.h>
#include <wrl/client.h>

#include <atomic>
#include <new>

using Microsoft::WRL::ComPtr;

struct InterfaceEntry {
    const IID* iid;
    IUnknown* (*get)(void* self);
};

// Entry for interface I of class T.
template <class T, class I>
IUnknown* InterfaceOf(void* self)
{
    return reinterpret_cast<IUnknown*>(static_cast<I*>(static_cast<T*>(self)));
}

// Looks riid up in a table that ends with a null iid; the first entry also
// answers IUnknown. AddRefs what it returns.
HRESULT QueryFromTable(void* self, const InterfaceEntry* table, REFIID riid, void** out);

// Objects and server locks alive in this module.
extern std::atomic<long> moduleUsers;

// One count in moduleUsers for as long as it lives. As the first base of
// CComObject it is built before T and destroyed after T, so the module stays
// in use until T's destructor (which may wait for a thread running module
// code) has returned.
class CModuleUser {
protected:
    CModuleUser() { ++moduleUsers; }
    ~CModuleUser() { --moduleUsers; }
};

// T derives from its interfaces and gives `static const InterfaceEntry
// Interfaces[]`; this adds the one reference count.
template <class T>
class CComObject final : private CModuleUser, public T {
public:
    template <class... A>
    explicit CComObject(A&&... args) : T(static_cast<A&&>(args)...)
    {
    }

    STDMETHODIMP QueryInterface(REFIID riid, void** out) override
    {
        return QueryFromTable(static_cast<T*>(this), T::Interfaces, riid, out);
    }
    STDMETHODIMP_(ULONG) AddRef() override { return (ULONG)++refs; }
    STDMETHODIMP_(ULONG) Release() override
    {
        long left = --refs;
        if (left == 0)
            delete this;
        return (ULONG)left;
    }

private:
    std::atomic<long> refs{1};
};

// Creates T with one reference, or null when memory runs out.
template <class T, class... A>
T* NewComObject(A&&... args)
{
    return new (std::nothrow) CComObject<T>(static_cast<A&&>(args)...);
}

// An in-process server's DllGetClassObject for its one class: a class
// factory whose CreateInstance refuses aggregation and calls create, and
// whose server locks count as users of the module.
typedef HRESULT (*CreateInstanceFn)(REFIID riid, void** out);
HRESULT GetClassObject(REFCLSID clsid, REFCLSID served, CreateInstanceFn create, REFIID riid,
                       void** out);

// Registers module as the in-process server of a class: classKey under
// root (e.g. "CLSID\\{...}" under HKEY_CLASSES_ROOT) named name, threading
// model "Both". UnregisterInprocServer removes the key; a missing one is no
// failure.
HRESULT RegisterInprocServer(HMODULE module, HKEY root, const wchar_t* classKey,
                             const wchar_t* name);
HRESULT UnregisterInprocServer(HKEY root, const wchar_t* classKey);
