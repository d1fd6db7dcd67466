#include "named_objects.h"

#include <stdio.h>
#include <windows.h>

const char* const SHARED_MEMORY_NAME = "OvalixSvcMemory";
const char* const SHARED_MUTEX_NAME = "OvalixSvcMutex";
const char* const READY_EVENT_NAME = "OvalixReadyEvent";

namespace {

// Objects live in the global namespace so that consumers in every session
// find them.
bool GlobalName(const char* name, char (&out)[MAX_PATH])
{
    int n = _snprintf(out, sizeof(out), "Global\\%s", name);
    return n > 0 && n < (int)sizeof(out);
}

// A null DACL lets every user and session open the objects; the handles are
// not inheritable.
struct OpenToEveryone {
    SECURITY_DESCRIPTOR descriptor;
    SECURITY_ATTRIBUTES attributes;
    OpenToEveryone()
    {
        InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION);
        SetSecurityDescriptorDacl(&descriptor, TRUE, NULL, FALSE);
        attributes.nLength = sizeof(attributes);
        attributes.lpSecurityDescriptor = &descriptor;
        attributes.bInheritHandle = FALSE;
    }
};

HANDLE AsHandle(intptr_t h)
{
    return (HANDLE)h;
}

NamedWaitResult WaitOn(intptr_t handle, uint32_t timeoutMs)
{
    if (handle == 0)
        return NAMED_WAIT_FAILED;
    DWORD result = WaitForSingleObject(AsHandle(handle), timeoutMs);
    if (result == WAIT_OBJECT_0 || result == WAIT_ABANDONED)
        return NAMED_WAIT_ACQUIRED;
    if (result == WAIT_TIMEOUT)
        return NAMED_WAIT_TIMEOUT;
    return NAMED_WAIT_FAILED;
}

}  // namespace

// ---- mapping ----

CNamedMapping::CNamedMapping() : view(NULL), size(0), handle(0), platform() {}

CNamedMapping::~CNamedMapping()
{
    Close();
}

bool CNamedMapping::Create(const char* name, uint32_t bytes)
{
    Close();
    char full[MAX_PATH];
    if (!GlobalName(name, full))
        return false;
    OpenToEveryone security;
    HANDLE h = CreateFileMappingA(INVALID_HANDLE_VALUE, &security.attributes, PAGE_READWRITE, 0,
                                  bytes, full);
    if (h == NULL)
        return false;
    // Exactly the size asked for: a smaller mapping that someone else made
    // under this name fails here instead of being written past its end.
    void* mapped = MapViewOfFile(h, FILE_MAP_WRITE, 0, 0, bytes);
    if (mapped == NULL) {
        CloseHandle(h);
        return false;
    }
    handle = (intptr_t)h;
    view = mapped;
    size = bytes;
    return true;
}

bool CNamedMapping::Open(const char* name, uint32_t bytes)
{
    Close();
    char full[MAX_PATH];
    if (!GlobalName(name, full))
        return false;
    HANDLE h = OpenFileMappingA(FILE_MAP_READ | FILE_MAP_WRITE, FALSE, full);
    if (h == NULL)
        return false;
    void* mapped = MapViewOfFile(h, FILE_MAP_READ | FILE_MAP_WRITE, 0, 0, bytes);
    if (mapped == NULL) {
        CloseHandle(h);
        return false;
    }
    handle = (intptr_t)h;
    view = mapped;
    size = bytes;
    return true;
}

void CNamedMapping::Close()
{
    if (view != NULL) {
        UnmapViewOfFile(view);
        view = NULL;
    }
    if (handle != 0) {
        CloseHandle(AsHandle(handle));
        handle = 0;
    }
    size = 0;
}

// ---- mutex and event ----

CNamedSyncObject::CNamedSyncObject(Kind k) : kind(k), handle(0), platform() {}

CNamedSyncObject::~CNamedSyncObject()
{
    Close();
}

bool CNamedSyncObject::CreateNamed(const char* name)
{
    Close();
    char full[MAX_PATH];
    if (!GlobalName(name, full))
        return false;
    OpenToEveryone security;
    // An event is manual-reset and starts not signalled.
    HANDLE h = kind == SYNC_MUTEX ? CreateMutexA(&security.attributes, FALSE, full)
                                  : CreateEventA(&security.attributes, TRUE, FALSE, full);
    handle = (intptr_t)h;
    return h != NULL;
}

bool CNamedSyncObject::OpenNamed(const char* name)
{
    Close();
    char full[MAX_PATH];
    if (!GlobalName(name, full))
        return false;
    HANDLE h = kind == SYNC_MUTEX ? OpenMutexA(SYNCHRONIZE | MUTEX_MODIFY_STATE, FALSE, full)
                                  : OpenEventA(SYNCHRONIZE | EVENT_MODIFY_STATE, FALSE, full);
    handle = (intptr_t)h;
    return h != NULL;
}

void CNamedSyncObject::Close()
{
    if (handle != 0) {
        CloseHandle(AsHandle(handle));
        handle = 0;
    }
}

NamedWaitResult CNamedMutex::Lock(uint32_t timeoutMs)
{
    return WaitOn(handle, timeoutMs);
}

void CNamedMutex::Unlock()
{
    if (handle != 0)
        ReleaseMutex(AsHandle(handle));
}

void CNamedEvent::Set()
{
    if (handle != 0)
        SetEvent(AsHandle(handle));
}

void CNamedEvent::Reset()
{
    if (handle != 0)
        ResetEvent(AsHandle(handle));
}

NamedWaitResult CNamedEvent::Wait(uint32_t timeoutMs)
{
    return WaitOn(handle, timeoutMs);
}

NamedWaitResult CNamedEvent::Wait(uint32_t timeoutMs, CWakeSignal& wake)
{
    if (handle == 0)
        return NAMED_WAIT_FAILED;
    // The event first: a frame and a wake-up at once give the frame.
    HANDLE both[2] = {AsHandle(handle), AsHandle(wake.handle)};
    DWORD result = WaitForMultipleObjects(2, both, FALSE, timeoutMs);
    if (result == WAIT_OBJECT_0 || result == WAIT_ABANDONED_0)
        return wake.Woken() ? NAMED_WAIT_WOKEN : NAMED_WAIT_ACQUIRED;
    if (result == WAIT_OBJECT_0 + 1)
        return NAMED_WAIT_WOKEN;
    if (result == WAIT_TIMEOUT)
        return NAMED_WAIT_TIMEOUT;
    return NAMED_WAIT_FAILED;
}

// While a handle is open the object and its name exist, and a service started
// again opens this same object instead of making a new one.
bool CNamedMapping::NameReplaced() const
{
    return false;
}
bool CNamedSyncObject::NameReplaced() const
{
    return false;
}
bool CNamedMapping::NameLeadsHere() const
{
    return true;
}
bool CNamedSyncObject::NameLeadsHere() const
{
    return true;
}

// A section cannot be made smaller while it is mapped.
bool CNamedMapping::Shrunk() const
{
    return false;
}
bool CNamedSyncObject::Shrunk() const
{
    return false;
}

void* CNamedMapping::MappedRegion(size_t& length) const
{
    length = view != NULL ? size : 0;
    return view;
}

// A kernel mutex or event maps nothing into the process.
void* CNamedSyncObject::MappedRegion(size_t& length) const
{
    length = 0;
    return NULL;
}

// Another creator opens the same object instead of being refused.
bool CNamedMapping::InUseByAnotherCreator() const
{
    return false;
}
