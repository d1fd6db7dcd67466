#include "placeholder_sample.h"

#include <stdio.h>
#include <string.h>

#include <new>

#include "camera_block.h"
#include "placeholder_card.h"

namespace {

const char COMMENT_PREFIX[] = "ovalix-placeholder:";

bool SameTarget(const PictureTarget& a, const PictureTarget& b)
{
    return a.layout == b.layout && a.width == b.width && a.height == b.height &&
           a.bottomUp == b.bottomUp && a.padded == b.padded;
}

}  // namespace

bool ReadPlaceholderKind(const uint8_t* data, uint32_t size, PlaceholderKind& kind)
{
    const uint32_t prefix = sizeof(COMMENT_PREFIX) - 1;
    if (size < 6 + prefix || data[0] != 0xFF || data[1] != 0xD8 || data[2] != 0xFF ||
        data[3] != 0xFE)
        return false;
    uint32_t length = (uint32_t)data[4] << 8 | data[5];
    if (length < 2 + prefix || 4 + length > size || memcmp(data + 6, COMMENT_PREFIX, prefix) != 0)
        return false;
    const char* name = (const char*)data + 6 + prefix;
    uint32_t nameLength = length - 2 - prefix;
    for (int k = 0; k < PLACEHOLDER_KIND_COUNT; ++k) {
        const char* known = PlaceholderKindName((PlaceholderKind)k);
        if (strlen(known) == nameLength && memcmp(name, known, nameLength) == 0) {
            kind = (PlaceholderKind)k;
            return true;
        }
    }
    return false;
}

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
    if (kind != (int)k || !SameTarget(t, target)) {
        kind = -1;
        if (!Draw(k, t))
            return nullptr;
        kind = (int)k;
        target = t;
    }
    bytes = length;
    return sample;
}

bool CPlaceholderSample::Draw(PlaceholderKind k, const PictureTarget& t)
{
    // The card as the picture the target describes, whatever size its
    // frames have: it is drawn, not decoded.
    PictureTarget drawn = t;
    drawn.jpegWidth = t.width;
    drawn.jpegHeight = t.height;
    uint32_t pixels = t.width * t.height;
    PicturePlanes planes;
    bool jpeg = t.layout == PICTURE_JPEG;
    uint32_t need = jpeg                                                      ? FRAME_DATA_SIZE
                    : PlanesOf(t.layout, t.width, t.height, t.padded, planes) ? planes.size
                                                                              : 0;
    if (pixels == 0 || need == 0 || !Grow(rgb, rgbCapacity, pixels * 3) ||
        !Grow(sample, sampleCapacity, need) || !converter.Start(drawn, false))
        return false;
    RgbImage image = {rgb, t.width, t.height};
    DrawPlaceholderCard(k, image);
    if (!jpeg)
        return converter.FromRgb(image, sample, sampleCapacity, length);

    // The JPEG goes in after room for the comment segment (FF FE, a 2-byte
    // length, the text); the segment and a start marker then take the place
    // of the JPEG's own start marker.
    char comment[64];
    uint32_t n =
        (uint32_t)snprintf(comment, sizeof comment, "%s%s", COMMENT_PREFIX, PlaceholderKindName(k));
    uint32_t segment = 4 + n;
    uint32_t compressed = 0;
    if (!converter.FromRgb(image, sample + segment, need - segment, compressed) || compressed < 2)
        return false;
    sample[0] = 0xFF;
    sample[1] = 0xD8;
    sample[2] = 0xFF;
    sample[3] = 0xFE;
    sample[4] = (uint8_t)((n + 2) >> 8);
    sample[5] = (uint8_t)(n + 2);
    memcpy(sample + 6, comment, n);
    length = compressed + segment;
    return true;
}
