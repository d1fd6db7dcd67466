#pragma once
// The source's caps: image/jpeg with width, height and framerate, one
// structure per usable entry of the block's format table, in table order.

#include <gst/gst.h>
#include <stdint.h>

#include "block_view.h"
#include "picture_size.h"
#include "video_formats.h"

// One fixed structure per format, in order.
GstCaps* CapsForFormats(const VideoFormat* formats, uint32_t count);

// The offer's formats, in order; until they are a phone's table in a
// running service (the offer is not final), then any size, so that a
// pipeline fixed to some size still starts and shows the placeholder at
// that size.
GstCaps* CapsForOffer(const FormatOffer& offer);

// Adds a structure for size at rate fpsN/fpsD after the others unless one of
// them already has that size, so that renegotiating can keep the size that is
// flowing even when a new table no longer lists it.
void AppendSizeIfMissing(GstCaps* caps, PictureSize size, int fpsN, int fpsD);

// Caps narrowed to the first structure that allows size, then fixated; null
// when none allows it. Takes caps.
GstCaps* FixateToSize(GstCaps* caps, PictureSize size);

// Size and rate of fixed caps.
bool ReadCapsFormat(const GstCaps* caps, PictureSize& size, int& fpsN, int& fpsD);

// A format's rate as a fraction.
void FormatRate(const VideoFormat& format, int& fpsN, int& fpsD);

// Caps of one fixed format.
GstCaps* CapsForSize(PictureSize size, int fpsN, int fpsD);
