// The phone on a serial cable: one device, opened once, raw 8N1 at 576000
// baud. The link never "closes"; the phone announces itself again instead.

#include "phone_transport.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <stdio.h>
#include <string.h>
#include <termios.h>
#include <unistd.h>

namespace {

class SerialTransport : public FdTransport {
public:
    explicit SerialTransport(const char* d) { snprintf(device, sizeof device, "%s", d); }

    bool WaitForLink(const volatile sig_atomic_t& stop) override
    {
        while (!stop) {
            if (fd >= 0 || Open())
                return true;
            poll(nullptr, 0, 200);
        }
        return false;
    }

    int Receive(uint8_t* buffer, uint32_t capacity, int timeoutMs) override
    {
        // A pty whose other end is closed reports a hang-up at once; wait out
        // the time-out instead of spinning, the service may open it again.
        pollfd p = {fd, POLLIN, 0};
        int r = poll(&p, 1, timeoutMs < 0 ? 0 : timeoutMs);
        if (r <= 0)
            return 0;
        if (!(p.revents & POLLIN)) {
            poll(nullptr, 0, timeoutMs < 0 ? 0 : timeoutMs);
            return 0;
        }
        ssize_t n = read(fd, buffer, capacity);
        return n > 0 ? (int)n : 0;
    }

    // Ending a link discards what the device still holds, nothing more.
    void EndLink() override
    {
        if (fd >= 0)
            tcflush(fd, TCIOFLUSH);
    }

private:
    bool Open()
    {
        int s = open(device, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (s < 0)
            return false;
        termios t;
        if (tcgetattr(s, &t) == 0) {
            cfmakeraw(&t);
            t.c_cflag |= CLOCAL | CREAD;
            t.c_cflag &= ~(CRTSCTS | CSTOPB | PARENB);
            cfsetispeed(&t, B576000);
            cfsetospeed(&t, B576000);
            tcsetattr(s, TCSANOW, &t);
        }
        fd = s;
        return true;
    }

    char device[256];
};

}  // namespace

PhoneTransport* CreateSerialTransport(const char* device)
{
    return new SerialTransport(device);
}
