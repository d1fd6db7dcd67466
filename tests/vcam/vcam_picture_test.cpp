// The camera's media types without Media Foundation: which types the table
// gives, their frame sizes and rates.
#include <gtest/gtest.h>
#include <math.h>

#include "camera_types.h"

TEST(CameraTypes, NV12ForEverySizeFirstThenYUY2ThenRGB32OddAndHugeSizesLeftOut)
{
    const VideoFormat formats[4] = {
        {1280, 720,  30},
        {641,  480,  15},
        {320,  240,  10},
        {2560, 1440, 30}
    };
    CameraType types[CAMERA_MAX_TYPES];
    uint32_t n = OfferedCameraTypes(formats, 4, types);
    ASSERT_EQ(7u, n);
    const CameraSubtype want[7] = {CAMERA_NV12,  CAMERA_NV12,  CAMERA_YUY2, CAMERA_YUY2,
                                   CAMERA_RGB32, CAMERA_RGB32, CAMERA_RGB32};
    const uint32_t widths[7] = {1280, 320, 1280, 320, 1280, 641, 320};
    for (uint32_t i = 0; i < n; ++i) {
        EXPECT_EQ(want[i], types[i].subtype) << i;
        EXPECT_EQ(widths[i], types[i].format.width) << i;
    }
    EXPECT_EQ(1280u * 720 * 3 / 2, CameraFrameSize(CAMERA_NV12, 1280, 720));
    EXPECT_EQ(0u, CameraFrameSize(CAMERA_NV12, 641, 480));
    EXPECT_EQ(641u * 480 * 4, CameraFrameSize(CAMERA_RGB32, 641, 480));

    uint32_t num = 0, den = 0;
    RateFraction(30.0f, num, den);
    EXPECT_EQ(30u, num);
    EXPECT_EQ(1u, den);
    RateFraction(29.97f, num, den);
    EXPECT_EQ(2997u, num);
    EXPECT_EQ(100u, den);
    RateFraction(NAN, num, den);  // not a number: the default rate
    EXPECT_EQ(30u, num);
}
