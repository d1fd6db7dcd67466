// A URL as a QR code: an SVG for the pairing page, text for a terminal.
#pragma once

#include <stddef.h>
#include <stdio.h>

// Appends an inline SVG of the code to out (capacity cap, terminated);
// false when the text cannot be encoded or the SVG does not fit.
bool QrSvg(const char* text, char* out, size_t cap);

// Prints the code to a terminal, two rows of modules per line drawn with
// half blocks, dark on a light background with its quiet zone.
bool QrPrint(const char* text, FILE* stream);
