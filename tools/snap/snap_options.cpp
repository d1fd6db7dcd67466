#include "snap_options.h"

#include <getopt.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "picture_size.h"

const char SNAP_USAGE[] =
    "usage: ovalix-snap [--size WxH] [--subtype NAME] [--fps F] [--seconds S]\n"
    "                   [--save FILE] [--save-live FILE] [--list] [--device]\n"
    "                   [--builder] [--vmr9] [--quiet]\n"
    "Builds a graph with the Ovalix capture filter, a Sample Grabber and a Null\n"
    "Renderer, runs it and prints the samples of every second.\n"
    "  --size WxH        ask the filter for that format (SetFormat)\n"
    "  --subtype NAME    I420, YUY2, RGB32, RGB24 (default) or MJPG: the stream\n"
    "                    type of the stream caps chosen with SetFormat\n"
    "  --fps F           at that rate (within the type's range)\n"
    "  --seconds S       run for S seconds (5)\n"
    "  --save FILE       write the last sample (.bmp or .png of RGB24; .raw: its bytes)\n"
    "  --save-live FILE  write the last sample decoded from the phone\n"
    "  --list            print the filter's formats and stream caps and end\n"
    "  --device          find the filter as \"Ovalix Camera\" among video input devices\n"
    "  --builder         connect through the capture graph builder (capture pin\n"
    "                    category), as capture applications do\n"
    "  --vmr9            render into VMR-9 in a top-level window (RenderEx) instead\n"
    "  --quiet           print only the summary\n";

namespace {

enum Option { OPT_SIZE = 256, OPT_SUBTYPE, OPT_FPS, OPT_SECONDS, OPT_SAVE, OPT_SAVE_LIVE,
              OPT_LIST, OPT_DEVICE, OPT_BUILDER, OPT_VMR9, OPT_QUIET };

const option OPTIONS[] = {
    {"help", no_argument, nullptr, 'h'},
    {"size", required_argument, nullptr, OPT_SIZE},
    {"subtype", required_argument, nullptr, OPT_SUBTYPE},
    {"fps", required_argument, nullptr, OPT_FPS},
    {"seconds", required_argument, nullptr, OPT_SECONDS},
    {"save", required_argument, nullptr, OPT_SAVE},
    {"save-live", required_argument, nullptr, OPT_SAVE_LIVE},
    {"list", no_argument, nullptr, OPT_LIST},
    {"device", no_argument, nullptr, OPT_DEVICE},
    {"builder", no_argument, nullptr, OPT_BUILDER},
    {"vmr9", no_argument, nullptr, OPT_VMR9},
    {"quiet", no_argument, nullptr, OPT_QUIET},
    {nullptr, 0, nullptr, 0},
};

// The options without a value, and the flag each sets.
struct Switch {
    int option;
    bool SnapOptions::*field;
};

const Switch SWITCHES[] = {
    {OPT_LIST, &SnapOptions::list},       {OPT_DEVICE, &SnapOptions::device},
    {OPT_BUILDER, &SnapOptions::builder}, {OPT_VMR9, &SnapOptions::vmr9},
    {OPT_QUIET, &SnapOptions::quiet},
};

// Reads one option into o; false with a message in error on a bad value.
bool Apply(int option, const char* value, SnapOptions& o, char* error, uint32_t errorSize)
{
    for (const Switch& s : SWITCHES) {
        if (s.option == option) {
            o.*s.field = true;
            return true;
        }
    }
    switch (option) {
    case OPT_SIZE: {
        PictureSize size;
        if (!ParsePictureSize(value, size)) {
            snprintf(error, errorSize, "bad size: %s", value);
            return false;
        }
        o.width = size.width;
        o.height = size.height;
        return true;
    }
    case OPT_SUBTYPE: {
        static const char* const names[] = { "I420", "YUY2", "RGB32", "RGB24", "MJPG" };
        o.subtype = nullptr;
        for (const char* name : names)
            if (!strcmp(value, name))
                o.subtype = name;
        if (o.subtype == nullptr) {
            snprintf(error, errorSize, "bad subtype: %s", value);
            return false;
        }
        return true;
    }
    case OPT_FPS: {
        char* end = nullptr;
        o.fps = strtod(value, &end);
        if (end == value || *end != 0 || !(o.fps > 0 && o.fps <= 240)) {
            snprintf(error, errorSize, "bad rate: %s", value);
            return false;
        }
        return true;
    }
    case OPT_SECONDS: {
        char* end = nullptr;
        o.seconds = strtod(value, &end);
        if (end == value || *end != 0 || !(o.seconds > 0 && o.seconds < 86400)) {
            snprintf(error, errorSize, "bad seconds: %s", value);
            return false;
        }
        return true;
    }
    case OPT_SAVE:
        o.save = value;
        return true;
    case OPT_SAVE_LIVE:
        o.saveLive = value;
        return true;
    }
    return false;
}

}  // namespace

int ParseSnapOptions(int argc, char** argv, SnapOptions& o, char* error, uint32_t errorSize)
{
    memset(&o, 0, sizeof o);
    o.seconds = 5.0;
    optind = 0;   // a fresh scan, also when called again
    opterr = 0;
    int option;
    while ((option = getopt_long(argc, argv, ":h", OPTIONS, nullptr)) != -1) {
        if (option == 'h')
            return 1;
        if (option == ':') {
            snprintf(error, errorSize, "%s needs a value", argv[optind - 1]);
            return -1;
        }
        if (option == '?') {
            snprintf(error, errorSize, "unknown argument: %s", argv[optind - 1]);
            return -1;
        }
        if (!Apply(option, optarg, o, error, errorSize))
            return -1;
    }
    if (optind < argc) {
        snprintf(error, errorSize, "unknown argument: %s", argv[optind]);
        return -1;
    }
    return 0;
}
