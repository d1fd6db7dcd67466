#pragma once
// ovalix-monitor's command line: one command, and the options that go with it.
//
//   ovalix-monitor                       print the block once
//   ovalix-monitor --watch               print it every 500 ms until Ctrl-C
//   ovalix-monitor --request WxH         ask for another picture size
//   ovalix-monitor --wait-state N [--timeout MS]
//   ovalix-monitor --take [--seconds S] [--frames N] [--save DIR] [--quiet]
//                         [--newest-only] [--fresh]

#include <stdint.h>

#include "frame_taker.h"
#include "picture_size.h"

enum MonitorCommand {
    MONITOR_PRINT,
    MONITOR_WATCH,
    MONITOR_REQUEST,
    MONITOR_WAIT_STATE,
    MONITOR_TAKE
};

struct MonitorOptions {
    MonitorCommand command = MONITOR_PRINT;
    PictureSize request = {0, 0};  // --request
    uint64_t state = 0;            // --wait-state
    bool haveTimeout = false;
    uint64_t timeoutMs = 0;
    TakeOptions take;  // --take
};

extern const char MONITOR_USAGE[];

// False on an unknown option, a bad value, a second command, or an option
// that does not go with the command.
bool ParseMonitorOptions(int argc, char** argv, MonitorOptions& options);
