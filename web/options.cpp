#include "options.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

const char kWebUsage[] =
    "usage: ovalix-web [run] [--port N] [--pair-port N] [--service-port N] [--state-dir DIR]\n"
    "       ovalix-web pair [--port N] [--pair-port N] [--state-dir DIR]\n"
    "Serves the phone's page over HTTPS (port 5056) and relays a paired phone to\n"
    "the Ovalix service on 127.0.0.1:5055; the pairing page is http://127.0.0.1:5057/.\n"
    "\"pair\" prints the pairing address, the certificate's fingerprint and the QR code.\n";

static bool ParsePort(const char* text, int* port)
{
    char* end = nullptr;
    long value = strtol(text, &end, 10);
    if (end == text || *end != 0 || value < 1 || value > 65535) {
        return false;
    }
    *port = static_cast<int>(value);
    return true;
}

bool ParseWebOptions(int argc, char** argv, WebOptions* options, char* error, size_t cap)
{
    memset(options, 0, sizeof *options);
    options->command = WEB_RUN;
    options->port = WEB_PORT;
    options->pairPort = WEB_PAIR_PORT;
    options->servicePort = WEB_SERVICE_PORT;
    int i = 1;
    if (i < argc && argv[i][0] != '-') {
        if (strcmp(argv[i], "run") == 0) {
            options->command = WEB_RUN;
        } else if (strcmp(argv[i], "pair") == 0) {
            options->command = WEB_PAIR;
        } else if (strcmp(argv[i], "service") == 0) {
            options->command = WEB_SERVICE;
        } else {
            snprintf(error, cap, "unknown command: %s", argv[i]);
            return false;
        }
        i++;
    }
    for (; i < argc; i++) {
        const char* word = argv[i];
        if (strcmp(word, "--help") == 0 || strcmp(word, "-h") == 0) {
            options->command = WEB_HELP;
            return true;
        }
        int* port = strcmp(word, "--port") == 0           ? &options->port
                    : strcmp(word, "--pair-port") == 0    ? &options->pairPort
                    : strcmp(word, "--service-port") == 0 ? &options->servicePort
                                                          : nullptr;
        bool isDir = strcmp(word, "--state-dir") == 0;
        if (port == nullptr && !isDir) {
            snprintf(error, cap, "unknown option: %s", word);
            return false;
        }
        if (i + 1 >= argc) {
            snprintf(error, cap, "%s needs a value", word);
            return false;
        }
        const char* value = argv[++i];
        if (port != nullptr && !ParsePort(value, port)) {
            snprintf(error, cap, "%s: not a port: %s", word, value);
            return false;
        }
        if (isDir && snprintf(options->stateDir, sizeof options->stateDir, "%s", value) >=
                         static_cast<int>(sizeof options->stateDir)) {
            snprintf(error, cap, "--state-dir: path too long");
            return false;
        }
    }
    return true;
}
