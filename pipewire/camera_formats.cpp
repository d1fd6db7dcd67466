#include "camera_formats.h"

#include <string.h>

#include <spa/param/video/format-utils.h>

namespace {

const uint32_t SPA_FORMATS[CAMERA_LAYOUT_COUNT] = {SPA_VIDEO_FORMAT_I420, SPA_VIDEO_FORMAT_YUY2,
                                                   SPA_VIDEO_FORMAT_BGR};

bool IsYuv(PictureLayout layout)
{
    return layout != PICTURE_RGB24;
}

const spa_pod* BuildOffer(spa_pod_builder& b, uint32_t spaFormat, bool yuv, const VideoFormat& f)
{
    spa_rectangle size = SPA_RECTANGLE(f.width, f.height);
    uint32_t num = 0, den = 1;
    RateFraction(f.fps, num, den);
    spa_fraction rate = SPA_FRACTION(num, den);
    spa_pod_frame frame;
    spa_pod_builder_push_object(&b, &frame, SPA_TYPE_OBJECT_Format, SPA_PARAM_EnumFormat);
    spa_pod_builder_add(&b, SPA_FORMAT_mediaType, SPA_POD_Id(SPA_MEDIA_TYPE_video),
                        SPA_FORMAT_mediaSubtype, SPA_POD_Id(SPA_MEDIA_SUBTYPE_raw),
                        SPA_FORMAT_VIDEO_format, SPA_POD_Id(spaFormat), SPA_FORMAT_VIDEO_size,
                        SPA_POD_Rectangle(&size), SPA_FORMAT_VIDEO_framerate,
                        SPA_POD_Fraction(&rate), 0);
    if (yuv)
        spa_pod_builder_add(&b, SPA_FORMAT_VIDEO_colorMatrix,
                            SPA_POD_Id(SPA_VIDEO_COLOR_MATRIX_BT601), SPA_FORMAT_VIDEO_colorRange,
                            SPA_POD_Id(SPA_VIDEO_COLOR_RANGE_16_235), 0);
    else
        spa_pod_builder_add(&b, SPA_FORMAT_VIDEO_colorRange,
                            SPA_POD_Id(SPA_VIDEO_COLOR_RANGE_0_255), 0);
    return static_cast<const spa_pod*>(spa_pod_builder_pop(&b, &frame));
}

}  // namespace

uint32_t BuildCameraOffers(const VideoFormat* formats, uint32_t count, spa_pod_builder& b,
                           const spa_pod* (&params)[CAMERA_MAX_OFFERS])
{
    uint32_t n = 0;
    for (uint32_t l = 0; l < CAMERA_LAYOUT_COUNT; ++l)
        for (uint32_t i = 0; i < count && n < CAMERA_MAX_OFFERS; ++i) {
            const VideoFormat& f = formats[i];
            bool yuv = IsYuv(CAMERA_LAYOUTS[l]);
            if (f.width == 0 || f.height == 0 || (yuv && (f.width % 2 || f.height % 2)))
                continue;
            uint32_t mark = b.state.offset;
            const spa_pod* pod = BuildOffer(b, SPA_FORMATS[l], yuv, f);
            if (pod == nullptr || b.state.offset > b.size) {
                b.state.offset = mark;
                return n;  // the buffer is full: offer what fitted
            }
            params[n++] = pod;
        }
    return n;
}

bool ParseChosenFormat(const spa_pod* format, PictureTarget& out)
{
    uint32_t mediaType = 0, mediaSubtype = 0;
    spa_video_info_raw info;
    memset(&info, 0, sizeof info);
    if (format == nullptr || spa_format_parse(format, &mediaType, &mediaSubtype) < 0 ||
        mediaType != SPA_MEDIA_TYPE_video || mediaSubtype != SPA_MEDIA_SUBTYPE_raw ||
        spa_format_video_raw_parse(format, &info) < 0)
        return false;
    uint32_t w = info.size.width, h = info.size.height;
    for (uint32_t l = 0; l < CAMERA_LAYOUT_COUNT; ++l) {
        PictureLayout layout = CAMERA_LAYOUTS[l];
        if (SPA_FORMATS[l] != info.format || w == 0 || h == 0 || w > 8192 || h > 8192 ||
            (IsYuv(layout) && (w % 2 || h % 2)))
            continue;
        PictureTarget t = {layout, w, h, w, h, false, true};
        out = t;
        return true;
    }
    return false;
}

const char* CameraLayoutName(PictureLayout layout)
{
    switch (layout) {
    case PICTURE_I420:
        return "I420";
    case PICTURE_YUY2:
        return "YUY2";
    case PICTURE_RGB24:
        return "BGR";
    default:
        return "?";
    }
}
