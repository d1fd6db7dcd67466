#include "com_object.h"

#include <olectl.h>

std::atomic<long> moduleUsers{0};

HRESULT QueryFromTable(void* self, const InterfaceEntry* table, REFIID riid, void** out)
{
    if (out == nullptr)
        return E_POINTER;
    *out = nullptr;
    for (const InterfaceEntry* e = table; e->iid != nullptr; ++e) {
        if (IsEqualIID(riid, *e->iid) || (e == table && IsEqualIID(riid, IID_IUnknown))) {
            IUnknown* unknown = e->get(self);
            unknown->AddRef();
            *out = unknown;
            return S_OK;
        }
    }
    return E_NOINTERFACE;
}

namespace {

class CClassFactory : public IClassFactory {
public:
    static const InterfaceEntry Interfaces[];
    explicit CClassFactory(CreateInstanceFn c) : create(c) {}
    virtual ~CClassFactory() {}
    STDMETHODIMP CreateInstance(IUnknown* outer, REFIID riid, void** out) override
    {
        if (out == nullptr)
            return E_POINTER;
        *out = nullptr;
        return outer != nullptr ? CLASS_E_NOAGGREGATION : create(riid, out);
    }
    STDMETHODIMP LockServer(BOOL lock) override
    {
        if (lock)
            ++moduleUsers;
        else
            --moduleUsers;
        return S_OK;
    }

private:
    CreateInstanceFn create;
};

const InterfaceEntry CClassFactory::Interfaces[] = {
    { &IID_IClassFactory, InterfaceOf<CClassFactory, IClassFactory> },
    { nullptr, nullptr },
};

}  // namespace

HRESULT GetClassObject(REFCLSID clsid, REFCLSID served, CreateInstanceFn create, REFIID riid,
                       void** out)
{
    if (out == nullptr)
        return E_POINTER;
    *out = nullptr;
    if (!IsEqualCLSID(clsid, served))
        return CLASS_E_CLASSNOTAVAILABLE;
    CClassFactory* factory = NewComObject<CClassFactory>(create);
    if (factory == nullptr)
        return E_OUTOFMEMORY;
    HRESULT hr = factory->QueryInterface(riid, out);
    factory->Release();
    return hr;
}

namespace {

bool SetString(HKEY key, const wchar_t* name, const wchar_t* value)
{
    DWORD bytes = (DWORD)((wcslen(value) + 1) * sizeof(wchar_t));
    return RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value), bytes) ==
           ERROR_SUCCESS;
}

}  // namespace

HRESULT RegisterInprocServer(HMODULE module, HKEY root, const wchar_t* classKey,
                             const wchar_t* name)
{
    wchar_t path[MAX_PATH];
    DWORD length = GetModuleFileNameW(module, path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        return SELFREG_E_CLASS;
    HKEY key = nullptr, serverKey = nullptr;
    bool ok = RegCreateKeyExW(root, classKey, 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr) ==
                  ERROR_SUCCESS &&
              SetString(key, nullptr, name) &&
              RegCreateKeyExW(key, L"InprocServer32", 0, nullptr, 0, KEY_WRITE, nullptr,
                              &serverKey, nullptr) == ERROR_SUCCESS &&
              SetString(serverKey, nullptr, path) &&
              SetString(serverKey, L"ThreadingModel", L"Both");
    if (serverKey)
        RegCloseKey(serverKey);
    if (key)
        RegCloseKey(key);
    return ok ? S_OK : SELFREG_E_CLASS;
}

HRESULT UnregisterInprocServer(HKEY root, const wchar_t* classKey)
{
    LSTATUS removed = RegDeleteTreeW(root, classKey);
    return removed == ERROR_SUCCESS || removed == ERROR_FILE_NOT_FOUND ? S_OK : SELFREG_E_CLASS;
}
