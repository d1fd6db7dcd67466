#pragma once
// The placeholder card as a consumer's sample: drawn and converted once for
// each kind and target, and copied whenever the card is shown, so a consumer
// that shows it several times a second draws it only when its kind or its
// format changes.
//
// A JPEG card fits the room of a phone frame, and carries a comment segment
// right after its start marker, "ovalix-placeholder:" and the kind's name, so
// that tools and tests tell it from a phone frame without decoding it.

#include <stdint.h>

#include "picture_convert.h"
#include "placeholder_pacing.h"

// True when data is a JPEG card; kind says which. Only the tests read the
// mark back (their rigs count placeholders this way); it stays beside the
// code that writes it so that the two cannot drift apart.
bool ReadPlaceholderKind(const uint8_t* data, uint32_t size, PlaceholderKind& kind);

class CPlaceholderSample {
public:
    CPlaceholderSample();
    ~CPlaceholderSample();

    // The card of kind as a sample of target (the card drawn at the target's
    // size); length is its bytes. Null when memory runs short, for a size of
    // zero, or when a JPEG card does not fit a frame's room.
    const uint8_t* Get(PlaceholderKind kind, const PictureTarget& target, uint32_t& length);

private:
    CPlaceholderSample(const CPlaceholderSample&);
    CPlaceholderSample& operator=(const CPlaceholderSample&);

    bool Grow(uint8_t*& buffer, uint32_t& capacity, uint32_t need);
    bool Draw(PlaceholderKind kind, const PictureTarget& target);

    CPictureConverter converter;
    uint8_t* rgb;
    uint8_t* sample;
    uint32_t rgbCapacity;
    uint32_t sampleCapacity;
    uint32_t length;
    PictureTarget target;
    int kind;  // the kind drawn, or -1
};
