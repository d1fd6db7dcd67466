#pragma once
// The picture a consumer gets while there is nothing live to show: a dark
// card with a crossed-out camera and three dots for the steps to a live
// picture (service, phone, frames): the ones reached green, the missing one
// amber, the rest grey. It has no text, so it needs no font and no language.
//
// DrawPlaceholderRgb is the whole drawing, into any RGB buffer, so that other
// consumers can show the same card.

#include <stdint.h>

#include "picture_writer.h"
#include "placeholder_pacing.h"

// rgb holds height rows of stride bytes, width * 3 of them used.
void DrawPlaceholderRgb(PlaceholderKind kind, uint8_t* rgb, uint32_t width, uint32_t height,
                        uint32_t stride);

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
