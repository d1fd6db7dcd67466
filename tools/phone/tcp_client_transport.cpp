// The phone connects to the service's listening port and keeps trying until
// the service accepts; after a link ends it connects afresh.

#include "phone_transport.h"

#include <arpa/inet.h>
#include <errno.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <stdio.h>
#include <string.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

class TcpClientTransport : public FdTransport {
public:
    TcpClientTransport(const char* h, uint16_t p, int retry) : port(p), retryMs(retry)
    {
        snprintf(host, sizeof host, "%s", h);
    }

    bool WaitForLink(const volatile sig_atomic_t& stop) override
    {
        EndLink();
        while (!stop) {
            if (TryConnect())
                return true;
            poll(nullptr, 0, retryMs);
        }
        return false;
    }

private:
    bool TryConnect()
    {
        addrinfo hints;
        memset(&hints, 0, sizeof hints);
        hints.ai_family = AF_INET;
        hints.ai_socktype = SOCK_STREAM;
        char service[8];
        snprintf(service, sizeof service, "%u", port);
        addrinfo* found = nullptr;
        if (getaddrinfo(host, service, &hints, &found) != 0 || !found)
            return false;
        int s = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        bool ok = s >= 0 && connect(s, found->ai_addr, found->ai_addrlen) == 0;
        freeaddrinfo(found);
        if (!ok) {
            if (s >= 0)
                close(s);
            return false;
        }
        // Frames leave as soon as they are written; latency matters more
        // than packet count on this link.
        int one = 1;
        setsockopt(s, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        fcntl(s, F_SETFL, fcntl(s, F_GETFL) | O_NONBLOCK);
        fd = s;
        return true;
    }

    char host[256];
    uint16_t port;
    int retryMs;
};

}  // namespace

PhoneTransport* CreateTcpClientTransport(const char* host, uint16_t port, int retryMs)
{
    return new TcpClientTransport(host, port, retryMs);
}
