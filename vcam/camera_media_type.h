#pragma once
// Media Foundation media types for the camera's types, and back.

#include <windows.h>
#include <mfapi.h>
#include <mfidl.h>

#include "camera_types.h"

HRESULT CreateCameraMediaType(const CameraType& type, IMFMediaType** out);
// False for a type this camera does not produce.
bool ReadCameraMediaType(IMFMediaType* mediaType, CameraType& out);
