#pragma once
// Command line of the phone stand-in.

#include <stdint.h>

enum PhoneTransportKind { PHONE_CONNECT, PHONE_LISTEN, PHONE_SERIAL };

// Where the phone stops sending anything at all, on every link.
enum PhoneSilence {
    SILENT_NEVER,
    SILENT_TABLE,    // from the start: not even the table goes out
    SILENT_REQUEST,  // after the service's format request arrives
    SILENT_FRAMES,   // after silentFrames frames on the link
};

const uint32_t PHONE_MAX_FORMATS = 40;

struct PhoneFormat {
    uint32_t width;
    uint32_t height;
    float fps;
};

struct PhoneOptions {
    PhoneTransportKind transport;
    char host[256];
    uint16_t port;
    char device[256];
    bool advertise;
    int retryMs;

    uint32_t mode;
    uint32_t session;
    PhoneFormat formats[PHONE_MAX_FORMATS];
    uint32_t formatCount;
    double fps;  // 0: the selected entry's rate
    int quality;
    uint32_t retainEvery;   // 0: never flag a frame for retention
    bool blocks;            // the still, checkable blocks picture
    uint32_t corruptEvery;  // 0: every JPEG whole

    uint32_t noise;
    uint32_t chunk;
    uint32_t chunkPauseUs;
    bool closeEarly;
    bool closeMid;
    PhoneSilence silence;
    uint32_t silentFrames;
    bool badLength;
    bool badType;
    bool aliveOnly;
    bool tableOnly;

    bool stampRaw;  // stamp frames with CLOCK_MONOTONIC_RAW (Wine's tick)
    bool log;
    double seconds;  // 0: until stopped
};

void DefaultPhoneOptions(PhoneOptions& options);

// Fills options from argv. Returns 0 on success, 1 when help was asked for,
// -1 on a bad argument (with a message in error).
int ParsePhoneOptions(int argc, char** argv, PhoneOptions& options, char* error,
                      uint32_t errorSize);

// Parses "WxH@fps,WxH@fps,..." (the "@fps" part is optional, 30 by default).
bool ParseFormatList(const char* text, PhoneFormat* formats, uint32_t& count);

extern const char PHONE_USAGE[];
