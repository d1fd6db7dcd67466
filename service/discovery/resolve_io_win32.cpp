#include "discovery/resolve_io.h"

#include <winsock2.h>
#include <string.h>

bool ReplyWaiting(dnssd_sock_t socket)
{
    if (socket == DNSSD_NO_SOCKET)
        return false;
    fd_set readSet;
    FD_ZERO(&readSet);
    FD_SET(static_cast<SOCKET>(socket), &readSet);
    timeval noWait = { 0, 0 };
    return select(0, &readSet, nullptr, nullptr, &noWait) > 0;
}

bool LookUpFirstAddress(const char* hostName, uint32_t& address)
{
    hostent* host = gethostbyname(hostName);
    if (host == nullptr || host->h_addrtype != AF_INET || host->h_length != 4 ||
        host->h_addr_list == nullptr || host->h_addr_list[0] == nullptr)
        return false;
    uint32_t networkOrder;
    memcpy(&networkOrder, host->h_addr_list[0], sizeof networkOrder);
    address = ntohl(networkOrder);
    return true;
}
