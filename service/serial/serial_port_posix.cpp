// The serial worker on a termios tty. The five signals are eventfds; the
// port's non-blocking reads and writes are driven from the wait itself, which
// raises "read complete" once the requested count has arrived and "write
// complete" once every byte has gone, just as an overlapped read with zero
// time-outs and an overlapped write complete on their own.

#include "serial/serial_port.h"

#include "serial/com_map.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <string.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <atomic>

namespace {

// The I/O thread serves the lowest signalled index first: stop before a read
// completion, before starting a read, before write completion and start.
enum SerialEvent {
    EVENT_STOP = 0,
    EVENT_READ_DONE = 1,
    EVENT_START_READ = 2,
    EVENT_WRITE_DONE = 3,
    EVENT_START_WRITE = 4,
    EVENT_COUNT = 5,
};

const int STOP_WAIT_MS = 2000;

bool IsManualReset(int index)
{
    return index == EVENT_READ_DONE || index == EVENT_WRITE_DONE;
}

// One direction of transfer between a buffer and the port, in the manner of
// an overlapped operation: pending until done reaches wanted or an error.
struct Transfer {
    bool pending;
    int wanted;
    int done;
    int error;
};

void BeginTransfer(Transfer* t, int wanted)
{
    t->pending = true;
    t->wanted = wanted;
    t->done = 0;
    t->error = 0;
}

void EndTransfer(Transfer* t, int error)
{
    t->pending = false;
    t->error = error;
}

// Time-outs: none at all, so a read waits for its full count.
bool SetZeroTimeouts(int fd)
{
    termios t;
    if (tcgetattr(fd, &t) != 0)
        return false;
    t.c_cc[VMIN] = 0;
    t.c_cc[VTIME] = 0;
    return tcsetattr(fd, TCSANOW, &t) == 0;
}

// Raw 8N1 at 576000 baud, no flow control of either kind, DTR and RTS raised.
bool SetLineSettings(int fd)
{
    termios t;
    if (tcgetattr(fd, &t) != 0)
        return false;
    cfmakeraw(&t);
    t.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | CSTOPB | CRTSCTS);
    t.c_cflag |= CS8 | CLOCAL | CREAD;
    t.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY);
    t.c_cc[VMIN] = 0;
    t.c_cc[VTIME] = 0;
    if (cfsetispeed(&t, B576000) != 0 || cfsetospeed(&t, B576000) != 0)
        return false;
    if (tcsetattr(fd, TCSANOW, &t) != 0)
        return false;
    // tcsetattr succeeds when any part of the change was taken; check the
    // parts that matter.
    termios now;
    if (tcgetattr(fd, &now) != 0 || cfgetospeed(&now) != B576000 ||
        (now.c_cflag & (CSIZE | PARENB | CSTOPB | CRTSCTS)) != CS8 ||
        (now.c_iflag & (IXON | IXOFF)) != 0)
        return false;
    // A pseudo-terminal has no modem lines and refuses them with ENOTTY or
    // EINVAL; it carries data just the same, so that is not a failure.
    int lines = TIOCM_DTR | TIOCM_RTS;
    if (ioctl(fd, TIOCMBIS, &lines) != 0 && errno != ENOTTY && errno != EINVAL)
        return false;
    return true;
}

}  // namespace

struct CSerialPort::Impl {
    int events[EVENT_COUNT];
    int port;
    pthread_t thread;
    bool threadHeld;
    Transfer readTransfer;
    Transfer writeTransfer;
    std::atomic<bool> writeBusy;
    bool readBusy;
    std::atomic<int> readSize;
    int lastReadCount;
    std::atomic<int> writeLength;
    SerialObserver* observer;
    uint8_t receiveBuffer[SERIAL_BUFFER_SIZE];
    uint8_t writeBuffer[SERIAL_BUFFER_SIZE];
};

namespace {

void Signal(int fd)
{
    uint64_t one = 1;
    ssize_t ignored = write(fd, &one, sizeof(one));
    (void)ignored;
}

void Unsignal(int fd)
{
    uint64_t value;
    ssize_t ignored = read(fd, &value, sizeof(value));
    (void)ignored;
}

// Moves what the port will take now; completes the transfer (and raises its
// signal) when it is done or the line has failed.
void PumpRead(CSerialPort::Impl* p, short revents)
{
    Transfer* t = &p->readTransfer;
    while (t->done < t->wanted) {
        ssize_t n = read(p->port, p->receiveBuffer + t->done, static_cast<size_t>(t->wanted - t->done));
        if (n > 0) {
            t->done += static_cast<int>(n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        // With no minimum count set, a tty read returns 0 (or EAGAIN) when
        // nothing is there yet; on a hung-up line the rest never comes.
        if (n == 0 || errno == EAGAIN) {
            if (revents & (POLLHUP | POLLERR | POLLNVAL))
                break;
            return;
        }
        EndTransfer(t, errno);
        Signal(p->events[EVENT_READ_DONE]);
        return;
    }
    EndTransfer(t, t->done == t->wanted ? 0 : EIO);
    Signal(p->events[EVENT_READ_DONE]);
}

void PumpWrite(CSerialPort::Impl* p, short revents)
{
    Transfer* t = &p->writeTransfer;
    while (t->done < t->wanted) {
        ssize_t n = write(p->port, p->writeBuffer + t->done, static_cast<size_t>(t->wanted - t->done));
        if (n > 0) {
            t->done += static_cast<int>(n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n == 0 || errno == EAGAIN) {
            if (revents & (POLLHUP | POLLERR | POLLNVAL))
                break;
            return;
        }
        EndTransfer(t, errno);
        Signal(p->events[EVENT_WRITE_DONE]);
        return;
    }
    EndTransfer(t, t->done == t->wanted ? 0 : EIO);
    Signal(p->events[EVENT_WRITE_DONE]);
}

// Waits for the five signals while moving the port's data; returns the lowest
// signalled index (consuming it if it resets itself), or -1 if waiting fails.
int WaitForEvent(CSerialPort::Impl* p)
{
    for (;;) {
        pollfd fds[EVENT_COUNT + 1];
        for (int i = 0; i < EVENT_COUNT; ++i) {
            fds[i].fd = p->events[i];
            fds[i].events = POLLIN;
            fds[i].revents = 0;
        }
        short portEvents = static_cast<short>((p->readTransfer.pending ? POLLIN : 0) |
                                              (p->writeTransfer.pending ? POLLOUT : 0));
        // With nothing in flight the port is left out: a hung-up line would
        // otherwise report itself over and over.
        fds[EVENT_COUNT].fd = portEvents != 0 ? p->port : -1;
        fds[EVENT_COUNT].events = portEvents;
        fds[EVENT_COUNT].revents = 0;

        if (poll(fds, EVENT_COUNT + 1, -1) < 0) {
            if (errno == EINTR)
                continue;
            return -1;
        }
        short portReady = fds[EVENT_COUNT].revents;
        if (portReady != 0) {
            const short failed = POLLHUP | POLLERR | POLLNVAL;
            if (p->readTransfer.pending && (portReady & (POLLIN | failed)))
                PumpRead(p, portReady);
            if (p->writeTransfer.pending && (portReady & (POLLOUT | failed)))
                PumpWrite(p, portReady);
            // A completion just raised must be ranked with the other signals.
            if (poll(fds, EVENT_COUNT, 0) < 0)
                continue;
        }
        for (int i = 0; i < EVENT_COUNT; ++i) {
            if (fds[i].revents & POLLIN) {
                if (!IsManualReset(i))
                    Unsignal(p->events[i]);
                return i;
            }
            if (fds[i].revents & (POLLERR | POLLNVAL))
                return -1;
        }
    }
}

void* SerialThreadMain(void* worker)
{
    // One step above the normal priority; without the privilege to raise it
    // the thread simply runs at the normal one.
    errno = 0;
    int nice = getpriority(PRIO_PROCESS, static_cast<id_t>(gettid()));
    if (errno == 0)
        setpriority(PRIO_PROCESS, static_cast<id_t>(gettid()), nice - 1);
    static_cast<CSerialPort*>(worker)->Run();
    return nullptr;
}

}  // namespace

CSerialPort::CSerialPort(SerialObserver* observer)
    : impl(new Impl)
{
    impl->observer = observer;
    impl->port = -1;
    impl->threadHeld = false;
    impl->readTransfer = Transfer{false, 0, 0, 0};
    impl->writeTransfer = Transfer{false, 0, 0, 0};
    impl->writeBusy = false;
    impl->readBusy = false;
    impl->readSize = 1;
    impl->writeLength = 0;
    impl->lastReadCount = 0;
    for (int i = 0; i < EVENT_COUNT; ++i)
        impl->events[i] = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
}

CSerialPort::~CSerialPort()
{
    if (impl->threadHeld) {
        // Stop may have given up after its 2000 ms; the observer is freed
        // right after this worker, so the thread must be gone first.
        if (impl->events[EVENT_STOP] >= 0)
            Signal(impl->events[EVENT_STOP]);
        pthread_join(impl->thread, nullptr);
        impl->threadHeld = false;
    }
    for (int i = 0; i < EVENT_COUNT; ++i) {
        if (impl->events[i] >= 0) {
            close(impl->events[i]);
            impl->events[i] = -1;
        }
    }
    if (impl->port >= 0) {
        close(impl->port);
        impl->port = -1;
    }
    delete impl;
}

int CSerialPort::Open(int portNumber)
{
    Impl* p = impl;
    if (portNumber < 0)
        return SERIAL_OPEN_NO_DEVICE;
    char path[512];
    if (!ComDevicePath(portNumber, path, sizeof(path)))
        return SERIAL_OPEN_NO_DEVICE;
    p->port = open(path, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (p->port < 0) {
        p->port = -1;
        return SERIAL_OPEN_NO_DEVICE;
    }

    p->readTransfer = Transfer{false, 0, 0, 0};
    p->writeTransfer = Transfer{false, 0, 0, 0};
    tcflush(p->port, TCIOFLUSH);

    // The steps and codes of the Windows line set-up. A tty has no event
    // mask to clear, so code 1 never arises here.
    int result = SERIAL_OPEN_OK;
    if (!SetZeroTimeouts(p->port))
        result = SERIAL_OPEN_TIMEOUTS_FAILED;
    if (!SetLineSettings(p->port))
        result = SERIAL_OPEN_STATE_FAILED;
    for (int i = 0; i < EVENT_COUNT; ++i) {
        if (p->events[i] < 0)
            result = SERIAL_OPEN_EVENTS_MISSING;
    }
    if (result != SERIAL_OPEN_OK) {
        close(p->port);
        p->port = -1;
        return result;
    }

    // A fresh run starts from quiet signals and clear flags: a stop left over
    // from an earlier run would end this one at once, and a write busy flag
    // cleared by the thread after a Write had already queued its bytes would
    // let a second Write overwrite them mid-transfer.
    for (int i = 0; i < EVENT_COUNT; ++i)
        Unsignal(p->events[i]);
    p->writeBusy = false;
    p->readBusy = false;

    // A failed thread start is not reported: no data ever arrives, and the
    // link's receive time-outs end it.
    p->threadHeld = pthread_create(&p->thread, nullptr, SerialThreadMain, this) == 0;
    return SERIAL_OPEN_OK;
}

void CSerialPort::SetReadSize(int count)
{
    if (count > SERIAL_BUFFER_SIZE)
        count = SERIAL_BUFFER_SIZE;
    // A read of 0 bytes would complete empty and never start another one.
    if (count < 1)
        count = 1;
    impl->readSize = count;
}

int CSerialPort::ReadSize() const
{
    return impl->readSize;
}

void CSerialPort::Write(const uint8_t* bytes, int count)
{
    Impl* p = impl;
    if (count < 1 || count >= SERIAL_BUFFER_SIZE)
        return;
    if (p->writeBusy.exchange(true))
        return;
    memcpy(p->writeBuffer, bytes, static_cast<size_t>(count));
    p->writeLength = count;
    Signal(p->events[EVENT_START_WRITE]);
}

void CSerialPort::Stop()
{
    Impl* p = impl;
    Signal(p->events[EVENT_STOP]);
    if (!p->threadHeld)
        return;
    timespec deadline;
    clock_gettime(CLOCK_MONOTONIC, &deadline);
    deadline.tv_sec += STOP_WAIT_MS / 1000;
    if (pthread_clockjoin_np(p->thread, nullptr, CLOCK_MONOTONIC, &deadline) == 0)
        p->threadHeld = false;
}

void CSerialPort::Run()
{
    Impl* p = impl;
    Signal(p->events[EVENT_START_READ]);

    for (;;) {
        int index = WaitForEvent(p);
        if (index < 0 || index == EVENT_STOP)
            break;

        if (index == EVENT_READ_DONE) {
            Transfer* t = &p->readTransfer;
            if (t->pending)
                continue;
            if (t->error != 0)
                break;
            Unsignal(p->events[EVENT_READ_DONE]);
            p->lastReadCount = t->done;
            p->readBusy = false;
            if (t->done >= 1) {
                p->observer->OnData(p->receiveBuffer, t->done);
                Signal(p->events[EVENT_START_READ]);
            }
        } else if (index == EVENT_START_READ) {
            if (p->readBusy)
                continue;
            p->readBusy = true;
            BeginTransfer(&p->readTransfer, p->readSize);
        } else if (index == EVENT_WRITE_DONE) {
            Transfer* t = &p->writeTransfer;
            if (t->pending)
                continue;
            if (t->error != 0)
                break;
            Unsignal(p->events[EVENT_WRITE_DONE]);
            p->writeBusy = false;
        } else {
            BeginTransfer(&p->writeTransfer, p->writeLength);
        }
    }

    if (p->port >= 0) {
        close(p->port);
        p->port = -1;
    }
    p->readTransfer.pending = false;
    p->writeTransfer.pending = false;
    p->observer->OnClosed();
}
