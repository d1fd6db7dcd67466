#include "placeholder.h"

#include <stdio.h>
#include <string.h>
#include <turbojpeg.h>

#include "bitmap_text.h"
#include "placeholder_card.h"

namespace {

const char COMMENT_PREFIX[] = "ovalix-placeholder:";
const int QUALITIES[] = {85, 60, 35, 15};

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

CPlaceholderImages::CPlaceholderImages() : compressor(nullptr), width(0), height(0) {}

CPlaceholderImages::~CPlaceholderImages()
{
    if (compressor != nullptr)
        tjDestroy(compressor);
}

void CPlaceholderImages::SetSize(uint32_t w, uint32_t h)
{
    if (w == width && h == height)
        return;
    width = w;
    height = h;
    for (std::vector<uint8_t>& j : jpeg)
        j.clear();
}

const uint8_t* CPlaceholderImages::Jpeg(PlaceholderKind kind, uint32_t capacity, uint32_t& size)
{
    if (kind >= PLACEHOLDER_KIND_COUNT || width == 0 || height == 0)
        return nullptr;
    if (jpeg[kind].empty() && !Encode(kind, capacity))
        return nullptr;
    if (jpeg[kind].size() > capacity)
        return nullptr;
    size = (uint32_t)jpeg[kind].size();
    return jpeg[kind].data();
}

bool CPlaceholderImages::Encode(PlaceholderKind kind, uint32_t capacity)
{
    if (compressor == nullptr && (compressor = tjInitCompress()) == nullptr)
        return false;
    std::vector<uint8_t> rgb((size_t)width * height * 3);
    RgbImage image = {rgb.data(), width, height};
    DrawPlaceholderCard(kind, image);

    char comment[64];
    int n = snprintf(comment, sizeof comment, "%s%s", COMMENT_PREFIX, PlaceholderKindName(kind));
    uint32_t segment = 4 + (uint32_t)n;   // FF FE, a 2-byte length, the text
    for (int quality : QUALITIES) {
        unsigned char* out = nullptr;
        unsigned long outSize = 0;
        if (tjCompress2(compressor, rgb.data(), (int)width, 0, (int)height, TJPF_RGB, &out,
                        &outSize, TJSAMP_420, quality, 0) != 0) {
            tjFree(out);
            return false;
        }
        bool fits = outSize >= 2 && outSize + segment <= capacity;
        if (fits) {
            std::vector<uint8_t>& j = jpeg[kind];
            j.resize(outSize + segment);
            j[0] = 0xFF;
            j[1] = 0xD8;
            j[2] = 0xFF;
            j[3] = 0xFE;
            j[4] = (uint8_t)((n + 2) >> 8);
            j[5] = (uint8_t)(n + 2);
            memcpy(j.data() + 6, comment, (size_t)n);
            memcpy(j.data() + segment + 2, out + 2, outSize - 2);
        }
        tjFree(out);
        if (fits)
            return true;
    }
    return false;
}
