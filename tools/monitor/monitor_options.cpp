#include "monitor_options.h"

#include <getopt.h>
#include <stdlib.h>

const char MONITOR_USAGE[] =
    "usage: ovalix-monitor [--watch]\n"
    "       ovalix-monitor --request WxH\n"
    "       ovalix-monitor --wait-state N [--timeout MS]\n"
    "       ovalix-monitor --take [--seconds S] [--frames N] [--save DIR] [--quiet]"
    " [--newest-only]\n"
    "                      [--fresh]\n";

namespace {

enum Option {
    OPT_WATCH = 256,
    OPT_REQUEST,
    OPT_WAIT_STATE,
    OPT_TIMEOUT,
    OPT_TAKE,
    OPT_SECONDS,
    OPT_FRAMES,
    OPT_SAVE,
    OPT_QUIET,
    OPT_NEWEST_ONLY,
    OPT_FRESH
};

const option OPTIONS[] = {
    {"watch",       no_argument,       nullptr, OPT_WATCH      },
    {"request",     required_argument, nullptr, OPT_REQUEST    },
    {"wait-state",  required_argument, nullptr, OPT_WAIT_STATE },
    {"timeout",     required_argument, nullptr, OPT_TIMEOUT    },
    {"take",        no_argument,       nullptr, OPT_TAKE       },
    {"seconds",     required_argument, nullptr, OPT_SECONDS    },
    {"frames",      required_argument, nullptr, OPT_FRAMES     },
    {"save",        required_argument, nullptr, OPT_SAVE       },
    {"quiet",       no_argument,       nullptr, OPT_QUIET      },
    {"newest-only", no_argument,       nullptr, OPT_NEWEST_ONLY},
    {"fresh",       no_argument,       nullptr, OPT_FRESH      },
    {nullptr,       0,                 nullptr, 0              },
};

bool ParseUnsigned(const char* text, uint64_t& value)
{
    if (*text < '0' || *text > '9')
        return false;
    char* end = nullptr;
    unsigned long long v = strtoull(text, &end, 10);
    if (*end != '\0')
        return false;
    value = v;
    return true;
}

// The command an option belongs to; MONITOR_PRINT for a command itself.
MonitorCommand OwnerOf(int option)
{
    switch (option) {
    case OPT_TIMEOUT:
        return MONITOR_WAIT_STATE;
    case OPT_SECONDS:
    case OPT_FRAMES:
    case OPT_SAVE:
    case OPT_QUIET:
    case OPT_NEWEST_ONLY:
    case OPT_FRESH:
        return MONITOR_TAKE;
    default:
        return MONITOR_PRINT;
    }
}

// Reads one option into o; false on a bad value.
bool Apply(int option, const char* value, MonitorOptions& o)
{
    char* end = nullptr;
    switch (option) {
    case OPT_WATCH:
        o.command = MONITOR_WATCH;
        return true;
    case OPT_REQUEST:
        o.command = MONITOR_REQUEST;
        return ParsePictureSize(value, o.request);
    case OPT_WAIT_STATE:
        o.command = MONITOR_WAIT_STATE;
        return ParseUnsigned(value, o.state);
    case OPT_TIMEOUT:
        o.haveTimeout = true;
        return ParseUnsigned(value, o.timeoutMs);
    case OPT_TAKE:
        o.command = MONITOR_TAKE;
        return true;
    case OPT_SECONDS:
        o.take.seconds = strtod(value, &end);
        return end != value && *end == '\0' && o.take.seconds >= 0;
    case OPT_FRAMES:
        return ParseUnsigned(value, o.take.frames);
    case OPT_SAVE:
        o.take.saveDir = value;
        return true;
    case OPT_QUIET:
        o.take.quiet = true;
        return true;
    case OPT_NEWEST_ONLY:
        o.take.newestOnly = true;
        return true;
    case OPT_FRESH:
        o.take.fresh = true;
        return true;
    default:
        return false;  // unknown, or a value missing
    }
}

}  // namespace

bool ParseMonitorOptions(int argc, char** argv, MonitorOptions& o)
{
    o = MonitorOptions();
    bool haveCommand = false;
    uint32_t ownersSeen = 0;  // bit per command whose options were given
    optind = 0;               // a fresh scan, also when called again
    opterr = 0;
    int option;
    while ((option = getopt_long(argc, argv, ":", OPTIONS, nullptr)) != -1) {
        MonitorCommand owner = OwnerOf(option);
        if (owner == MONITOR_PRINT) {
            if (haveCommand)
                return false;
            haveCommand = true;
        } else {
            ownersSeen |= 1u << owner;
        }
        if (!Apply(option, optarg, o))
            return false;
    }
    return optind == argc && (ownersSeen & ~(1u << o.command)) == 0;
}
