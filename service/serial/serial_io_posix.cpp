// The serial line as a termios tty. The five signals are eventfds; the port's
// non-blocking reads and writes are driven from the wait itself, which raises
// "read complete" once the requested count has arrived and "write complete"
// once every byte has gone, just as an overlapped read with zero time-outs and
// an overlapped write complete on their own.

#include "serial/serial_io.h"

#include "serial/com_map.h"
#include "serial/serial_port.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

struct SerialIo {
    int events[SERIAL_SIGNAL_COUNT];
    int port;
    pthread_t thread;
    bool threadHeld;
    // One per direction, in the manner of an overlapped operation: pending
    // until done reaches wanted or the line fails.
    struct Transfer {
        bool pending;
        uint8_t* buffer;
        int wanted;
        int done;
        int error;
    } transfers[2];
};

namespace {

const short LINE_FAILED = POLLHUP | POLLERR | POLLNVAL;

void Finish(SerialIo* io, SerialDirection dir, int error)
{
    io->transfers[dir].pending = false;
    io->transfers[dir].error = error;
    SerialIoSet(io, dir == SERIAL_READ ? SERIAL_SIGNAL_READ_DONE : SERIAL_SIGNAL_WRITE_DONE);
}

// Moves what the port will take now; completes the transfer (and raises its
// signal) when it is done or the line has failed.
void Pump(SerialIo* io, SerialDirection dir, short revents)
{
    SerialIo::Transfer* t = &io->transfers[dir];
    while (t->done < t->wanted) {
        uint8_t* at = t->buffer + t->done;
        size_t left = static_cast<size_t>(t->wanted - t->done);
        ssize_t n = dir == SERIAL_READ ? read(io->port, at, left) : write(io->port, at, left);
        if (n > 0) {
            t->done += static_cast<int>(n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        // With no minimum count set, a tty read returns 0 (or EAGAIN) when
        // nothing is there yet; on a hung-up line the rest never comes.
        if (n == 0 || errno == EAGAIN) {
            if (revents & LINE_FAILED)
                break;
            return;
        }
        Finish(io, dir, errno);
        return;
    }
    Finish(io, dir, t->done == t->wanted ? 0 : EIO);
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

void* ThreadMain(void* worker)
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

SerialIo* SerialIoCreate()
{
    SerialIo* io = new SerialIo();
    io->port = -1;
    io->threadHeld = false;
    for (int i = 0; i < SERIAL_SIGNAL_COUNT; ++i)
        io->events[i] = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    return io;
}

void SerialIoDestroy(SerialIo* io)
{
    SerialIoClose(io);
    for (int i = 0; i < SERIAL_SIGNAL_COUNT; ++i) {
        if (io->events[i] >= 0)
            close(io->events[i]);
    }
    delete io;
}

int SerialIoOpen(SerialIo* io, int portNumber)
{
    char path[512];
    if (!ComDevicePath(portNumber, path, sizeof(path)))
        return SERIAL_OPEN_NO_DEVICE;
    io->port = open(path, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (io->port < 0) {
        io->port = -1;
        return SERIAL_OPEN_NO_DEVICE;
    }
    // The port is ours alone, as an opened COM port is on Windows: a port that
    // another program holds counts as one that cannot be opened, rather than
    // two readers splitting its bytes. TIOCEXCL keeps out later opens by
    // ordinary users; the lock also tells programs of any user that lock it.
    // Something that is no tty refuses TIOCEXCL; the line set-up below
    // reports that.
    if (flock(io->port, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK) {
        close(io->port);
        io->port = -1;
        return SERIAL_OPEN_NO_DEVICE;
    }
    ioctl(io->port, TIOCEXCL);
    io->transfers[SERIAL_READ] = io->transfers[SERIAL_WRITE] = SerialIo::Transfer();
    tcflush(io->port, TCIOFLUSH);

    // The steps and codes of the Windows line set-up, each failing step
    // replacing the code of an earlier one. A tty has no event mask to
    // clear, so code 1 never arises here.
    int result = SERIAL_OPEN_OK;
    if (!SetZeroTimeouts(io->port))
        result = SERIAL_OPEN_TIMEOUTS_FAILED;
    if (!SetLineSettings(io->port))
        result = SERIAL_OPEN_STATE_FAILED;
    for (int i = 0; i < SERIAL_SIGNAL_COUNT; ++i) {
        if (io->events[i] < 0)
            result = SERIAL_OPEN_EVENTS_MISSING;
    }
    if (result != SERIAL_OPEN_OK)
        SerialIoClose(io);
    return result;
}

void SerialIoClose(SerialIo* io)
{
    // Exclusive use ends with our use: a pty stays exclusive while its other
    // side is open, which would keep a later open out.
    if (io->port >= 0) {
        ioctl(io->port, TIOCNXCL);
        close(io->port);
    }
    io->port = -1;
}

void SerialIoSet(SerialIo* io, int signal)
{
    uint64_t one = 1;
    ssize_t ignored = write(io->events[signal], &one, sizeof(one));
    (void)ignored;
}

void SerialIoReset(SerialIo* io, int signal)
{
    uint64_t value;
    ssize_t ignored = read(io->events[signal], &value, sizeof(value));
    (void)ignored;
}

int SerialIoWait(SerialIo* io)
{
    const SerialIo::Transfer* reading = &io->transfers[SERIAL_READ];
    const SerialIo::Transfer* writing = &io->transfers[SERIAL_WRITE];
    for (;;) {
        pollfd fds[SERIAL_SIGNAL_COUNT + 1];
        for (int i = 0; i < SERIAL_SIGNAL_COUNT; ++i)
            fds[i] = pollfd{io->events[i], POLLIN, 0};
        short portEvents = static_cast<short>((reading->pending ? POLLIN : 0) |
                                              (writing->pending ? POLLOUT : 0));
        // With nothing in flight the port is left out: a hung-up line would
        // otherwise report itself over and over.
        fds[SERIAL_SIGNAL_COUNT] = pollfd{portEvents != 0 ? io->port : -1, portEvents, 0};

        if (poll(fds, SERIAL_SIGNAL_COUNT + 1, -1) < 0) {
            if (errno == EINTR)
                continue;
            return -1;
        }
        short portReady = fds[SERIAL_SIGNAL_COUNT].revents;
        if (portReady != 0) {
            if (reading->pending && (portReady & (POLLIN | LINE_FAILED)))
                Pump(io, SERIAL_READ, portReady);
            if (writing->pending && (portReady & (POLLOUT | LINE_FAILED)))
                Pump(io, SERIAL_WRITE, portReady);
            // A completion just raised must be ranked with the other signals.
            if (poll(fds, SERIAL_SIGNAL_COUNT, 0) < 0)
                continue;
        }
        for (int i = 0; i < SERIAL_SIGNAL_COUNT; ++i) {
            if (fds[i].revents & POLLIN) {
                if (i != SERIAL_SIGNAL_READ_DONE && i != SERIAL_SIGNAL_WRITE_DONE)
                    SerialIoReset(io, i);
                return i;
            }
            if (fds[i].revents & (POLLERR | POLLNVAL))
                return -1;
        }
    }
}

bool SerialIoBegin(SerialIo* io, SerialDirection dir, uint8_t* buffer, int count)
{
    io->transfers[dir] = SerialIo::Transfer{true, buffer, count, 0, 0};
    return true;
}

SerialTransferState SerialIoFetch(SerialIo* io, SerialDirection dir, int* count)
{
    const SerialIo::Transfer* t = &io->transfers[dir];
    if (t->pending)
        return SERIAL_TRANSFER_PENDING;
    if (t->error != 0)
        return SERIAL_TRANSFER_FAILED;
    *count = t->done;
    return SERIAL_TRANSFER_DONE;
}

void SerialIoStartThread(SerialIo* io, CSerialPort* worker)
{
    io->threadHeld = pthread_create(&io->thread, nullptr, ThreadMain, worker) == 0;
}

void SerialIoJoin(SerialIo* io, int timeoutMs)
{
    if (!io->threadHeld)
        return;
    if (timeoutMs < 0) {
        pthread_join(io->thread, nullptr);
        io->threadHeld = false;
        return;
    }
    timespec deadline;
    clock_gettime(CLOCK_MONOTONIC, &deadline);
    long nanoseconds = deadline.tv_nsec + (timeoutMs % 1000) * 1000000L;
    deadline.tv_sec += timeoutMs / 1000 + nanoseconds / 1000000000L;
    deadline.tv_nsec = nanoseconds % 1000000000L;
    io->threadHeld = pthread_clockjoin_np(io->thread, nullptr, CLOCK_MONOTONIC, &deadline) != 0;
}
