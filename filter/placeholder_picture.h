#pragma once
// The placeholder card (placeholder_card.h) as the source's picture: the
// card every consumer shows, as a bottom-up RGB24 DIB of the connected size.

#include <stdint.h>

#include "placeholder_pacing.h"

// rgb is scratch of width * height * 3 bytes; pixels holds
// DibImageSize(width, height) bytes.
void DrawPlaceholder(PlaceholderKind kind, uint8_t* rgb, uint8_t* pixels, uint32_t width,
                     uint32_t height);
