#include "source_caps.h"

#include <stdint.h>

namespace {

// A table's rate is a single-precision float: 29.97 arrives as 29.9699993.
// Rounded to a thousandth first, it gives the fraction that was meant.
void RateFraction(float fps, int& n, int& d)
{
    gst_util_double_to_fraction((double)(int64_t)((double)fps * 1000.0 + 0.5) / 1000.0, &n, &d);
    if (n <= 0 || d <= 0) {
        n = 30;
        d = 1;
    }
}

}  // namespace

void FormatRate(const VideoFormat& format, int& fpsN, int& fpsD)
{
    RateFraction(format.fps, fpsN, fpsD);
}

GstCaps* CapsForSize(PictureSize size, int fpsN, int fpsD)
{
    return gst_caps_new_simple("image/jpeg", "width", G_TYPE_INT, (int)size.width, "height",
                               G_TYPE_INT, (int)size.height, "framerate", GST_TYPE_FRACTION, fpsN,
                               fpsD, nullptr);
}

GstCaps* CapsForFormats(const VideoFormat* formats, uint32_t count)
{
    GstCaps* caps = gst_caps_new_empty();
    for (uint32_t i = 0; i < count; ++i) {
        int n, d;
        RateFraction(formats[i].fps, n, d);
        // Appended, not merged: two entries of one size with different rates
        // stay two structures, as in the table.
        gst_caps_append(caps, CapsForSize({formats[i].width, formats[i].height}, n, d));
    }
    return caps;
}

GstCaps* CapsForOffer(const FormatOffer& offer)
{
    GstCaps* caps = CapsForFormats(offer.formats, offer.count);
    if (offer.final)
        return caps;
    gst_caps_append(caps, gst_caps_new_simple("image/jpeg", "width", GST_TYPE_INT_RANGE, 1,
                                              (int)PICTURE_SIDE_LIMIT, "height", GST_TYPE_INT_RANGE,
                                              1, (int)PICTURE_SIDE_LIMIT, "framerate",
                                              GST_TYPE_FRACTION_RANGE, 1, 1, 240, 1, nullptr));
    return caps;
}

void AppendSizeIfMissing(GstCaps* caps, PictureSize size, int fpsN, int fpsD)
{
    if (size.width == 0 || size.height == 0)
        return;
    for (guint i = 0; i < gst_caps_get_size(caps); ++i) {
        const GstStructure* s = gst_caps_get_structure(caps, i);
        int w = 0, h = 0;
        if (gst_structure_get_int(s, "width", &w) && gst_structure_get_int(s, "height", &h) &&
            (uint32_t)w == size.width && (uint32_t)h == size.height)
            return;
    }
    gst_caps_append(caps, CapsForSize(size, fpsN, fpsD));
}

GstCaps* FixateToSize(GstCaps* caps, PictureSize size)
{
    GstCaps* want = gst_caps_new_simple("image/jpeg", "width", G_TYPE_INT, (int)size.width,
                                        "height", G_TYPE_INT, (int)size.height, nullptr);
    // Keeps the order of caps, so the first structure of that size wins.
    GstCaps* both = gst_caps_intersect_full(caps, want, GST_CAPS_INTERSECT_FIRST);
    gst_caps_unref(want);
    gst_caps_unref(caps);
    if (gst_caps_is_empty(both)) {
        gst_caps_unref(both);
        return nullptr;
    }
    both = gst_caps_truncate(both);
    both = gst_caps_make_writable(both);
    gst_structure_fixate_field_nearest_fraction(gst_caps_get_structure(both, 0), "framerate", 30,
                                                1);
    return gst_caps_fixate(both);
}

bool ReadCapsFormat(const GstCaps* caps, PictureSize& size, int& fpsN, int& fpsD)
{
    if (caps == nullptr || gst_caps_get_size(caps) == 0)
        return false;
    const GstStructure* s = gst_caps_get_structure(caps, 0);
    int w = 0, h = 0;
    if (!gst_structure_get_int(s, "width", &w) || !gst_structure_get_int(s, "height", &h) ||
        w <= 0 || h <= 0)
        return false;
    if (!gst_structure_get_fraction(s, "framerate", &fpsN, &fpsD) || fpsN <= 0 || fpsD <= 0) {
        fpsN = 30;
        fpsD = 1;
    }
    size = {(uint32_t)w, (uint32_t)h};
    return true;
}
