#pragma once
// The placeholder card (placeholder_card.h) as the JPEG the source sends
// while there is nothing live to send. Each kind is drawn and encoded once
// per picture size, on first use.
//
// Every placeholder JPEG carries a comment segment right after its start
// marker, "ovalix-placeholder:" and the kind's name, so that tools and tests
// tell it from a phone frame without decoding it.

#include <stdint.h>

#include <vector>

#include "placeholder_pacing.h"

// True when data is a placeholder JPEG; kind says which. Only the tests
// read the mark back (their rigs count placeholders this way); it stays
// beside the code that writes it so that the two cannot drift apart.
bool ReadPlaceholderKind(const uint8_t* data, uint32_t size, PlaceholderKind& kind);

class CPlaceholderImages {
public:
    CPlaceholderImages();
    ~CPlaceholderImages();

    // Forgets pictures encoded for another size.
    void SetSize(uint32_t width, uint32_t height);

    // The JPEG of kind at the current size, at most capacity bytes; null when
    // it cannot be encoded that small.
    const uint8_t* Jpeg(PlaceholderKind kind, uint32_t capacity, uint32_t& size);

private:
    CPlaceholderImages(const CPlaceholderImages&);
    CPlaceholderImages& operator=(const CPlaceholderImages&);

    bool Encode(PlaceholderKind kind, uint32_t capacity);

    void* compressor;
    uint32_t width;
    uint32_t height;
    std::vector<uint8_t> jpeg[PLACEHOLDER_KIND_COUNT];
};
