// The bridge: one thread and one poll loop (the WebSocket library's) over
// the phone port (HTTPS and the WebSocket), the pairing page on loopback,
// and the link to the service's phone port.
#pragma once

#include "credentials.h"
#include "host_info.h"
#include "options.h"

// Serves until StopBridge; 0 on a clean stop, 1 when the ports could not be
// opened.
int RunBridge(const WebOptions& options, const Credentials& credentials, const HostInfo& host);

// Ends RunBridge from a signal handler or another thread.
void StopBridge();
