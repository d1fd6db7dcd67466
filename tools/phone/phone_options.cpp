#include "phone_options.h"

#include <getopt.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "picture_size.h"

const char PHONE_USAGE[] =
    "usage: ovalix-phone [transport] [phone] [misbehaviour] [--log] [--seconds S]\n"
    "transport (one of):\n"
    "  --connect HOST[:PORT]    connect to the service (default 127.0.0.1:5055),\n"
    "                           retrying until accepted and after every link\n"
    "  --listen PORT            listen and advertise \"mobile\" in _ovalix._tcp\n"
    "  --no-advertise           with --listen: do not advertise\n"
    "  --serial DEVICE          use a serial device (raw, 576000 baud)\n"
    "  --retry-ms MS            pause between connection attempts (200)\n"
    "phone:\n"
    "  --mode N                 mode word of the format table (1)\n"
    "  --formats WxH@fps,...    format table (1280x720@30,640x480@30,320x240@30)\n"
    "  --session WORD           session word of every message (0x0A1B2C3D)\n"
    "  --fps F                  frame rate (default: the selected entry's)\n"
    "  --quality Q              JPEG quality 1..100 (80)\n"
    "  --retain-every N         flag every Nth frame for retention\n"
    "  --pattern moving|blocks  moving test picture (default), or a still 4 x 2\n"
    "                           grid of white, yellow, cyan, green / magenta,\n"
    "                           red, blue, black that consumers can check\n"
    "  --stamp-clock monotonic|raw\n"
    "                           clock of the frame stamps (monotonic); raw matches\n"
    "                           the tick count of Windows programs under Wine\n"
    "misbehaviour:\n"
    "  --noise N                N garbage bytes before every message\n"
    "  --chunk N                write messages in N-byte pieces with pauses\n"
    "  --chunk-pause-us US      pause between pieces (500)\n"
    "  --close-early            end the first link at once, before sending\n"
    "  --close-mid              end the first link in the middle of its second frame\n"
    "  --silent-after table|request|frames:N\n"
    "                           go quiet: from the start of each link, after\n"
    "                           the format request, or after N frames\n"
    "  --bad-length             a header with length 199,985 every second\n"
    "  --bad-type               a header with type 0x20006 every second\n"
    "  --corrupt-every N        damage every Nth frame's JPEG: alternately cut\n"
    "                           to a third, or with a zero height in its header\n"
    "  --alive-only             table, then only signs of life, never frames\n"
    "  --table-only             table, wait for the request, then exit\n"
    "output:\n"
    "  --log                    one line per message received and per link event\n"
    "  --seconds S              stop after S seconds\n";

void DefaultPhoneOptions(PhoneOptions& o)
{
    memset(&o, 0, sizeof o);
    o.transport = PHONE_CONNECT;
    snprintf(o.host, sizeof o.host, "127.0.0.1");
    o.port = 5055;
    o.advertise = true;
    o.retryMs = 200;
    o.mode = 1;
    o.session = 0x0A1B2C3D;
    o.formats[0] = {1280, 720, 30.0f};
    o.formats[1] = {640, 480, 30.0f};
    o.formats[2] = {320, 240, 30.0f};
    o.formatCount = 3;
    o.quality = 80;
    o.chunkPauseUs = 500;
    o.silence = SILENT_NEVER;
}

static bool ParseUnsigned(const char* text, uint64_t limit, uint64_t& value)
{
    if (!text || !*text)
        return false;
    char* end = nullptr;
    unsigned long long v = strtoull(text, &end, 0);
    if (*end || v > limit || text[0] == '-')
        return false;
    value = v;
    return true;
}

static bool ParseNumber(const char* text, double low, double high, double& value)
{
    if (!text || !*text)
        return false;
    char* end = nullptr;
    double v = strtod(text, &end);
    if (*end || !(v >= low && v <= high))
        return false;
    value = v;
    return true;
}

bool ParseFormatList(const char* text, PhoneFormat* formats, uint32_t& count)
{
    count = 0;
    const char* p = text;
    while (*p) {
        if (count == PHONE_MAX_FORMATS)
            return false;
        PictureSize size;
        p = ReadPictureSize(p, size);
        if (p == nullptr)
            return false;
        double fps = 30.0;
        if (*p == '@') {
            char* end = nullptr;
            fps = strtod(p + 1, &end);
            if (end == p + 1)
                return false;
            p = end;
        }
        if (!(fps > 0 && fps <= 1000))
            return false;
        formats[count++] = {size.width, size.height, (float)fps};
        if (*p == ',')
            ++p;
        else if (*p)
            return false;
    }
    return count > 0;
}

static bool ParseHostPort(const char* text, PhoneOptions& o)
{
    const char* colon = strrchr(text, ':');
    size_t hostLength = colon ? (size_t)(colon - text) : strlen(text);
    if (hostLength == 0 || hostLength >= sizeof o.host)
        return false;
    memcpy(o.host, text, hostLength);
    o.host[hostLength] = 0;
    if (colon) {
        uint64_t port = 0;
        if (!ParseUnsigned(colon + 1, 65535, port) || port == 0)
            return false;
        o.port = (uint16_t)port;
    }
    return true;
}

namespace {

enum Option { OPT_CONNECT = 256, OPT_LISTEN, OPT_NO_ADVERTISE, OPT_SERIAL, OPT_RETRY_MS, OPT_MODE,
              OPT_FORMATS, OPT_SESSION, OPT_FPS, OPT_QUALITY, OPT_RETAIN_EVERY, OPT_PATTERN,
              OPT_STAMP_CLOCK, OPT_NOISE, OPT_CHUNK, OPT_CHUNK_PAUSE_US, OPT_CLOSE_EARLY,
              OPT_CLOSE_MID, OPT_SILENT_AFTER, OPT_BAD_LENGTH, OPT_BAD_TYPE, OPT_CORRUPT_EVERY,
              OPT_ALIVE_ONLY, OPT_TABLE_ONLY, OPT_LOG, OPT_SECONDS };

const option OPTIONS[] = {
    {"help", no_argument, nullptr, 'h'},
    {"connect", required_argument, nullptr, OPT_CONNECT},
    {"listen", required_argument, nullptr, OPT_LISTEN},
    {"no-advertise", no_argument, nullptr, OPT_NO_ADVERTISE},
    {"serial", required_argument, nullptr, OPT_SERIAL},
    {"retry-ms", required_argument, nullptr, OPT_RETRY_MS},
    {"mode", required_argument, nullptr, OPT_MODE},
    {"formats", required_argument, nullptr, OPT_FORMATS},
    {"session", required_argument, nullptr, OPT_SESSION},
    {"fps", required_argument, nullptr, OPT_FPS},
    {"quality", required_argument, nullptr, OPT_QUALITY},
    {"retain-every", required_argument, nullptr, OPT_RETAIN_EVERY},
    {"pattern", required_argument, nullptr, OPT_PATTERN},
    {"stamp-clock", required_argument, nullptr, OPT_STAMP_CLOCK},
    {"noise", required_argument, nullptr, OPT_NOISE},
    {"chunk", required_argument, nullptr, OPT_CHUNK},
    {"chunk-pause-us", required_argument, nullptr, OPT_CHUNK_PAUSE_US},
    {"close-early", no_argument, nullptr, OPT_CLOSE_EARLY},
    {"close-mid", no_argument, nullptr, OPT_CLOSE_MID},
    {"silent-after", required_argument, nullptr, OPT_SILENT_AFTER},
    {"bad-length", no_argument, nullptr, OPT_BAD_LENGTH},
    {"bad-type", no_argument, nullptr, OPT_BAD_TYPE},
    {"corrupt-every", required_argument, nullptr, OPT_CORRUPT_EVERY},
    {"alive-only", no_argument, nullptr, OPT_ALIVE_ONLY},
    {"table-only", no_argument, nullptr, OPT_TABLE_ONLY},
    {"log", no_argument, nullptr, OPT_LOG},
    {"seconds", required_argument, nullptr, OPT_SECONDS},
    {nullptr, 0, nullptr, 0},
};

// An integer option in low..high.
template <typename T>
bool ReadInteger(const char* text, uint64_t low, uint64_t high, T& out)
{
    uint64_t value = 0;
    if (!ParseUnsigned(text, high, value) || value < low)
        return false;
    out = (T)value;
    return true;
}

// The options without a value, and what each sets.
struct Switch {
    int option;
    bool PhoneOptions::*field;
    bool value;
};

const Switch SWITCHES[] = {
    {OPT_NO_ADVERTISE, &PhoneOptions::advertise, false},
    {OPT_CLOSE_EARLY, &PhoneOptions::closeEarly, true},
    {OPT_CLOSE_MID, &PhoneOptions::closeMid, true},
    {OPT_BAD_LENGTH, &PhoneOptions::badLength, true},
    {OPT_BAD_TYPE, &PhoneOptions::badType, true},
    {OPT_ALIVE_ONLY, &PhoneOptions::aliveOnly, true},
    {OPT_TABLE_ONLY, &PhoneOptions::tableOnly, true},
    {OPT_LOG, &PhoneOptions::log, true},
};

bool ParseSilence(const char* v, PhoneOptions& o)
{
    if (!strcmp(v, "table") || !strcmp(v, "connect"))
        o.silence = SILENT_TABLE;
    else if (!strcmp(v, "request"))
        o.silence = SILENT_REQUEST;
    else if (!strncmp(v, "frames:", 7) && ReadInteger(v + 7, 0, 0xFFFFFFFFu, o.silentFrames))
        o.silence = SILENT_FRAMES;
    else
        return false;
    return true;
}

// Reads one option into o; false on a bad value.
bool Apply(int option, const char* v, PhoneOptions& o)
{
    for (const Switch& s : SWITCHES) {
        if (s.option == option) {
            o.*s.field = s.value;
            return true;
        }
    }
    switch (option) {
    case OPT_CONNECT:
        o.transport = PHONE_CONNECT;
        return ParseHostPort(v, o);
    case OPT_LISTEN:
        o.transport = PHONE_LISTEN;
        return ReadInteger(v, 1, 65535, o.port);
    case OPT_SERIAL:
        o.transport = PHONE_SERIAL;
        if (strlen(v) >= sizeof o.device)
            return false;
        snprintf(o.device, sizeof o.device, "%s", v);
        return true;
    case OPT_RETRY_MS:
        return ReadInteger(v, 1, 60000, o.retryMs);
    case OPT_MODE:
        return ReadInteger(v, 0, 0xFFFFFFFFu, o.mode);
    case OPT_SESSION:
        return ReadInteger(v, 0, 0xFFFFFFFFu, o.session);
    case OPT_FORMATS:
        return ParseFormatList(v, o.formats, o.formatCount);
    case OPT_FPS:
        return ParseNumber(v, 0.1, 1000, o.fps);
    case OPT_QUALITY:
        return ReadInteger(v, 1, 100, o.quality);
    case OPT_RETAIN_EVERY:
        return ReadInteger(v, 0, 0xFFFFFFFFu, o.retainEvery);
    case OPT_PATTERN:
        o.blocks = !strcmp(v, "blocks");
        return o.blocks || !strcmp(v, "moving");
    case OPT_STAMP_CLOCK:
        o.stampRaw = !strcmp(v, "raw");
        return o.stampRaw || !strcmp(v, "monotonic");
    case OPT_CORRUPT_EVERY:
        return ReadInteger(v, 0, 0xFFFFFFFFu, o.corruptEvery);
    case OPT_NOISE:
        return ReadInteger(v, 0, 100000, o.noise);
    case OPT_CHUNK:
        return ReadInteger(v, 0, 200000, o.chunk);
    case OPT_CHUNK_PAUSE_US:
        return ReadInteger(v, 0, 1000000, o.chunkPauseUs);
    case OPT_SILENT_AFTER:
        return ParseSilence(v, o);
    case OPT_SECONDS:
        return ParseNumber(v, 0.001, 1e7, o.seconds);
    }
    return false;
}

}  // namespace

int ParsePhoneOptions(int argc, char** argv, PhoneOptions& o, char* error, uint32_t errorSize)
{
    DefaultPhoneOptions(o);
    optind = 0;   // a fresh scan, also when called again
    opterr = 0;
    int option;
    int index = 0;
    while ((option = getopt_long(argc, argv, ":h", OPTIONS, &index)) != -1) {
        if (option == 'h')
            return 1;
        if (option == '?') {
            snprintf(error, errorSize, "unknown argument: %s", argv[optind - 1]);
            return -1;
        }
        if (option == ':') {
            snprintf(error, errorSize, "bad value for %s: (missing)", argv[optind - 1]);
            return -1;
        }
        if (!Apply(option, optarg, o)) {
            snprintf(error, errorSize, "bad value for --%s: %s", OPTIONS[index].name, optarg);
            return -1;
        }
    }
    if (optind < argc) {
        snprintf(error, errorSize, "unknown argument: %s", argv[optind]);
        return -1;
    }
    return 0;
}
