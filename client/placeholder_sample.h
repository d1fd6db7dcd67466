#pragma once
// The placeholder card as a consumer's sample: drawn and converted once for
// each kind and target, and copied whenever the card is shown, so a consumer
// that shows it several times a second draws it only when its kind or its
// format changes.

#include <stdint.h>

#include "picture_convert.h"
#include "placeholder_pacing.h"

class CPlaceholderSample {
public:
    CPlaceholderSample();
    ~CPlaceholderSample();

    // The card of kind as a sample of target (the card drawn at the target's
    // size); length is its bytes. Null when memory runs short.
    const uint8_t* Get(PlaceholderKind kind, const PictureTarget& target, uint32_t& length);

private:
    CPlaceholderSample(const CPlaceholderSample&);
    CPlaceholderSample& operator=(const CPlaceholderSample&);

    bool Grow(uint8_t*& buffer, uint32_t& capacity, uint32_t need);

    CPictureConverter converter;
    uint8_t* rgb;
    uint8_t* sample;
    uint32_t rgbCapacity;
    uint32_t sampleCapacity;
    uint32_t length;
    PictureTarget target;
    int kind;  // the kind drawn, or -1
};
