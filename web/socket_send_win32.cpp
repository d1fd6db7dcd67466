#include "socket_send.h"

#include <winsock2.h>

long SendSome(long long socket, const void* data, size_t length)
{
    int chunk = length > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<int>(length);
    int n = send(static_cast<SOCKET>(socket), static_cast<const char*>(data), chunk, 0);
    if (n != SOCKET_ERROR) {
        return n;
    }
    return WSAGetLastError() == WSAEWOULDBLOCK ? 0 : -1;
}
