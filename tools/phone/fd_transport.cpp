#include "phone_transport.h"

#include <errno.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

// A peer that takes no bytes for this long is treated as gone.
static const int SEND_STALL_MS = 2000;

FdTransport::~FdTransport()
{
    EndLink();
}

void FdTransport::EndLink()
{
    if (fd >= 0) {
        close(fd);
        fd = -1;
    }
}

int FdTransport::Receive(uint8_t* buffer, uint32_t capacity, int timeoutMs)
{
    if (fd < 0)
        return -1;
    pollfd p = {fd, POLLIN, 0};
    int r = poll(&p, 1, timeoutMs < 0 ? 0 : timeoutMs);
    if (r <= 0)
        return 0;
    ssize_t n = read(fd, buffer, capacity);
    if (n > 0)
        return (int)n;
    if (n < 0 && (errno == EAGAIN || errno == EINTR))
        return 0;
    return -1;
}

bool FdTransport::Send(const uint8_t* bytes, uint32_t length)
{
    while (length > 0) {
        if (fd < 0)
            return false;
        ssize_t n = send(fd, bytes, length, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n < 0 && errno == ENOTSOCK)
            n = write(fd, bytes, length);
        if (n > 0) {
            bytes += n;
            length -= (uint32_t)n;
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK)
            return false;
        pollfd p = {fd, POLLOUT, 0};
        int r = poll(&p, 1, SEND_STALL_MS);
        if (r == 0)
            return false;
        if (r > 0 && (p.revents & (POLLERR | POLLHUP | POLLNVAL)))
            return false;
    }
    return true;
}
