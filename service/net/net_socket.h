#pragma once
// CNetSocket: a thin wrapper over one non-blocking IPv4 socket. Addresses and
// ports cross this interface in host byte order.

#include <stdint.h>

enum NetResult {
    NET_OK = 0,
    NET_SEND_INCOMPLETE = 2,
    NET_BIND_FAILED = 4,
    NET_LISTEN_FAILED = 5,
    NET_ACCEPT_FAILED = 6,
    NET_RECEIVE_FAILED = 7,
    NET_CONNECT_FAILED = 10,
    NET_NO_PENDING_CONNECTION = 12,
    NET_BUFFER_SIZE_REFUSED = 13,
};

const int NET_BUFFER_SIZE = 2000000;

class CNetSocket {
public:
    static CNetSocket* CreateTcp();
    // Datagrams and the local address complete the class; the service uses
    // neither, and only the socket's own tests call them.
    static CNetSocket* CreateUdp();
    ~CNetSocket();

    void SetBufferSizes(int& status);
    int SetNonBlocking();
    int Bind(uint32_t address, uint16_t port);
    int Listen();
    int Connect(uint32_t address, uint16_t port, uint32_t timeoutMs);
    int Send(const void* data, int length);
    int SendTo(const void* data, int length, uint32_t address, uint16_t port);  // tests only
    int Receive(void* buffer, int& size);
    uint32_t LocalAddress();  // tests only
    int Accept();
    int Close();
    // The platform's socket, for a wait on its readiness; the object keeps it.
    uintptr_t Handle() const { return socket; }

private:
    CNetSocket();
    CNetSocket(const CNetSocket&);
    CNetSocket& operator=(const CNetSocket&);

    uintptr_t socket;
};

// Winsock start-up (version 2.0) on Windows; on POSIX there is nothing to start.
bool StartNetworking();

// True when a socket another library owns (the DNS-SD reply socket) has
// something to read now; never waits. An invalid socket or a failed check
// counts as nothing waiting.
bool NetReadableNow(uintptr_t socket);

// Looks up a host name (gethostbyname) and gives the first IPv4 address of the
// answer in host byte order. False when the name cannot be looked up.
bool NetLookUpFirstAddress(const char* hostName, uint32_t& address);
