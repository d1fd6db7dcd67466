#pragma once
// The media types the Media Foundation camera offers and how a frame of each
// lies in a sample's buffer. NV12 comes first for every size (what the frame
// server and most applications take), then YUY2, then RGB32. The YUV types
// need an even width and height, so an odd size is offered as RGB32 only.

#include <stdint.h>

#include "picture_convert.h"
#include "video_formats.h"

enum CameraSubtype {
    CAMERA_NV12 = 0,   // Y plane, then one plane of interleaved U V at half size
    CAMERA_YUY2 = 1,   // packed Y0 U Y1 V
    CAMERA_RGB32 = 2,  // B G R X, bottom-up as RGB media types are by default
    CAMERA_SUBTYPE_COUNT = 3,
};

struct CameraType {
    CameraSubtype subtype;
    VideoFormat format;
};

// The largest picture offered; larger table entries are left out.
const uint32_t CAMERA_MAX_WIDTH = 1920;
const uint32_t CAMERA_MAX_HEIGHT = 1080;
const uint32_t CAMERA_MAX_TYPES = FORMAT_MAX_ENTRIES * CAMERA_SUBTYPE_COUNT;

// Every type for the formats, in offer order; returns the count (0 only when
// no format fits the limits).
uint32_t OfferedCameraTypes(const VideoFormat* formats, uint32_t count,
                            CameraType (&out)[CAMERA_MAX_TYPES]);

// Bytes per row of the (first) plane, and of a whole frame; 0 for a size the
// subtype cannot carry.
uint32_t CameraStride(CameraSubtype subtype, uint32_t width);
uint32_t CameraFrameSize(CameraSubtype subtype, uint32_t width, uint32_t height);
// What the converter makes of a type's frames: RGB rows bottom-up, as RGB
// media types are by default.
PictureTarget CameraPicture(const CameraType& type);
