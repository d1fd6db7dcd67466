#pragma once
// The byte pipe between the phone logic and the service: a TCP connection the
// phone opens, one it accepts, or a serial device. The phone logic sees only
// bytes in and bytes out, plus the moment a link starts and ends.

#include <signal.h>
#include <stdint.h>

class PhoneTransport {
public:
    virtual ~PhoneTransport() {}

    // Blocks until a link is up. Returns false once `stop` is set.
    virtual bool WaitForLink(const volatile sig_atomic_t& stop) = 0;

    // Waits up to timeoutMs for bytes. Returns the count read, 0 when nothing
    // arrived in time (or a signal interrupted the wait), -1 when the link ended.
    virtual int Receive(uint8_t* buffer, uint32_t capacity, int timeoutMs) = 0;

    // Writes every byte, waiting while the peer's buffer is full. Returns false
    // when the link ended or the peer took nothing for a long while.
    virtual bool Send(const uint8_t* bytes, uint32_t length) = 0;

    // Ends the current link. A serial device stays open: the cable is still
    // there, and the next link starts on the same device.
    virtual void EndLink() = 0;
};

// Each transport owns one file descriptor for the link's life; the three
// implementations differ only in how that descriptor comes to be.
class FdTransport : public PhoneTransport {
public:
    FdTransport() : fd(-1) {}
    ~FdTransport() override;
    int Receive(uint8_t* buffer, uint32_t capacity, int timeoutMs) override;
    bool Send(const uint8_t* bytes, uint32_t length) override;
    void EndLink() override;

protected:
    int fd;
};

// Connects to host:port, retrying every retryMs until the service accepts.
PhoneTransport* CreateTcpClientTransport(const char* host, uint16_t port, int retryMs);
// Listens on port (every local address) and accepts one connection per link.
PhoneTransport* CreateTcpListenTransport(uint16_t port);
// Opens a serial device raw at 576000 baud where the device has a baud rate.
PhoneTransport* CreateSerialTransport(const char* device);
