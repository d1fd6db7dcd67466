#pragma once
// The length of a frame at a rate, as the capture source gives it.

#include <stdint.h>

#include "video_formats.h"

// 100-ns units per frame at the rate; a rate outside 1..240 counts as 30.
int64_t FrameDuration(float fps);
