#pragma once
// The two socket-level calls a resolve makes outside the DNS-SD library.

#include <stdint.h>

#include "discovery/dns_sd_api.h"

// True when the library's reply socket is readable now; never waits. A failed
// check counts as nothing waiting.
bool ReplyWaiting(dnssd_sock_t socket);

// Looks up a host name (gethostbyname) and gives the first IPv4 address of the
// answer in host byte order. False when the name cannot be looked up.
bool LookUpFirstAddress(const char* hostName, uint32_t& address);
