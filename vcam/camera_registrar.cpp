#include "camera_registrar.h"

#include <windows.h>
#include <mfapi.h>
#include <mfidl.h>

#include "camera_ids.h"
#include "com_object.h"
#include "mf_declarations.h"

namespace {

const wchar_t SENSOR_GROUP_DLL[] = L"mfsensorgroup.dll";
const wchar_t SOURCE_SERVER_KEY[] =
    L"Software\\Classes\\CLSID\\{4D34993D-67BD-4538-9C88-5F514A70AB14}\\InprocServer32";

// mfsensorgroup.dll from the system folder only, never from beside the
// program or the current folder.
class CSensorGroup {
public:
    CSensorGroup()
        : module(LoadLibraryExW(SENSOR_GROUP_DLL, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32)),
          create(nullptr), supported(nullptr)
    {
        if (module != nullptr) {
            create = reinterpret_cast<MFCreateVirtualCameraFn>(
                reinterpret_cast<void*>(GetProcAddress(module, "MFCreateVirtualCamera")));
            supported = reinterpret_cast<MFIsVirtualCameraTypeSupportedFn>(
                reinterpret_cast<void*>(GetProcAddress(module, "MFIsVirtualCameraTypeSupported")));
        }
    }
    ~CSensorGroup()
    {
        if (module != nullptr)
            FreeLibrary(module);
    }
    bool Loaded() const { return module != nullptr; }

    HMODULE module;
    MFCreateVirtualCameraFn create;
    MFIsVirtualCameraTypeSupportedFn supported;

private:
    CSensorGroup(const CSensorGroup&);
    CSensorGroup& operator=(const CSensorGroup&);
};

// COM (multithreaded) and Media Foundation for the length of one command.
class CPlatform {
public:
    CPlatform()
        : com(CoInitializeEx(nullptr, COINIT_MULTITHREADED)),
          mf(MFStartup(MF_VERSION, MFSTARTUP_LITE))
    {
    }
    ~CPlatform()
    {
        if (SUCCEEDED(mf))
            MFShutdown();
        if (SUCCEEDED(com))
            CoUninitialize();
    }

private:
    HRESULT com;
    HRESULT mf;
};

bool ReportMissingApi(const CSensorGroup& group, FILE* out)
{
    if (!group.Loaded()) {
        fprintf(out, "This Windows has no virtual camera support (no mfsensorgroup.dll): "
                     "it needs Windows 11, build 22000 or later. Applications reach the "
                     "phone through the DirectShow filter instead.\n");
        return true;
    }
    if (group.create == nullptr) {
        fprintf(out, "mfsensorgroup.dll has no MFCreateVirtualCamera: this Windows cannot "
                     "register virtual cameras (it needs build 22000 or later).\n");
        return true;
    }
    return false;
}

// The source's in-process server in one registry view, or false.
bool ReadSourceServer(REGSAM view, wchar_t* path, DWORD capacity)
{
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, SOURCE_SERVER_KEY, 0, KEY_READ | view, &key) !=
        ERROR_SUCCESS)
        return false;
    DWORD type = 0, bytes = capacity * sizeof(wchar_t);
    LSTATUS read = RegQueryValueExW(key, nullptr, nullptr, &type, reinterpret_cast<BYTE*>(path),
                                    &bytes);
    RegCloseKey(key);
    if (read != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ))
        return false;
    path[capacity - 1] = 0;
    if (bytes / sizeof(wchar_t) < capacity)
        path[bytes / sizeof(wchar_t)] = 0;
    return true;
}

void PrintFailure(FILE* out, const char* what, HRESULT hr)
{
    fprintf(out, "%s failed: 0x%08lX%s\n", what, (unsigned long)hr,
            hr == E_ACCESSDENIED ? " (run it as administrator)" : "");
}

// Creates the camera's system-wide registration object, has act do its part
// with it and shuts it down; a failed step is reported (act's as what).
template <class Act>
bool WithCamera(const CSensorGroup& group, FILE* out, const char* what, Act act)
{
    ComPtr<IOvxVirtualCamera> camera;
    HRESULT hr = group.create(OVX_VCAM_TYPE_SOFTWARE_CAMERA_SOURCE, OVX_VCAM_LIFETIME_SYSTEM,
                              OVX_VCAM_ACCESS_ALL_USERS, CAMERA_FRIENDLY_NAME,
                              MEDIA_SOURCE_CLSID_TEXT, nullptr, 0, &camera);
    if (FAILED(hr)) {
        PrintFailure(out, "MFCreateVirtualCamera", hr);
        return false;
    }
    hr = act(camera.Get());
    camera->Shutdown();
    if (FAILED(hr))
        PrintFailure(out, what, hr);
    return SUCCEEDED(hr);
}

// The build number as the kernel reports it (GetVersionEx answers what the
// program's manifest allows).
DWORD WindowsBuild(DWORD& major, DWORD& minor)
{
    typedef LONG(WINAPI * RtlGetVersionFn)(OSVERSIONINFOW*);
    OSVERSIONINFOW info = {};
    info.dwOSVersionInfoSize = sizeof info;
    HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    RtlGetVersionFn get = ntdll ? reinterpret_cast<RtlGetVersionFn>(reinterpret_cast<void*>(
                                      GetProcAddress(ntdll, "RtlGetVersion")))
                                : nullptr;
    if (get == nullptr || get(&info) != 0)
        return 0;
    major = info.dwMajorVersion;
    minor = info.dwMinorVersion;
    return info.dwBuildNumber;
}

void PrintDevices(FILE* out)
{
    ComPtr<IMFAttributes> query;
    IMFActivate** devices = nullptr;
    UINT32 count = 0;
    HRESULT hr = MFCreateAttributes(&query, 1);
    if (SUCCEEDED(hr))
        hr = query->SetGUID(MF_DEVSOURCE_ATTRIBUTE_SOURCE_TYPE,
                            MF_DEVSOURCE_ATTRIBUTE_SOURCE_TYPE_VIDCAP_GUID);
    if (SUCCEEDED(hr))
        hr = MFEnumDeviceSources(query.Get(), &devices, &count);
    if (FAILED(hr)) {
        fprintf(out, "video capture devices: the system did not list them (0x%08lX)\n",
                (unsigned long)hr);
        return;
    }
    fprintf(out, "video capture devices: %u\n", count);
    for (UINT32 i = 0; i < count; ++i) {
        wchar_t* name = nullptr;
        UINT32 length = 0;
        if (SUCCEEDED(devices[i]->GetAllocatedString(MF_DEVSOURCE_ATTRIBUTE_FRIENDLY_NAME, &name,
                                                     &length))) {
            fprintf(out, "  %ls%s\n", name,
                    wcsstr(name, CAMERA_FRIENDLY_NAME) != nullptr ? "   <- this camera" : "");
            CoTaskMemFree(name);
        }
        devices[i]->Release();
    }
    CoTaskMemFree(devices);
}

}  // namespace

RegistrarResult RegisterCamera(FILE* out)
{
    CPlatform platform;
    CSensorGroup group;
    if (ReportMissingApi(group, out))
        return REGISTRAR_NO_API;
    wchar_t path[MAX_PATH];
    // The frame server runs in the system's own bitness: its view is the one.
    if (!ReadSourceServer(KEY_WOW64_64KEY, path, MAX_PATH)) {
        fprintf(out, "The media source is not registered for this Windows' bitness: run "
                     "its regsvr32 on its ovalix_vcam.dll first.\n");
        return REGISTRAR_FAILED;
    }
    if (!WithCamera(group, out, "Starting the virtual camera",
                    [](IOvxVirtualCamera* camera) { return camera->Start(nullptr); }))
        return REGISTRAR_FAILED;
    fprintf(out, "\"%ls\" is registered for all users (source %ls).\n", CAMERA_FRIENDLY_NAME,
            path);
    return REGISTRAR_OK;
}

RegistrarResult UnregisterCamera(FILE* out)
{
    CPlatform platform;
    CSensorGroup group;
    if (ReportMissingApi(group, out))
        return REGISTRAR_NO_API;
    if (!WithCamera(group, out, "Removing the virtual camera",
                    [](IOvxVirtualCamera* camera) { return camera->Remove(); }))
        return REGISTRAR_FAILED;
    fprintf(out, "\"%ls\" is removed.\n", CAMERA_FRIENDLY_NAME);
    return REGISTRAR_OK;
}

RegistrarResult PrintCameraStatus(FILE* out)
{
    CPlatform platform;
    DWORD major = 0, minor = 0;
    DWORD build = WindowsBuild(major, minor);
    fprintf(out, "windows: %lu.%lu build %lu\n", (unsigned long)major, (unsigned long)minor,
            (unsigned long)build);

    CSensorGroup group;
    const char* api = !group.Loaded()          ? "absent"
                      : group.create == nullptr ? "present, without MFCreateVirtualCamera"
                                                : "present";
    fprintf(out, "mfsensorgroup.dll: %s\n", api);
    if (group.supported != nullptr) {
        BOOL supported = FALSE;
        HRESULT hr = group.supported(OVX_VCAM_TYPE_SOFTWARE_CAMERA_SOURCE, &supported);
        fprintf(out, "software camera sources: %s (0x%08lX)\n",
                SUCCEEDED(hr) && supported ? "supported" : "not supported", (unsigned long)hr);
    }
    const REGSAM views[2] = { KEY_WOW64_64KEY, KEY_WOW64_32KEY };
    const char* names[2] = { "64-bit", "32-bit" };
    for (int i = 0; i < 2; ++i) {
        wchar_t path[MAX_PATH];
        if (ReadSourceServer(views[i], path, MAX_PATH))
            fprintf(out, "media source (%s): %ls\n", names[i], path);
        else
            fprintf(out, "media source (%s): not registered\n", names[i]);
    }
    PrintDevices(out);
    ReportMissingApi(group, out);
    return group.Loaded() && group.create != nullptr ? REGISTRAR_OK : REGISTRAR_NO_API;
}
