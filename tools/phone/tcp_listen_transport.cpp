// The phone listens for the service, which finds it through discovery and
// connects; one accepted connection is one link.

#include "phone_transport.h"

#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <string.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

class TcpListenTransport : public FdTransport {
public:
    explicit TcpListenTransport(uint16_t p) : port(p), listener(-1)
    {
        // Bound before the service is told about it, so an early connect works.
        OpenListener();
    }
    ~TcpListenTransport() override
    {
        if (listener >= 0)
            close(listener);
    }

    bool WaitForLink(const volatile sig_atomic_t& stop) override
    {
        EndLink();
        while (!stop) {
            if (listener < 0 && !OpenListener()) {
                poll(nullptr, 0, 200);
                continue;
            }
            pollfd p = {listener, POLLIN, 0};
            if (poll(&p, 1, 200) <= 0)
                continue;
            int s = accept4(listener, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
            if (s < 0)
                continue;
            int one = 1;
            setsockopt(s, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
            fd = s;
            return true;
        }
        return false;
    }

private:
    bool OpenListener()
    {
        int s = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (s < 0)
            return false;
        int one = 1;
        setsockopt(s, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
        sockaddr_in a;
        memset(&a, 0, sizeof a);
        a.sin_family = AF_INET;
        a.sin_port = htons(port);
        a.sin_addr.s_addr = htonl(INADDR_ANY);
        if (bind(s, (sockaddr*)&a, sizeof a) != 0 || listen(s, 4) != 0) {
            close(s);
            return false;
        }
        listener = s;
        return true;
    }

    uint16_t port;
    int listener;
};

}  // namespace

PhoneTransport* CreateTcpListenTransport(uint16_t port)
{
    return new TcpListenTransport(port);
}
