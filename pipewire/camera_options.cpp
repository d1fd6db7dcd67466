#include "camera_options.h"

#include <getopt.h>
#include <stdlib.h>

const char CAMERA_USAGE[] =
    "usage: ovalix-camera [--node-name NAME] [--description TEXT] [--stats] [--seconds S]\n"
    "  --node-name NAME     PipeWire node name (ovalix-camera)\n"
    "  --description TEXT   name shown in camera pickers (Ovalix Camera)\n"
    "  --stats              print frame counts, gaps and latency at exit\n"
    "  --seconds S          stop after S seconds\n";

namespace {

enum Option { OPT_NODE_NAME = 256, OPT_DESCRIPTION, OPT_STATS, OPT_SECONDS };

const option OPTIONS[] = {
    {"node-name",   required_argument, nullptr, OPT_NODE_NAME  },
    {"description", required_argument, nullptr, OPT_DESCRIPTION},
    {"stats",       no_argument,       nullptr, OPT_STATS      },
    {"seconds",     required_argument, nullptr, OPT_SECONDS    },
    {nullptr,       0,                 nullptr, 0              },
};

// Reads one option into o; false on a bad value.
bool Apply(int option, const char* value, CameraOptions& o)
{
    switch (option) {
    case OPT_NODE_NAME:
        o.nodeName = value;
        return *value != '\0';
    case OPT_DESCRIPTION:
        o.description = value;
        return *value != '\0';
    case OPT_STATS:
        o.stats = true;
        return true;
    case OPT_SECONDS: {
        char* end = nullptr;
        unsigned long seconds = strtoul(value, &end, 10);
        o.seconds = (uint32_t)seconds;
        return *value >= '0' && *value <= '9' && *end == '\0' && seconds > 0 && seconds <= 1000000;
    }
    }
    return false;  // unknown, or a value missing
}

}  // namespace

bool ParseCameraOptions(int argc, char** argv, CameraOptions& o)
{
    o.nodeName = "ovalix-camera";
    o.description = "Ovalix Camera";
    o.stats = false;
    o.seconds = 0;
    optind = 0;  // a fresh scan, also when called again
    opterr = 0;
    int option;
    while ((option = getopt_long(argc, argv, ":", OPTIONS, nullptr)) != -1)
        if (!Apply(option, optarg, o))
            return false;
    return optind == argc;
}
