#include "phone_options.h"

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

int ParsePhoneOptions(int argc, char** argv, PhoneOptions& o, char* error, uint32_t errorSize)
{
    DefaultPhoneOptions(o);
    for (int i = 1; i < argc; ++i) {
        const char* a = argv[i];
        const char* v = i + 1 < argc ? argv[i + 1] : nullptr;
        uint64_t u = 0;
        double d = 0;
        bool ok = true;
        bool takesValue = true;
        if (!strcmp(a, "--help") || !strcmp(a, "-h")) {
            return 1;
        } else if (!strcmp(a, "--connect")) {
            o.transport = PHONE_CONNECT;
            ok = v && ParseHostPort(v, o);
        } else if (!strcmp(a, "--listen")) {
            o.transport = PHONE_LISTEN;
            ok = ParseUnsigned(v, 65535, u) && u > 0;
            o.port = (uint16_t)u;
        } else if (!strcmp(a, "--serial")) {
            o.transport = PHONE_SERIAL;
            ok = v && strlen(v) < sizeof o.device;
            if (ok)
                snprintf(o.device, sizeof o.device, "%s", v);
        } else if (!strcmp(a, "--retry-ms")) {
            ok = ParseUnsigned(v, 60000, u) && u > 0;
            o.retryMs = (int)u;
        } else if (!strcmp(a, "--mode")) {
            ok = ParseUnsigned(v, 0xFFFFFFFFu, u);
            o.mode = (uint32_t)u;
        } else if (!strcmp(a, "--session")) {
            ok = ParseUnsigned(v, 0xFFFFFFFFu, u);
            o.session = (uint32_t)u;
        } else if (!strcmp(a, "--formats")) {
            ok = v && ParseFormatList(v, o.formats, o.formatCount);
        } else if (!strcmp(a, "--fps")) {
            ok = ParseNumber(v, 0.1, 1000, d);
            o.fps = d;
        } else if (!strcmp(a, "--quality")) {
            ok = ParseUnsigned(v, 100, u) && u > 0;
            o.quality = (int)u;
        } else if (!strcmp(a, "--retain-every")) {
            ok = ParseUnsigned(v, 0xFFFFFFFFu, u);
            o.retainEvery = (uint32_t)u;
        } else if (!strcmp(a, "--pattern")) {
            ok = v && (!strcmp(v, "moving") || !strcmp(v, "blocks"));
            o.blocks = ok && !strcmp(v, "blocks");
        } else if (!strcmp(a, "--corrupt-every")) {
            ok = ParseUnsigned(v, 0xFFFFFFFFu, u);
            o.corruptEvery = (uint32_t)u;
        } else if (!strcmp(a, "--noise")) {
            ok = ParseUnsigned(v, 100000, u);
            o.noise = (uint32_t)u;
        } else if (!strcmp(a, "--chunk")) {
            ok = ParseUnsigned(v, 200000, u);
            o.chunk = (uint32_t)u;
        } else if (!strcmp(a, "--chunk-pause-us")) {
            ok = ParseUnsigned(v, 1000000, u);
            o.chunkPauseUs = (uint32_t)u;
        } else if (!strcmp(a, "--silent-after")) {
            if (v && (!strcmp(v, "table") || !strcmp(v, "connect")))
                o.silence = SILENT_TABLE;
            else if (v && !strcmp(v, "request"))
                o.silence = SILENT_REQUEST;
            else if (v && !strncmp(v, "frames:", 7) && ParseUnsigned(v + 7, 0xFFFFFFFFu, u)) {
                o.silence = SILENT_FRAMES;
                o.silentFrames = (uint32_t)u;
            } else
                ok = false;
        } else if (!strcmp(a, "--stamp-clock")) {
            ok = v && (!strcmp(v, "raw") || !strcmp(v, "monotonic"));
            o.stampRaw = ok && !strcmp(v, "raw");
        } else if (!strcmp(a, "--seconds")) {
            ok = ParseNumber(v, 0.001, 1e7, d);
            o.seconds = d;
        } else {
            takesValue = false;
            if (!strcmp(a, "--no-advertise"))
                o.advertise = false;
            else if (!strcmp(a, "--close-early"))
                o.closeEarly = true;
            else if (!strcmp(a, "--close-mid"))
                o.closeMid = true;
            else if (!strcmp(a, "--bad-length"))
                o.badLength = true;
            else if (!strcmp(a, "--bad-type"))
                o.badType = true;
            else if (!strcmp(a, "--alive-only"))
                o.aliveOnly = true;
            else if (!strcmp(a, "--table-only"))
                o.tableOnly = true;
            else if (!strcmp(a, "--log"))
                o.log = true;
            else {
                snprintf(error, errorSize, "unknown argument: %s", a);
                return -1;
            }
        }
        if (!ok) {
            snprintf(error, errorSize, "bad value for %s: %s", a, v ? v : "(missing)");
            return -1;
        }
        if (takesValue)
            ++i;
    }
    return 0;
}
