#pragma once
// The formats the camera's node offers, as PipeWire format objects, and the
// one a consumer chose. Each offer is one fixed format: one pixel format, one
// size, one rate, since some consumers read only a fixed pixel format from
// each offer and skip a node that gives them choices. The offers come in the
// order a consumer should prefer them: I420 at every size of the block's
// table, then YUY2, then BGR. YUV formats say their colours (BT.601 matrix,
// video range), as the picture library writes them; they are offered at even
// sizes only.

#include <stdint.h>

#include <spa/pod/builder.h>

#include "picture_convert.h"
#include "video_formats.h"

const uint32_t CAMERA_LAYOUT_COUNT = 3;
const PictureLayout CAMERA_LAYOUTS[CAMERA_LAYOUT_COUNT] = {PICTURE_I420, PICTURE_YUY2,
                                                           PICTURE_RGB24};
const uint32_t CAMERA_MAX_OFFERS = FORMAT_MAX_ENTRIES * CAMERA_LAYOUT_COUNT;

// Writes the offers for formats into b and points params at them; returns how
// many (those that fitted into the builder's buffer).
uint32_t BuildCameraOffers(const VideoFormat* formats, uint32_t count, spa_pod_builder& b,
                           const spa_pod* (&params)[CAMERA_MAX_OFFERS]);

// The chosen format as the picture library's target (padded rows, as raw
// video lies in a PipeWire buffer); false for a format the camera does not
// offer.
bool ParseChosenFormat(const spa_pod* format, PictureTarget& out);

const char* CameraLayoutName(PictureLayout layout);
