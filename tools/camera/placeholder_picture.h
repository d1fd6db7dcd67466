#pragma once
// The placeholder card (placeholder_card.h) as the camera's picture.

#include <stdint.h>

#include "picture_writer.h"
#include "placeholder_pacing.h"

// The placeholder as a full-range YCbCr picture, drawn again only when the
// kind or the size changes.
class CPlaceholderPicture {
public:
    CPlaceholderPicture();
    ~CPlaceholderPicture();

    // False when the size is above the largest picture or memory is short.
    bool Get(PlaceholderKind kind, uint32_t width, uint32_t height, YcbcrPicture& out);

private:
    CPlaceholderPicture(const CPlaceholderPicture&);
    CPlaceholderPicture& operator=(const CPlaceholderPicture&);

    uint8_t* rgb;
    uint8_t* planes;
    bool drawn;
    PlaceholderKind kind;
    uint32_t width;
    uint32_t height;
};
