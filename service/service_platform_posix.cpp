#include "service_platform.h"

#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <pthread.h>
#include <signal.h>
#include <stddef.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <time.h>
#include <unistd.h>

#include <atomic>

#include "service_host.h"

// Hosting under systemd (Type=notify) or in the foreground: the main thread
// plays the service manager's dispatcher. It runs the service's main function
// on a thread of its own, turns SIGTERM, SIGINT and SIGQUIT into the stop control once
// the service accepts it, and returns when the service thread has ended.
// Status reports go to $NOTIFY_SOCKET as notify datagrams when it is set.

namespace {

const char* const UNIT_NAME = "OvalixSvc.service";
const char* const DEFAULT_UNIT_DIR = "/etc/systemd/system";
const char* const UNIT_DIR_VARIABLE = "OVALIX_UNIT_DIR";
const int WAKE_SIGNAL = SIGUSR1;
// The signals by which a service manager or a terminal asks a process to end:
// each becomes the stop control, so the service ends cleanly (table saved).
const int STOP_SIGNALS[] = { SIGTERM, SIGINT, SIGQUIT };

std::atomic<ServiceControlFunction> s_handler(nullptr);
std::atomic<uint32_t> s_state(0);
std::atomic<uint32_t> s_accepted(0);
std::atomic<bool> s_serviceEnded(false);
std::atomic<bool> s_dispatching(false);
pthread_t s_dispatcherThread;

struct ServiceThreadArgs {
    ServiceMainFunction serviceMain;
    int argc;
    char** argv;
};

void WakeDispatcher()
{
    if (s_dispatching.load())
        pthread_kill(s_dispatcherThread, WAKE_SIGNAL);
}

void* ServiceThread(void* p)
{
    ServiceThreadArgs* args = static_cast<ServiceThreadArgs*>(p);
    args->serviceMain(args->argc, args->argv);
    s_serviceEnded.store(true);
    WakeDispatcher();
    return nullptr;
}

// Like the service manager, a stop is delivered only while the service says
// it accepts one, and only once.
bool StopDeliverable()
{
    uint32_t state = s_state.load();
    return (s_accepted.load() & SERVICE_ACCEPTS_STOP) != 0 &&
           state != SERVICE_STATE_STOP_PENDING && state != SERVICE_STATE_STOPPED &&
           s_handler.load() != nullptr;
}

const char* StateName(uint32_t state)
{
    switch (state) {
    case SERVICE_STATE_STOPPED: return "STOPPED";
    case SERVICE_STATE_START_PENDING: return "START_PENDING";
    case SERVICE_STATE_STOP_PENDING: return "STOP_PENDING";
    case SERVICE_STATE_RUNNING: return "RUNNING";
    default: return "UNKNOWN";
    }
}

// One datagram to the notify socket; a name starting with '@' is abstract.
bool Notify(const char* text, size_t length)
{
    const char* socketName = getenv("NOTIFY_SOCKET");
    if (socketName == nullptr || socketName[0] == '\0')
        return true;
    struct sockaddr_un address;
    memset(&address, 0, sizeof(address));
    address.sun_family = AF_UNIX;
    size_t nameLength = strlen(socketName);
    if (nameLength >= sizeof(address.sun_path))
        return false;
    memcpy(address.sun_path, socketName, nameLength);
    if (socketName[0] == '@')
        address.sun_path[0] = '\0';
    socklen_t addressLength = (socklen_t)(offsetof(struct sockaddr_un, sun_path) + nameLength);
    int fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return false;
    ssize_t sent = sendto(fd, text, length, MSG_NOSIGNAL, (const struct sockaddr*)&address,
                          addressLength);
    close(fd);
    return sent == (ssize_t)length;
}

bool WriteAll(int fd, const char* text, size_t length)
{
    size_t done = 0;
    while (done < length) {
        ssize_t n = write(fd, text + done, length - done);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        done += (size_t)n;
    }
    return true;
}

// ExecStart= takes a quoted word; '%' starts a specifier and is doubled.
bool QuoteExecPath(const char* path, char* out, size_t capacity)
{
    size_t o = 0;
    bool quote = strchr(path, ' ') != nullptr;
    if (quote) {
        if (o + 1 >= capacity)
            return false;
        out[o++] = '"';
    }
    for (const char* c = path; *c != '\0'; ++c) {
        const char* piece = nullptr;
        if (*c == '%')
            piece = "%%";
        else if (*c == '\\')
            piece = "\\\\";
        else if (*c == '"')
            piece = "\\\"";
        size_t n = piece != nullptr ? 2 : 1;
        if (o + n >= capacity)
            return false;
        if (piece != nullptr) {
            memcpy(out + o, piece, 2);
        } else {
            out[o] = *c;
        }
        o += n;
    }
    if (quote) {
        if (o + 1 >= capacity)
            return false;
        out[o++] = '"';
    }
    out[o] = '\0';
    return true;
}

}  // namespace

bool RunServiceDispatcher(const char*, ServiceMainFunction serviceMain, int argc, char** argv)
{
    // A hang-up from a closed terminal or a stray SIGHUP, and a write to a
    // pipe nobody reads, must not end the service.
    signal(SIGHUP, SIG_IGN);
    signal(SIGPIPE, SIG_IGN);

    sigset_t signals;
    sigset_t previous;
    sigemptyset(&signals);
    for (int stop : STOP_SIGNALS)
        sigaddset(&signals, stop);
    sigaddset(&signals, WAKE_SIGNAL);
    // Blocked before the service thread starts, so that it and every thread it
    // starts inherit the mask and the signals reach only this thread.
    if (pthread_sigmask(SIG_BLOCK, &signals, &previous) != 0)
        return false;

    s_dispatcherThread = pthread_self();
    s_serviceEnded.store(false);
    s_dispatching.store(true);
    ServiceThreadArgs args = { serviceMain, argc, argv };
    pthread_t serviceThread;
    if (pthread_create(&serviceThread, nullptr, ServiceThread, &args) != 0) {
        s_dispatching.store(false);
        pthread_sigmask(SIG_SETMASK, &previous, nullptr);
        return false;
    }

    bool stopRequested = false;
    bool stopDelivered = false;
    while (!s_serviceEnded.load()) {
        struct timespec safety = { 1, 0 };
        int sig = sigtimedwait(&signals, nullptr, &safety);
        if (sig > 0 && sig != WAKE_SIGNAL)
            stopRequested = true;
        if (stopRequested && !stopDelivered && StopDeliverable()) {
            stopDelivered = true;
            s_handler.load()(SERVICE_CONTROL_CODE_STOP);
        }
    }
    pthread_join(serviceThread, nullptr);
    s_dispatching.store(false);

    // Drop a wake-up that may still be pending before unblocking it.
    sigset_t wake;
    sigemptyset(&wake);
    sigaddset(&wake, WAKE_SIGNAL);
    struct timespec none = { 0, 0 };
    while (sigtimedwait(&wake, nullptr, &none) == WAKE_SIGNAL) {
    }
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    return true;
}

bool RegisterServiceControl(const char*, ServiceControlFunction handler)
{
    s_handler.store(handler);
    return true;
}

int SendServiceStatus(const ServiceStatusRecord& status)
{
    s_state.store(status.currentState);
    s_accepted.store(status.controlsAccepted);

    char text[256];
    int n = 0;
    if (status.currentState == SERVICE_STATE_RUNNING) {
        n = snprintf(text, sizeof(text), "READY=1\n");
    } else if (status.currentState == SERVICE_STATE_STOP_PENDING) {
        n = snprintf(text, sizeof(text), "STOPPING=1\n");
    } else if (status.currentState == SERVICE_STATE_START_PENDING && status.waitHint != 0) {
        n = snprintf(text, sizeof(text), "EXTEND_TIMEOUT_USEC=%llu\n",
                     (unsigned long long)status.waitHint * 1000ull);
    }
    n += snprintf(text + n, sizeof(text) - (size_t)n, "STATUS=%s checkpoint=%u wait_hint=%u\n",
                  StateName(status.currentState), (unsigned)status.checkPoint,
                  (unsigned)status.waitHint);
    bool sent = Notify(text, (size_t)n);

    // A stop that arrived while the service did not accept one may now go.
    WakeDispatcher();
    return sent ? 1 : 0;
}

void InstallService()
{
    char self[PATH_MAX];
    ssize_t length = readlink("/proc/self/exe", self, sizeof(self) - 1);
    if (length <= 0 || length >= (ssize_t)sizeof(self) - 1)
        return;
    self[length] = '\0';
    char exec[2 * PATH_MAX + 3];
    if (!QuoteExecPath(self, exec, sizeof(exec)))
        return;

    const char* dir = getenv(UNIT_DIR_VARIABLE);
    if (dir == nullptr || dir[0] == '\0')
        dir = DEFAULT_UNIT_DIR;
    char unitPath[PATH_MAX];
    char wantsDir[PATH_MAX];
    char linkPath[PATH_MAX];
    if (snprintf(unitPath, sizeof(unitPath), "%s/%s", dir, UNIT_NAME) >= (int)sizeof(unitPath) ||
        snprintf(wantsDir, sizeof(wantsDir), "%s/multi-user.target.wants", dir) >=
            (int)sizeof(wantsDir) ||
        snprintf(linkPath, sizeof(linkPath), "%s/%s", wantsDir, UNIT_NAME) >=
            (int)sizeof(linkPath))
        return;

    char unit[3 * PATH_MAX];
    int unitLength = snprintf(unit, sizeof(unit),
                              "[Unit]\n"
                              "Description=Ovalix connection manager\n"
                              "\n"
                              "[Service]\n"
                              "Type=notify\n"
                              "ExecStart=%s\n"
                              "StateDirectory=ovalix\n"
                              "RuntimeDirectory=ovalix\n"
                              "\n"
                              "[Install]\n"
                              "WantedBy=multi-user.target\n",
                              exec);
    if (unitLength <= 0 || unitLength >= (int)sizeof(unit))
        return;

    // An existing unit is never touched: installing twice changes nothing.
    int fd = open(unitPath, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd < 0)
        return;
    bool written = WriteAll(fd, unit, (size_t)unitLength) && fsync(fd) == 0;
    if (close(fd) != 0 || !written) {
        unlink(unitPath);
        return;
    }
    // Enabled for start with the system, as the service manager's enable does.
    if (mkdir(wantsDir, 0755) != 0 && errno != EEXIST)
        return;
    if (symlink(unitPath, linkPath) != 0)
        return;
}

void ReportServiceMessage(const char* text)
{
    fprintf(stderr, "OvalixSvc: %s\n", text);
}

bool SameTextIgnoringCase(const char* a, const char* b)
{
    return strcasecmp(a, b) == 0;
}
