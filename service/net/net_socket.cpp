// CNetSocket over Winsock 2 or BSD sockets. The two socket layers differ only
// in a few places (handle type, error codes, the non-blocking switch, how a
// bounded connect wait is made), which the small helpers at the top cover.

#include "net/net_socket.h"

#include <new>
#include <string.h>

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
typedef SOCKET PlatformSocket;
typedef int SockLen;
static const PlatformSocket PLATFORM_INVALID_SOCKET = INVALID_SOCKET;
static const int SEND_FLAGS = 0;
#else
#include <arpa/inet.h>
#include <errno.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>
typedef int PlatformSocket;
typedef socklen_t SockLen;
static const PlatformSocket PLATFORM_INVALID_SOCKET = -1;
// A send to a peer that has gone must fail with a code, not end the process.
static const int SEND_FLAGS = MSG_NOSIGNAL;
#endif

namespace {

PlatformSocket Native(uintptr_t handle)
{
    return (PlatformSocket)handle;
}

uintptr_t Stored(PlatformSocket s)
{
    return (uintptr_t)s;
}

bool LastErrorIsWouldBlock()
{
#ifdef _WIN32
    return WSAGetLastError() == WSAEWOULDBLOCK;
#else
    return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR;
#endif
}

// A non-blocking connect that has not finished yet.
bool LastErrorIsConnectPending()
{
#ifdef _WIN32
    return WSAGetLastError() == WSAEWOULDBLOCK;
#else
    return errno == EINPROGRESS || errno == EINTR;
#endif
}

int CloseNative(PlatformSocket s)
{
#ifdef _WIN32
    return closesocket(s);
#else
    return close(s);
#endif
}

sockaddr_in MakeAddress(uint32_t address, uint16_t port)
{
    sockaddr_in sa;
    memset(&sa, 0, sizeof(sa));
    sa.sin_family = AF_INET;
    sa.sin_port = htons(port);
    sa.sin_addr.s_addr = htonl(address);
    return sa;
}

// Waits up to timeoutMs for a pending connect to end. Returns true only when
// the connection was established.
bool WaitConnected(PlatformSocket s, uint32_t timeoutMs)
{
#ifdef _WIN32
    fd_set writeSet;
    fd_set exceptSet;
    FD_ZERO(&writeSet);
    FD_ZERO(&exceptSet);
    FD_SET(s, &writeSet);
    FD_SET(s, &exceptSet);
    timeval tv;
    tv.tv_sec = (long)(timeoutMs / 1000u);
    tv.tv_usec = (long)((timeoutMs % 1000u) * 1000u);
    int ready = select(0, nullptr, &writeSet, &exceptSet, &tv);
    if (ready <= 0)
        return false;
    // A connection that fails during the wait lands in the exception set.
    return FD_ISSET(s, &writeSet) != 0;
#else
    // poll rather than select: a descriptor number above FD_SETSIZE must not
    // write outside the set.
    pollfd p;
    p.fd = s;
    p.events = POLLOUT;
    p.revents = 0;
    int waitMs = timeoutMs > 0x7FFFFFFFu ? 0x7FFFFFFF : (int)timeoutMs;
    int ready = poll(&p, 1, waitMs);
    if (ready <= 0)
        return false;
    if (!(p.revents & POLLOUT))
        return false;
    // A failed connect also reports the socket writable; its pending error
    // tells the two apart.
    int error = 0;
    socklen_t len = sizeof(error);
    if (getsockopt(s, SOL_SOCKET, SO_ERROR, &error, &len) != 0)
        return false;
    return error == 0;
#endif
}

} // namespace

bool NetReadableNow(uintptr_t socket)
{
    PlatformSocket s = Native(socket);
    if (s == PLATFORM_INVALID_SOCKET)
        return false;
#ifdef _WIN32
    fd_set readSet;
    FD_ZERO(&readSet);
    FD_SET(s, &readSet);
    timeval noWait = { 0, 0 };
    return select(0, &readSet, nullptr, nullptr, &noWait) > 0;
#else
    // poll rather than select, for descriptor numbers above FD_SETSIZE.
    pollfd entry = { s, POLLIN, 0 };
    return poll(&entry, 1, 0) > 0 && (entry.revents & (POLLIN | POLLHUP | POLLERR)) != 0;
#endif
}

bool NetLookUpFirstAddress(const char* hostName, uint32_t& address)
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

bool StartNetworking()
{
#ifdef _WIN32
    WSADATA data;
    return WSAStartup(MAKEWORD(2, 0), &data) == 0;
#else
    return true;
#endif
}

CNetSocket::CNetSocket() : socket(0) {}

CNetSocket::~CNetSocket()
{
    Close();
}

CNetSocket* CNetSocket::CreateTcp()
{
    CNetSocket* s = new (std::nothrow) CNetSocket();
    if (!s)
        return nullptr;
    s->socket = Stored(::socket(AF_INET, SOCK_STREAM, 0));
    int status = NET_OK;
    s->SetBufferSizes(status);
    s->SetNonBlocking();
    return s;
}

CNetSocket* CNetSocket::CreateUdp()
{
    CNetSocket* s = new (std::nothrow) CNetSocket();
    if (!s)
        return nullptr;
    s->socket = Stored(::socket(AF_INET, SOCK_DGRAM, 0));
    s->SetNonBlocking();
    return s;
}

void CNetSocket::SetBufferSizes(int& status)
{
    const int options[2] = {SO_RCVBUF, SO_SNDBUF};
    for (int option : options) {
        int wanted = NET_BUFFER_SIZE;
        setsockopt(Native(socket), SOL_SOCKET, option, (const char*)&wanted, sizeof(wanted));
        int granted = 0;
        SockLen len = sizeof(granted);
        getsockopt(Native(socket), SOL_SOCKET, option, (char*)&granted, &len);
        if (granted != NET_BUFFER_SIZE)
            status = NET_BUFFER_SIZE_REFUSED;
    }
}

int CNetSocket::SetNonBlocking()
{
#ifdef _WIN32
    u_long on = 1;
    return ioctlsocket(Native(socket), FIONBIO, &on);
#else
    int flags = fcntl(Native(socket), F_GETFL, 0);
    if (flags < 0)
        return flags;
    return fcntl(Native(socket), F_SETFL, flags | O_NONBLOCK);
#endif
}

int CNetSocket::Bind(uint32_t address, uint16_t port)
{
#ifndef _WIN32
    // Without this, a link that this side closed leaves the port in TIME_WAIT
    // and the next bind fails for a minute. (On Windows the same option would
    // let another program take the port, so it is set only here.)
    int on = 1;
    setsockopt(Native(socket), SOL_SOCKET, SO_REUSEADDR, &on, sizeof(on));
#endif
    sockaddr_in sa = MakeAddress(address, port);
    if (bind(Native(socket), (const sockaddr*)&sa, sizeof(sa)) != 0)
        return NET_BIND_FAILED;
    return NET_OK;
}

int CNetSocket::Listen()
{
    if (listen(Native(socket), 5) != 0)
        return NET_LISTEN_FAILED;
    return NET_OK;
}

int CNetSocket::Connect(uint32_t address, uint16_t port, uint32_t timeoutMs)
{
    sockaddr_in sa = MakeAddress(address, port);
    if (connect(Native(socket), (const sockaddr*)&sa, sizeof(sa)) == 0)
        return NET_OK;
    if (!LastErrorIsConnectPending())
        return NET_CONNECT_FAILED;
    return WaitConnected(Native(socket), timeoutMs) ? NET_OK : NET_CONNECT_FAILED;
}

int CNetSocket::Send(const void* data, int length)
{
    int sent = (int)send(Native(socket), (const char*)data, length, SEND_FLAGS);
    return sent == length ? NET_OK : NET_SEND_INCOMPLETE;
}

int CNetSocket::SendTo(const void* data, int length, uint32_t address, uint16_t port)
{
    sockaddr_in sa = MakeAddress(address, port);
    return (int)sendto(Native(socket), (const char*)data, length, SEND_FLAGS,
                       (const sockaddr*)&sa, sizeof(sa));
}

int CNetSocket::Receive(void* buffer, int& size)
{
    int n = (int)recv(Native(socket), (char*)buffer, size, 0);
    if (n > 0) {
        size = n;
        return NET_OK;
    }
    size = 0;
    if (n < 0 && LastErrorIsWouldBlock())
        return NET_OK;
    return NET_RECEIVE_FAILED;
}

uint32_t CNetSocket::LocalAddress()
{
    sockaddr_in sa;
    memset(&sa, 0, sizeof(sa));
    SockLen len = sizeof(sa);
    if (getsockname(Native(socket), (sockaddr*)&sa, &len) != 0)
        return 0;
    const uint8_t* b = (const uint8_t*)&sa.sin_addr;
    return ((uint32_t)b[0] << 24) | ((uint32_t)b[1] << 16) | ((uint32_t)b[2] << 8) | b[3];
}

int CNetSocket::Accept()
{
    sockaddr_in peer;
    SockLen len = sizeof(peer);
    PlatformSocket accepted = accept(Native(socket), (sockaddr*)&peer, &len);
    if (accepted == PLATFORM_INVALID_SOCKET)
        return LastErrorIsWouldBlock() ? NET_NO_PENDING_CONNECTION : NET_ACCEPT_FAILED;
    CloseNative(Native(socket));
    socket = Stored(accepted);
#ifndef _WIN32
    // Winsock hands the listening socket's options on to the accepted one;
    // BSD sockets do not pass on the non-blocking mode, so both are set here.
    int status = NET_OK;
    SetBufferSizes(status);
    SetNonBlocking();
#endif
    return NET_OK;
}

int CNetSocket::Close()
{
    return CloseNative(Native(socket));
}
