#include "qr_code.h"

#include <qrencode.h>
#include <string.h>

namespace {

// Modules of quiet zone around the code, as scanners expect.
const int kQuiet = 4;

// A code of the text, medium error correction; nullptr when it cannot be
// made. Freed with QRcode_free.
QRcode* Encode(const char* text)
{
    return QRcode_encodeString(text, 0, QR_ECLEVEL_M, QR_MODE_8, 1);
}

bool Dark(const QRcode* code, int x, int y)
{
    if (x < 0 || y < 0 || x >= code->width || y >= code->width) {
        return false;
    }
    return code->data[y * code->width + x] & 1;
}

// Appends formatted text; false once it no longer fits.
bool Append(char* out, size_t cap, size_t* used, const char* text)
{
    size_t n = strlen(text);
    if (*used + n + 1 > cap) {
        return false;
    }
    memcpy(out + *used, text, n + 1);
    *used += n;
    return true;
}

}  // namespace

bool QrSvg(const char* text, char* out, size_t cap)
{
    QRcode* code = Encode(text);
    if (code == nullptr) {
        return false;
    }
    size_t used = strlen(out);
    int size = code->width + 2 * kQuiet;
    char piece[256];
    snprintf(piece, sizeof piece,
             "<svg xmlns=\"http://www.w3.org/2000/svg\" viewBox=\"0 0 %d %d\" "
             "shape-rendering=\"crispEdges\"><rect width=\"%d\" height=\"%d\" fill=\"#fff\"/>"
             "<path fill=\"#000\" d=\"",
             size, size, size, size);
    bool ok = Append(out, cap, &used, piece);
    // One path: a horizontal run of dark modules is one rectangle.
    for (int y = 0; ok && y < code->width; y++) {
        for (int x = 0; ok && x < code->width;) {
            if (!Dark(code, x, y)) {
                x++;
                continue;
            }
            int run = 1;
            while (Dark(code, x + run, y)) {
                run++;
            }
            snprintf(piece, sizeof piece, "M%d %dh%dv1h-%dz", x + kQuiet, y + kQuiet, run, run);
            ok = Append(out, cap, &used, piece);
            x += run;
        }
    }
    ok = ok && Append(out, cap, &used, "\"/></svg>");
    QRcode_free(code);
    return ok;
}

bool QrPrint(const char* text, FILE* stream)
{
    QRcode* code = Encode(text);
    if (code == nullptr) {
        return false;
    }
    // Black on white whatever the terminal's own colours, so that a phone
    // reads it from a dark terminal too.
    for (int y = -kQuiet; y < code->width + kQuiet; y += 2) {
        fputs("\x1b[30;47m", stream);
        for (int x = -kQuiet; x < code->width + kQuiet; x++) {
            bool top = Dark(code, x, y);
            bool bottom = Dark(code, x, y + 1);
            fputs(top && bottom ? "\xe2\x96\x88"
                  : top         ? "\xe2\x96\x80"
                  : bottom      ? "\xe2\x96\x84"
                                : " ",
                  stream);
        }
        fputs("\x1b[0m\n", stream);
    }
    QRcode_free(code);
    return true;
}
