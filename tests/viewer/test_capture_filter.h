// A small stand-in capture source for the viewer's tests: pins and media
// types set by the test, so the graph can meet the cases a real camera filter
// seldom shows. The same code is linked into the in-process graph tests
// (class object registered with COM for the process) and built as a DLL that
// the shell tests register in a private Wine prefix.
#pragma once
#include <stdint.h>

#include "directshow.h"

enum { TEST_FILTER_MAX_FORMATS = 64 };

struct TestFormat {
    int32_t width;
    int32_t height;
    bool rgb32;            // second subtype of the same size
    uint32_t formatBytes;  // size of the format block; 88 is a bare VIDEOINFOHEADER
};

struct TestFilterConfig {
    TestFormat formats[TEST_FILTER_MAX_FORMATS];
    int formatCount;
    bool noPins;
    bool enumPinsFails;
    bool enumTypesFails;
    bool audioPin;           // a second, audio pin
    bool unrenderableVideo;  // the video pin offers a type no renderer takes
    bool endOfStream;        // the stream ends before its first sample
    bool stream;             // the video pin sends samples while the graph runs
};

// Settings for filters created from now on.
extern TestFilterConfig TestFilterSettings;
// Filters and enumerators alive, and what the last filter was told.
extern volatile LONG TestFilterObjects;
struct TestFilterRecord {
    int setFormatCalls;
    int32_t lastWidth, lastHeight;
    bool lastRgb32;
    int32_t connectedWidth, connectedHeight;
    volatile LONG samplesDelivered;  // accepted by the downstream pin
    LARGE_INTEGER firstSample;       // when the first was accepted
};
extern TestFilterRecord TestFilterSeen;

void ResetTestFilter();
void AddTestFormat(int32_t width, int32_t height, bool rgb32 = false, uint32_t formatBytes = 88);
// "1280x720,640x480;audio;eos": formats ("none" for none), then flags (nopins, enumpinsfails,
// enumtypesfails, audio, unrenderable, eos, stream; "640x480*" is the RGB32 type).
bool ParseTestFilterConfig(const char* text, TestFilterConfig* config);
IClassFactory* TestFilterFactory();
