#include "discovery/resolve_io.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <poll.h>
#include <string.h>
#include <sys/select.h>
#include <sys/socket.h>

bool ReplyWaiting(dnssd_sock_t socket)
{
    if (socket < 0)
        return false;
    if (socket >= FD_SETSIZE) {
        // An fd_set cannot hold this descriptor; poll asks the same question.
        pollfd entry = { socket, POLLIN, 0 };
        return poll(&entry, 1, 0) > 0 && (entry.revents & (POLLIN | POLLHUP | POLLERR)) != 0;
    }
    fd_set readSet;
    FD_ZERO(&readSet);
    FD_SET(socket, &readSet);
    timeval noWait = { 0, 0 };
    return select(socket + 1, &readSet, nullptr, nullptr, &noWait) > 0;
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
