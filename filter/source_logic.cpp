#include "source_logic.h"

int64_t FrameDuration(float fps)
{
    if (!(fps >= 1.0f && fps <= 240.0f))
        fps = DEFAULT_VIDEO_FORMAT.fps;
    return (int64_t)(10000000.0 / (double)fps + 0.5);
}
