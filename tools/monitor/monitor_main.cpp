// ovalix-monitor: looks at the shared camera block from outside, as a video
// consumer would.
//
//   ovalix-monitor                       print the block once
//   ovalix-monitor --watch               print it every 500 ms until Ctrl-C
//   ovalix-monitor --request WxH         ask for another picture size
//   ovalix-monitor --wait-state N [--timeout MS]
//   ovalix-monitor --take [--seconds S] [--frames N] [--save DIR] [--quiet]
//                         [--newest-only]

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "block_consumer.h"
#include "block_view.h"
#include "frame_taker.h"
#include "picture_size.h"
#include "ticks.h"

namespace {

const uint32_t WATCH_INTERVAL_MS = 500;
const uint32_t STATE_POLL_MS = 10;

int Usage()
{
    fprintf(stderr,
            "usage: ovalix-monitor [--watch]\n"
            "       ovalix-monitor --request WxH\n"
            "       ovalix-monitor --wait-state N [--timeout MS]\n"
            "       ovalix-monitor --take [--seconds S] [--frames N] [--save DIR] [--quiet]"
            " [--newest-only]\n");
    return 2;
}

bool ParseUnsigned(const char* text, uint64_t& value)
{
    if (text == nullptr || *text == '\0')
        return false;
    char* end = nullptr;
    unsigned long long v = strtoull(text, &end, 10);
    if (*end != '\0' || text[0] == '-')
        return false;
    value = v;
    return true;
}

int PrintOnce(bool watch)
{
    CCameraClient client;
    if (!OpenBlock(client, false))
        return 1;
    InstallInterruptHandler();
    do {
        // Watching goes on across a restart of the service.
        if (client.Attach())
            PrintBlock(stdout, *client.Block());
        else
            printf("no service\n");
        if (watch)
            printf("--\n");
        fflush(stdout);
        for (uint32_t waited = 0; watch && waited < WATCH_INTERVAL_MS && !Interrupted();
             waited += 50)
            ClientSleepMs(50);
    } while (watch && !Interrupted());
    return 0;
}

int Request(const char* size)
{
    PictureSize picture;
    if (!ParsePictureSize(size, picture))
        return Usage();
    CCameraClient client;
    if (!OpenBlock(client, false))
        return 1;
    client.RequestSize(picture.width, picture.height);
    return 0;
}

// Waits for the service to come up as well as for the state, so that a script
// can call it right after starting the service.
int WaitState(uint64_t state, bool haveTimeout, uint64_t timeoutMs)
{
    InstallInterruptHandler();
    CCameraClient client;
    uint32_t start = GetTickMs();
    for (;;) {
        uint32_t current = LINK_IDLE;
        bool attached = client.Attach() && client.ReadLinkState(current);
        if (attached && current == state)
            return 0;
        if (Interrupted() || (haveTimeout && GetTickMs() - start >= timeoutMs)) {
            if (!attached)
                OpenBlock(client, false);
            else
                fprintf(stderr, "ovalix-monitor: link state is %u, not %llu\n",
                        (unsigned)current, (unsigned long long)state);
            return 1;
        }
        ClientSleepMs(STATE_POLL_MS);
    }
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc == 1)
        return PrintOnce(false);
    const char* command = argv[1];
    if (strcmp(command, "--watch") == 0 && argc == 2)
        return PrintOnce(true);
    if (strcmp(command, "--request") == 0 && argc == 3)
        return Request(argv[2]);

    if (strcmp(command, "--wait-state") == 0) {
        uint64_t state = 0;
        uint64_t timeout = 0;
        bool haveTimeout = false;
        if (argc < 3 || !ParseUnsigned(argv[2], state))
            return Usage();
        for (int i = 3; i < argc; ++i) {
            if (strcmp(argv[i], "--timeout") == 0 && i + 1 < argc &&
                ParseUnsigned(argv[i + 1], timeout)) {
                haveTimeout = true;
                ++i;
            } else {
                return Usage();
            }
        }
        return WaitState(state, haveTimeout, timeout);
    }

    if (strcmp(command, "--take") == 0) {
        TakeOptions options;
        for (int i = 2; i < argc; ++i) {
            const char* arg = argv[i];
            const char* value = i + 1 < argc ? argv[i + 1] : nullptr;
            if (strcmp(arg, "--seconds") == 0 && value != nullptr) {
                char* end = nullptr;
                options.seconds = strtod(value, &end);
                if (*end != '\0' || options.seconds < 0)
                    return Usage();
                ++i;
            } else if (strcmp(arg, "--frames") == 0 && ParseUnsigned(value, options.frames)) {
                ++i;
            } else if (strcmp(arg, "--save") == 0 && value != nullptr) {
                options.saveDir = value;
                ++i;
            } else if (strcmp(arg, "--quiet") == 0) {
                options.quiet = true;
            } else if (strcmp(arg, "--newest-only") == 0) {
                options.newestOnly = true;
            } else {
                return Usage();
            }
        }
        CCameraClient client;
        if (!OpenBlock(client, false))
            return 1;
        InstallInterruptHandler();
        return TakeFrames(client, options);
    }
    return Usage();
}
