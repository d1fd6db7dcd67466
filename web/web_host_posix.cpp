#include "web_host.h"

#include <signal.h>
#include <string.h>

static void (*g_stop)() = nullptr;

static void OnSignal(int)
{
    if (g_stop != nullptr) {
        g_stop();
    }
}

int RunHosted(bool, int (*run)(), void (*stop)())
{
    g_stop = stop;
    struct sigaction action;
    memset(&action, 0, sizeof action);
    action.sa_handler = OnSignal;
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);
    signal(SIGPIPE, SIG_IGN);
    return run();
}

void PrepareTerminal() {}
