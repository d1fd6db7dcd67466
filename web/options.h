// The command line of ovalix-web:
//   ovalix-web [run] [--port N] [--pair-port N] [--service-port N] [--state-dir DIR]
//   ovalix-web pair [--port N] [--pair-port N] [--state-dir DIR]
//   ovalix-web service   (Windows: started by the service manager)
#pragma once

#include "state_store.h"

enum WebCommand { WEB_RUN, WEB_PAIR, WEB_SERVICE, WEB_HELP };

enum { WEB_PORT = 5056, WEB_PAIR_PORT = 5057, WEB_SERVICE_PORT = 5055 };

struct WebOptions {
    WebCommand command;
    int port;                         // HTTPS for phones, every address
    int pairPort;                     // the pairing page, loopback only
    int servicePort;                  // the service's phone port on loopback
    char stateDir[STATE_PATH_CHARS];  // empty: the platform's default
};

// Fills options from argv; false with a message in error (capacity cap)
// when a word or a value is not understood.
bool ParseWebOptions(int argc, char** argv, WebOptions* options, char* error, size_t cap);

extern const char kWebUsage[];
