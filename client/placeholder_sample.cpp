#include "placeholder_sample.h"

#include <string.h>

#include <new>

#include "camera_block.h"
#include "placeholder_card.h"

namespace {

bool SameTarget(const PictureTarget& a, const PictureTarget& b)
{
    return a.layout == b.layout && a.width == b.width && a.height == b.height &&
           a.bottomUp == b.bottomUp && a.padded == b.padded;
}

}  // namespace

CPlaceholderSample::CPlaceholderSample()
    : rgb(nullptr), sample(nullptr), rgbCapacity(0), sampleCapacity(0), length(0), kind(-1)
{
    memset(&target, 0, sizeof target);
}

CPlaceholderSample::~CPlaceholderSample()
{
    delete[] rgb;
    delete[] sample;
}

bool CPlaceholderSample::Grow(uint8_t*& buffer, uint32_t& capacity, uint32_t need)
{
    if (need <= capacity)
        return true;
    delete[] buffer;
    buffer = new (std::nothrow) uint8_t[need];
    capacity = buffer != nullptr ? need : 0;
    return buffer != nullptr;
}

const uint8_t* CPlaceholderSample::Get(PlaceholderKind k, const PictureTarget& t, uint32_t& bytes)
{
    if (kind == (int)k && SameTarget(t, target)) {
        bytes = length;
        return sample;
    }
    kind = -1;
    target = t;
    // The card as the picture the target describes, whatever size its
    // frames have: it is drawn, not decoded.
    target.jpegWidth = t.width;
    target.jpegHeight = t.height;
    uint32_t pixels = t.width * t.height;
    // A compressed card is a frame: it gets no more room than a phone's.
    PicturePlanes planes;
    uint32_t need = t.layout == PICTURE_JPEG                                  ? FRAME_DATA_SIZE
                    : PlanesOf(t.layout, t.width, t.height, t.padded, planes) ? planes.size
                                                                              : pixels * 3;
    if (pixels == 0 || !Grow(rgb, rgbCapacity, pixels * 3) || !Grow(sample, sampleCapacity, need) ||
        !converter.Start(target))
        return nullptr;
    RgbImage image = {rgb, t.width, t.height};
    DrawPlaceholderCard(k, image);
    if (!converter.FromRgb(image, sample, sampleCapacity, length))
        return nullptr;
    kind = (int)k;
    target = t;
    bytes = length;
    return sample;
}
