#pragma once
// A moving test picture, JPEG-encoded: scrolling colour bars, a bouncing box
// and the frame counter in digits, above a static textured band. The JPEG
// carries the counter again in a comment segment right after its start
// marker, so a consumer can count lost frames without decoding.
//
// The blocks picture is a still one whose pixels a consumer can check: a
// 4 x 2 grid of equal cells (the last column and row take the remainder) in
// BLOCK_COLOURS, row by row, left to right.

#include <stdint.h>

const uint32_t BLOCK_COLUMNS = 4;
const uint32_t BLOCK_ROWS = 2;
const uint8_t BLOCK_COLOURS[BLOCK_COLUMNS * BLOCK_ROWS][3] = {
    {255, 255, 255},
    {255, 255, 0  },
    {0,   255, 255},
    {0,   255, 0  },
    {255, 0,   255},
    {255, 0,   0  },
    {0,   0,   255},
    {0,   0,   0  },
};

// Damages a finished JPEG so that decoders reject it or find it cut short:
// odd `which` cut it to a third, even ones give its frame header a zero
// height. Returns the new length.
uint32_t DamageJpeg(uint8_t* jpeg, uint32_t size, uint32_t which);

class TestPattern {
public:
    TestPattern();
    explicit TestPattern(bool blocks);
    ~TestPattern();

    // Prepares buffers for one picture size; called when the size changes,
    // never per frame. Returns false for a size it cannot hold.
    bool Resize(uint32_t width, uint32_t height);

    // Draws frame `counter` and writes its JPEG into out. Lowers the quality
    // step by step if the picture does not fit. Returns the byte count, or 0
    // when even the lowest quality does not fit.
    uint32_t Encode(uint32_t counter, int quality, uint8_t* out, uint32_t capacity);

private:
    TestPattern(const TestPattern&);
    TestPattern& operator=(const TestPattern&);

    void Release();
    void DrawStatic();
    void DrawBlocks();
    void DrawMoving(uint32_t counter);
    void FillRect(uint32_t x, uint32_t y, uint32_t w, uint32_t h, uint8_t r, uint8_t g, uint8_t b);
    void DrawNumber(uint32_t value, uint32_t x, uint32_t y, uint32_t scale);

    bool blocks;
    void* compressor;
    uint32_t width, height;
    uint32_t barRows;
    uint8_t* rgb;
    uint8_t* barRow;  // two periods of the bar row, so any shift is one copy
    uint8_t* jpeg;
    unsigned long jpegCapacity;
};
