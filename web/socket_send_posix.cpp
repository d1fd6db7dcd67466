#include "socket_send.h"

#include <errno.h>
#include <sys/socket.h>

long SendSome(long long socket, const void* data, size_t length)
{
    for (;;) {
        ssize_t n = send(static_cast<int>(socket), data, length, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n >= 0) {
            return static_cast<long>(n);
        }
        if (errno == EINTR) {
            continue;
        }
        return errno == EAGAIN || errno == EWOULDBLOCK ? 0 : -1;
    }
}
