#include "sealed_channel.h"

#include <errno.h>
#include <poll.h>
#include <string.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <thread>

const char* const CAMERA_SOCKET_PATH = "/run/ovalix/camera";

// One datagram per connection: a header, with the descriptors attached.

namespace {

const uint32_t CHANNEL_MAGIC = 0x584C564Fu;  // "OVLX"
const int ANSWER_WAIT_MS = 250;

struct ChannelHeader {
    uint32_t magic;
    uint32_t count;
    uint64_t identity;
};

struct DescriptorSpace {
    alignas(cmsghdr) char space[CMSG_SPACE(sizeof(int) * SEALED_OBJECT_COUNT)];
};

// The header and room for the descriptors, as one message.
struct ChannelMessage {
    ChannelHeader header;
    DescriptorSpace control;
    iovec io;
    msghdr message;

    ChannelMessage()
    {
        memset(&header, 0, sizeof(header));
        memset(&control, 0, sizeof(control));
        io.iov_base = &header;
        io.iov_len = sizeof(header);
        memset(&message, 0, sizeof(message));
        message.msg_iov = &io;
        message.msg_iovlen = 1;
        message.msg_control = control.space;
        message.msg_controllen = sizeof(control.space);
    }
};

bool SocketAddress(sockaddr_un& address)
{
    memset(&address, 0, sizeof(address));
    address.sun_family = AF_UNIX;
    size_t n = strlen(CAMERA_SOCKET_PATH);
    if (n >= sizeof(address.sun_path))
        return false;
    memcpy(address.sun_path, CAMERA_SOCKET_PATH, n);
    return true;
}

// The directory holding the socket, made when missing (without systemd's
// runtime directory), readable by everyone so that the socket's own
// permissions decide.
void MakeSocketDirectory()
{
    char dir[sizeof(sockaddr_un::sun_path)];
    size_t n = strlen(CAMERA_SOCKET_PATH);
    if (n >= sizeof(dir))
        return;
    memcpy(dir, CAMERA_SOCKET_PATH, n + 1);
    char* slash = strrchr(dir, '/');
    if (slash == nullptr || slash == dir)
        return;
    *slash = 0;
    mkdir(dir, 0755);
}

}  // namespace

bool FetchSealedObjects(SealedObjects& out)
{
    sockaddr_un address;
    if (!SocketAddress(address))
        return false;
    int fd = socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return false;
    timeval wait = {0, ANSWER_WAIT_MS * 1000};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof(wait));
    ChannelMessage m;
    msghdr& message = m.message;
    const ChannelHeader& header = m.header;
    ssize_t got = -1;
    if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0) {
        do
            got = recvmsg(fd, &message, MSG_CMSG_CLOEXEC);
        while (got < 0 && errno == EINTR);
    }
    close(fd);
    if (got < 0)
        return false;
    // Every descriptor that arrived is either handed out or closed here.
    int received[SEALED_OBJECT_COUNT];
    int count = 0;
    for (cmsghdr* c = CMSG_FIRSTHDR(&message); c != nullptr; c = CMSG_NXTHDR(&message, c)) {
        if (c->cmsg_level != SOL_SOCKET || c->cmsg_type != SCM_RIGHTS)
            continue;
        size_t n = (c->cmsg_len - CMSG_LEN(0)) / sizeof(int);
        const unsigned char* data = CMSG_DATA(c);
        for (size_t i = 0; i < n; ++i) {
            int descriptor;
            memcpy(&descriptor, data + i * sizeof(int), sizeof(int));
            if (count < SEALED_OBJECT_COUNT)
                received[count++] = descriptor;
            else
                close(descriptor);
        }
    }
    bool whole = (size_t)got == sizeof(header) && header.magic == CHANNEL_MAGIC &&
                 header.count == SEALED_OBJECT_COUNT && count == SEALED_OBJECT_COUNT &&
                 (message.msg_flags & MSG_CTRUNC) == 0;
    if (!whole) {
        for (int i = 0; i < count; ++i)
            close(received[i]);
        return false;
    }
    for (int i = 0; i < SEALED_OBJECT_COUNT; ++i)
        out.descriptors[i] = received[i];
    out.identity = header.identity;
    return true;
}

void CloseSealedObjects(SealedObjects& objects)
{
    for (intptr_t& descriptor : objects.descriptors) {
        if (descriptor >= 0)
            close((int)descriptor);
        descriptor = -1;
    }
}

struct CSealedChannel::Impl {
    SealedObjects objects;
    int listener;
    int stop;
    std::thread thread;

    void Serve()
    {
        pollfd fds[2] = {
            {stop,     POLLIN, 0},
            {listener, POLLIN, 0}
        };
        for (;;) {
            if (poll(fds, 2, -1) < 0) {
                if (errno == EINTR)
                    continue;
                return;
            }
            if (fds[0].revents != 0)
                return;
            int peer = accept4(listener, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
            if (peer >= 0) {
                Answer(peer);
                close(peer);
            }
        }
    }

    // A reader that does not read costs nothing: the send never waits.
    void Answer(int peer)
    {
        ChannelMessage m;
        m.header = ChannelHeader{CHANNEL_MAGIC, SEALED_OBJECT_COUNT, objects.identity};
        msghdr& message = m.message;
        cmsghdr* c = CMSG_FIRSTHDR(&message);
        c->cmsg_level = SOL_SOCKET;
        c->cmsg_type = SCM_RIGHTS;
        c->cmsg_len = CMSG_LEN(sizeof(int) * SEALED_OBJECT_COUNT);
        for (int i = 0; i < SEALED_OBJECT_COUNT; ++i) {
            int descriptor = (int)objects.descriptors[i];
            memcpy(CMSG_DATA(c) + i * sizeof(int), &descriptor, sizeof(int));
        }
        sendmsg(peer, &message, MSG_DONTWAIT | MSG_NOSIGNAL);
    }
};

CSealedChannel::CSealedChannel() : impl(nullptr) {}

CSealedChannel::~CSealedChannel()
{
    Stop();
}

bool CSealedChannel::Start(const SealedObjects& objects)
{
    Stop();
    sockaddr_un address;
    if (!SocketAddress(address))
        return false;
    MakeSocketDirectory();
    int listener = socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
    if (listener < 0)
        return false;
    unlink(CAMERA_SOCKET_PATH);
    int stop = -1;
    if (bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0 ||
        chmod(CAMERA_SOCKET_PATH, 0666) != 0 || listen(listener, 16) != 0 ||
        (stop = eventfd(0, EFD_CLOEXEC)) < 0) {
        close(listener);
        return false;
    }
    impl = new Impl();
    impl->objects = objects;
    impl->listener = listener;
    impl->stop = stop;
    impl->thread = std::thread(&Impl::Serve, impl);
    return true;
}

void CSealedChannel::Stop()
{
    if (impl == nullptr)
        return;
    uint64_t one = 1;
    ssize_t written = write(impl->stop, &one, sizeof(one));
    (void)written;
    impl->thread.join();
    // Readers that cannot connect let go of the objects they hold.
    unlink(CAMERA_SOCKET_PATH);
    close(impl->listener);
    close(impl->stop);
    delete impl;
    impl = nullptr;
}
