// A stand-in mfsensorgroup.dll for the registrar's tests: exports the two
// virtual camera entry points and records every call, with its arguments, as
// one line of mfsensorgroup.log beside the library. The camera it hands out
// keeps its attributes in a real attribute store.
//
// mfsensorgroup.txt beside the library, when present, names one call that
// fails with E_ACCESSDENIED (a caller without administrator rights):
// "create", "start" or "remove".
#include <windows.h>
#include <mfapi.h>
#include <stdio.h>
#include <string.h>

#include "com_object.h"
#include "mf_declarations.h"

namespace {

HMODULE module;

void PathBeside(const wchar_t* name, wchar_t* out)
{
    DWORD n = GetModuleFileNameW(module, out, MAX_PATH);
    wchar_t* slash = wcsrchr(out, L'\\');
    if (n == 0 || slash == nullptr)
        out[0] = 0;
    else
        wcscpy(slash + 1, name);
}

void Record(const char* format, ...)
{
    wchar_t path[MAX_PATH + 32];
    PathBeside(L"mfsensorgroup.log", path);
    FILE* f = _wfopen(path, L"a");
    if (f == nullptr)
        return;
    va_list args;
    va_start(args, format);
    vfprintf(f, format, args);
    va_end(args);
    fputc('\n', f);
    fclose(f);
}

bool Fails(const char* call)
{
    wchar_t path[MAX_PATH + 32];
    PathBeside(L"mfsensorgroup.txt", path);
    FILE* f = _wfopen(path, L"r");
    char line[64] = "";
    if (f == nullptr)
        return false;
    if (fgets(line, sizeof line, f) == nullptr)
        line[0] = 0;
    fclose(f);
    line[strcspn(line, "\r\n")] = 0;
    return strcmp(line, call) == 0;
}

// Every IMFAttributes call goes to the store.
#define FORWARD(name, params, args) \
    STDMETHODIMP name params override { return store->name args; }

class CCameraDouble : public IOvxVirtualCamera {
public:
    static const InterfaceEntry Interfaces[];
    explicit CCameraDouble(IMFAttributes* s) : store(s) {}
    virtual ~CCameraDouble() { Record("Release"); }

    FORWARD(GetItem, (REFGUID k, PROPVARIANT* v), (k, v))
    FORWARD(GetItemType, (REFGUID k, MF_ATTRIBUTE_TYPE* t), (k, t))
    FORWARD(CompareItem, (REFGUID k, REFPROPVARIANT v, BOOL* r), (k, v, r))
    FORWARD(Compare, (IMFAttributes* a, MF_ATTRIBUTES_MATCH_TYPE m, BOOL* r), (a, m, r))
    FORWARD(GetUINT32, (REFGUID k, UINT32* v), (k, v))
    FORWARD(GetUINT64, (REFGUID k, UINT64* v), (k, v))
    FORWARD(GetDouble, (REFGUID k, double* v), (k, v))
    FORWARD(GetGUID, (REFGUID k, GUID* v), (k, v))
    FORWARD(GetStringLength, (REFGUID k, UINT32* n), (k, n))
    FORWARD(GetString, (REFGUID k, LPWSTR s, UINT32 n, UINT32* l), (k, s, n, l))
    FORWARD(GetAllocatedString, (REFGUID k, LPWSTR* s, UINT32* l), (k, s, l))
    FORWARD(GetBlobSize, (REFGUID k, UINT32* n), (k, n))
    FORWARD(GetBlob, (REFGUID k, UINT8* b, UINT32 n, UINT32* l), (k, b, n, l))
    FORWARD(GetAllocatedBlob, (REFGUID k, UINT8** b, UINT32* n), (k, b, n))
    FORWARD(GetUnknown, (REFGUID k, REFIID i, LPVOID* p), (k, i, p))
    FORWARD(SetItem, (REFGUID k, REFPROPVARIANT v), (k, v))
    FORWARD(DeleteItem, (REFGUID k), (k))
    FORWARD(DeleteAllItems, (), ())
    FORWARD(SetUINT32, (REFGUID k, UINT32 v), (k, v))
    FORWARD(SetUINT64, (REFGUID k, UINT64 v), (k, v))
    FORWARD(SetDouble, (REFGUID k, double v), (k, v))
    FORWARD(SetGUID, (REFGUID k, REFGUID v), (k, v))
    FORWARD(SetString, (REFGUID k, LPCWSTR v), (k, v))
    FORWARD(SetBlob, (REFGUID k, const UINT8* b, UINT32 n), (k, b, n))
    FORWARD(SetUnknown, (REFGUID k, IUnknown* u), (k, u))
    FORWARD(LockStore, (), ())
    FORWARD(UnlockStore, (), ())
    FORWARD(GetCount, (UINT32* n), (n))
    FORWARD(GetItemByIndex, (UINT32 i, GUID* k, PROPVARIANT* v), (i, k, v))
    FORWARD(CopyAllItems, (IMFAttributes* d), (d))

    STDMETHODIMP AddDeviceSourceInfo(LPCWSTR info) override
    {
        Record("AddDeviceSourceInfo %ls", info ? info : L"(null)");
        return S_OK;
    }
    STDMETHODIMP AddProperty(const void*, ULONG type, const BYTE*, ULONG size) override
    {
        Record("AddProperty type=%lu size=%lu", type, size);
        return S_OK;
    }
    STDMETHODIMP AddRegistryEntry(LPCWSTR name, LPCWSTR, DWORD, const BYTE*, ULONG) override
    {
        Record("AddRegistryEntry %ls", name ? name : L"(null)");
        return S_OK;
    }
    STDMETHODIMP Start(IMFAsyncCallback* callback) override
    {
        Record("Start callback=%s", callback ? "set" : "null");
        return Fails("start") ? E_ACCESSDENIED : S_OK;
    }
    STDMETHODIMP Stop() override
    {
        Record("Stop");
        return S_OK;
    }
    STDMETHODIMP Remove() override
    {
        Record("Remove");
        return Fails("remove") ? E_ACCESSDENIED : S_OK;
    }
    STDMETHODIMP GetMediaSource(IMFMediaSource** source) override
    {
        Record("GetMediaSource");
        *source = nullptr;
        return E_NOTIMPL;
    }
    STDMETHODIMP SendCameraProperty(REFGUID, ULONG id, ULONG, void*, ULONG, void*, ULONG,
                                    ULONG* written) override
    {
        Record("SendCameraProperty %lu", id);
        *written = 0;
        return E_NOTIMPL;
    }
    STDMETHODIMP CreateSyncEvent(REFGUID, ULONG, ULONG, HANDLE, IMFCameraSyncObject** o) override
    {
        *o = nullptr;
        return E_NOTIMPL;
    }
    STDMETHODIMP CreateSyncSemaphore(REFGUID, ULONG, ULONG, HANDLE, LONG,
                                     IMFCameraSyncObject** o) override
    {
        *o = nullptr;
        return E_NOTIMPL;
    }
    STDMETHODIMP Shutdown() override
    {
        Record("Shutdown");
        return S_OK;
    }

private:
    ComPtr<IMFAttributes> store;
};

const InterfaceEntry CCameraDouble::Interfaces[] = {
    { &__uuidof(IOvxVirtualCamera), InterfaceOf<CCameraDouble, IOvxVirtualCamera> },
    { &__uuidof(IMFAttributes), InterfaceOf<CCameraDouble, IMFAttributes> },
    { nullptr, nullptr },
};

}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID)
{
    if (reason == DLL_PROCESS_ATTACH)
        module = instance;
    return TRUE;
}

extern "C" HRESULT WINAPI MFCreateVirtualCamera(int type, int lifetime, int access,
                                                LPCWSTR name, LPCWSTR source,
                                                const GUID* categories, ULONG categoryCount,
                                                IOvxVirtualCamera** camera)
{
    Record("MFCreateVirtualCamera type=%d lifetime=%d access=%d name=%ls source=%ls "
           "categories=%s count=%lu",
           type, lifetime, access, name ? name : L"(null)", source ? source : L"(null)",
           categories ? "set" : "null", categoryCount);
    if (camera == nullptr)
        return E_POINTER;
    *camera = nullptr;
    if (Fails("create"))
        return E_ACCESSDENIED;
    ComPtr<IMFAttributes> store;
    HRESULT hr = MFCreateAttributes(&store, 4);
    if (FAILED(hr))
        return hr;
    *camera = NewComObject<CCameraDouble>(store.Get());
    return *camera ? S_OK : E_OUTOFMEMORY;
}

extern "C" HRESULT WINAPI MFIsVirtualCameraTypeSupported(int type, BOOL* supported)
{
    Record("MFIsVirtualCameraTypeSupported type=%d", type);
    *supported = type == OVX_VCAM_TYPE_SOFTWARE_CAMERA_SOURCE;
    return S_OK;
}
