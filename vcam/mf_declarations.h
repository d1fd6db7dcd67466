#pragma once
// Media Foundation declarations that mingw-w64's headers lack: the tracked
// sample's maker, the stream state interface and the device stream
// attributes the camera frame server reads, and the Windows 11 virtual
// camera API of mfsensorgroup.dll. Values and interface layouts are the
// system's own and must not change.

#include <windows.h>
#include <evr.h>
#include <mfidl.h>

// mfplat.dll makes samples that call their owner back when released; evr.h
// declares the interface but not the function.
extern "C" HRESULT WINAPI MFCreateTrackedSample(IMFTrackedSample** sample);

// Device stream attributes (stream descriptor and IMFMediaSourceEx).
const GUID OVX_MF_DEVICESTREAM_STREAM_CATEGORY = {
    0x2939e7b8, 0xa62e, 0x4579, {0xb6, 0x74, 0xd4, 0x07, 0x3d, 0xfa, 0xbb, 0xba}
};
const GUID OVX_MF_DEVICESTREAM_STREAM_ID = {
    0x11bd5120, 0xd124, 0x446b, {0x88, 0xe6, 0x17, 0x06, 0x02, 0x57, 0xff, 0xf9}
};
const GUID OVX_MF_DEVICESTREAM_FRAMESERVER_SHARED = {
    0x1cb378e9, 0xb279, 0x41d4, {0xaf, 0x97, 0x34, 0xa2, 0x43, 0xe6, 0x83, 0x20}
};
const GUID OVX_MF_DEVICESTREAM_ATTRIBUTE_FRAMESOURCE_TYPES = {
    0x17145fd1, 0x1b2b, 0x423c, {0x80, 0x01, 0x2b, 0x68, 0x33, 0xed, 0x35, 0x88}
};
const UINT32 OVX_MFFrameSourceTypes_Color = 0x0001;
// The pin category of a video capture stream (ksmedia.h's PINNAME_VIDEO_CAPTURE).
const GUID OVX_PINNAME_VIDEO_CAPTURE = {
    0xfb6c4281, 0x0353, 0x11d1, {0x90, 0x5f, 0x00, 0x00, 0xc0, 0xcc, 0x16, 0xba}
};

#ifndef __IMFMediaStream2_INTERFACE_DEFINED__
#define __IMFMediaStream2_INTERFACE_DEFINED__
// MF_STREAM_STATE is in mfobjects.h.
MIDL_INTERFACE("c5bc37d6-75c7-46a1-a132-81b5f723c20f")
IMFMediaStream2 : public IMFMediaStream
{
    virtual HRESULT STDMETHODCALLTYPE SetStreamState(MF_STREAM_STATE value) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetStreamState(MF_STREAM_STATE * value) = 0;
};
__CRT_UUID_DECL(IMFMediaStream2, 0xc5bc37d6, 0x75c7, 0x46a1, 0xa1, 0x32, 0x81, 0xb5, 0xf7, 0x23,
                0xc2, 0x0f)
#endif

// mfvirtualcamera.h (Windows build 22000 and later).
enum OvxVirtualCameraType { OVX_VCAM_TYPE_SOFTWARE_CAMERA_SOURCE = 0 };
enum OvxVirtualCameraLifetime { OVX_VCAM_LIFETIME_SESSION = 0, OVX_VCAM_LIFETIME_SYSTEM = 1 };
enum OvxVirtualCameraAccess { OVX_VCAM_ACCESS_CURRENT_USER = 0, OVX_VCAM_ACCESS_ALL_USERS = 1 };

struct IMFCameraSyncObject;

// IMFVirtualCamera: IMFAttributes, then these, in this order.
MIDL_INTERFACE("1c08a864-ef6c-4c75-af59-5f2d68da9563")
IOvxVirtualCamera : public IMFAttributes
{
    virtual HRESULT STDMETHODCALLTYPE AddDeviceSourceInfo(LPCWSTR deviceSourceInfo) = 0;
    virtual HRESULT STDMETHODCALLTYPE AddProperty(const void* key, ULONG type, const BYTE* data,
                                                  ULONG size) = 0;
    virtual HRESULT STDMETHODCALLTYPE AddRegistryEntry(
        LPCWSTR entryName, LPCWSTR subkeyPath, DWORD regType, const BYTE* data, ULONG size) = 0;
    virtual HRESULT STDMETHODCALLTYPE Start(IMFAsyncCallback * callback) = 0;
    virtual HRESULT STDMETHODCALLTYPE Stop() = 0;
    virtual HRESULT STDMETHODCALLTYPE Remove() = 0;
    virtual HRESULT STDMETHODCALLTYPE GetMediaSource(IMFMediaSource * *source) = 0;
    virtual HRESULT STDMETHODCALLTYPE SendCameraProperty(
        REFGUID propertySet, ULONG propertyId, ULONG propertyFlags, void* payload,
        ULONG payloadLength, void* data, ULONG dataLength, ULONG* written) = 0;
    virtual HRESULT STDMETHODCALLTYPE CreateSyncEvent(REFGUID eventSet, ULONG eventId,
                                                      ULONG eventFlags, HANDLE event,
                                                      IMFCameraSyncObject * *object) = 0;
    virtual HRESULT STDMETHODCALLTYPE CreateSyncSemaphore(
        REFGUID eventSet, ULONG eventId, ULONG eventFlags, HANDLE semaphore, LONG adjustment,
        IMFCameraSyncObject * *object) = 0;
    virtual HRESULT STDMETHODCALLTYPE Shutdown() = 0;
};
__CRT_UUID_DECL(IOvxVirtualCamera, 0x1c08a864, 0xef6c, 0x4c75, 0xaf, 0x59, 0x5f, 0x2d, 0x68, 0xda,
                0x95, 0x63)

// The two entry points of mfsensorgroup.dll the registrar uses.
typedef HRESULT(WINAPI* MFCreateVirtualCameraFn)(int type, int lifetime, int access,
                                                 LPCWSTR friendlyName, LPCWSTR sourceId,
                                                 const GUID* categories, ULONG categoryCount,
                                                 IOvxVirtualCamera** camera);
typedef HRESULT(WINAPI* MFIsVirtualCameraTypeSupportedFn)(int type, BOOL* supported);
