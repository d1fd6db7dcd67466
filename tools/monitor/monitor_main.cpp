// ovalix-monitor: looks at the shared camera block from outside, as a video
// consumer would (commands in monitor_options.h).

#include <stdio.h>

#include "block_consumer.h"
#include "block_view.h"
#include "frame_taker.h"
#include "monitor_options.h"
#include "ticks.h"

namespace {

const uint32_t WATCH_INTERVAL_MS = 500;
const uint32_t STATE_POLL_MS = 10;

int Usage()
{
    fputs(MONITOR_USAGE, stderr);
    return 2;
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

int Request(PictureSize size)
{
    CCameraClient client;
    if (!OpenBlock(client, false))
        return 1;
    client.RequestSize(size.width, size.height);
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

int Take(const TakeOptions& options)
{
    CCameraClient client;
    if (!OpenBlock(client, false))
        return 1;
    InstallInterruptHandler();
    return TakeFrames(client, options);
}

}  // namespace

int main(int argc, char** argv)
{
    MonitorOptions options;
    if (!ParseMonitorOptions(argc, argv, options))
        return Usage();
    switch (options.command) {
    case MONITOR_PRINT:
        return PrintOnce(false);
    case MONITOR_WATCH:
        return PrintOnce(true);
    case MONITOR_REQUEST:
        return Request(options.request);
    case MONITOR_WAIT_STATE:
        return WaitState(options.state, options.haveTimeout, options.timeoutMs);
    case MONITOR_TAKE:
        return Take(options.take);
    }
    return Usage();
}
