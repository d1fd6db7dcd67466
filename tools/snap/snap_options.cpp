#include "snap_options.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "picture_size.h"

const char SNAP_USAGE[] =
    "usage: ovalix-snap [--size WxH] [--seconds S] [--save FILE] [--save-live FILE]\n"
    "                   [--list] [--device] [--builder] [--vmr9] [--quiet]\n"
    "Builds a graph with the Ovalix capture filter, a Sample Grabber and a Null\n"
    "Renderer, runs it and prints the samples of every second.\n"
    "  --size WxH        ask the filter for that format (SetFormat)\n"
    "  --seconds S       run for S seconds (5)\n"
    "  --save FILE       write the last sample (.bmp or .png)\n"
    "  --save-live FILE  write the last sample decoded from the phone\n"
    "  --list            print the filter's formats and end\n"
    "  --device          find the filter as \"Ovalix Camera\" among video input devices\n"
    "  --builder         connect through the capture graph builder (capture pin\n"
    "                    category), as capture applications do\n"
    "  --vmr9            render into VMR-9 in a top-level window (RenderEx) instead\n"
    "  --quiet           print only the summary\n";

int ParseSnapOptions(int argc, char** argv, SnapOptions& o, char* error, uint32_t errorSize)
{
    memset(&o, 0, sizeof o);
    o.seconds = 5.0;
    for (int i = 1; i < argc; ++i) {
        const char* a = argv[i];
        const char* value = i + 1 < argc ? argv[i + 1] : nullptr;
        bool takesValue = !strcmp(a, "--size") || !strcmp(a, "--seconds") || !strcmp(a, "--save") ||
                          !strcmp(a, "--save-live");
        if (takesValue && value == nullptr) {
            snprintf(error, errorSize, "%s needs a value", a);
            return -1;
        }
        if (!strcmp(a, "--help") || !strcmp(a, "-h")) {
            return 1;
        } else if (!strcmp(a, "--size")) {
            PictureSize size;
            if (!ParsePictureSize(value, size)) {
                snprintf(error, errorSize, "bad size: %s", value);
                return -1;
            }
            o.width = size.width;
            o.height = size.height;
            ++i;
        } else if (!strcmp(a, "--seconds")) {
            char* end = nullptr;
            o.seconds = strtod(value, &end);
            if (end == value || *end != 0 || !(o.seconds > 0 && o.seconds < 86400)) {
                snprintf(error, errorSize, "bad seconds: %s", value);
                return -1;
            }
            ++i;
        } else if (!strcmp(a, "--save")) {
            o.save = value;
            ++i;
        } else if (!strcmp(a, "--save-live")) {
            o.saveLive = value;
            ++i;
        } else if (!strcmp(a, "--list")) {
            o.list = true;
        } else if (!strcmp(a, "--device")) {
            o.device = true;
        } else if (!strcmp(a, "--builder")) {
            o.builder = true;
        } else if (!strcmp(a, "--vmr9")) {
            o.vmr9 = true;
        } else if (!strcmp(a, "--quiet")) {
            o.quiet = true;
        } else {
            snprintf(error, errorSize, "unknown argument: %s", a);
            return -1;
        }
    }
    return 0;
}
