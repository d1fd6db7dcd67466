// ovalix-web: the browser phone's bridge. It serves the phone's page over
// HTTPS, relays the paired page's WebSocket to the service's phone port on
// loopback, and serves the pairing page on loopback. `ovalix-web pair`
// prints the pairing address, the certificate's fingerprint and the QR code.

#include <stdio.h>
#include <string.h>

#include "bridge.h"
#include "credentials.h"
#include "host_info.h"
#include "options.h"
#include "pair_page.h"
#include "web_host.h"

namespace {

WebOptions g_options;
Credentials g_credentials;
HostInfo g_host;

int Run()
{
    return RunBridge(g_options, g_credentials, g_host);
}

}  // namespace

int main(int argc, char** argv)
{
    char error[256];
    if (!ParseWebOptions(argc, argv, &g_options, error, sizeof error)) {
        fprintf(stderr, "ovalix-web: %s\n%s", error, kWebUsage);
        return 2;
    }
    if (g_options.command == WEB_HELP) {
        fputs(kWebUsage, stdout);
        return 0;
    }
    if (g_options.stateDir[0] == 0 &&
        !DefaultStateDir(g_options.stateDir, sizeof g_options.stateDir)) {
        fprintf(stderr, "ovalix-web: the state directory's path is too long\n");
        return 1;
    }
    ReadHostInfo(&g_host);
    if (!LoadCredentials(g_options.stateDir, g_host, &g_credentials)) {
        return 1;
    }
    if (g_options.command == WEB_PAIR) {
        PrepareTerminal();
        PrintPairing(g_credentials, g_host, g_options.port, g_options.pairPort, stdout);
        return 0;
    }
    return RunHosted(g_options.command == WEB_SERVICE, Run, StopBridge);
}
