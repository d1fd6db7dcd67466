#include "named_objects.h"

#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <linux/futex.h>
#include <pthread.h>
#include <stdio.h>
#include <string.h>
#include <sys/file.h>
#include <sys/stat.h>

#include "object_memory.h"

using namespace object_memory;

const char* const SHARED_MEMORY_NAME = "OvalixSvcMemory";
const char* const SHARED_MUTEX_NAME = "OvalixSvcMutex";
const char* const READY_EVENT_NAME = "OvalixReadyEvent";

// Each object is a POSIX shared-memory object named "/<name>"; its layout is
// in object_memory.h.

namespace {

const uint32_t INIT_WAIT_MS = 1000;
const uint32_t WAIT_FOREVER = 0xFFFFFFFFu;

const size_t MUTEX_INIT_OFFSET = sizeof(pthread_mutex_t);
const size_t MUTEX_OBJECT_SIZE = MUTEX_INIT_OFFSET + sizeof(uint32_t);
const size_t EVENT_INIT_OFFSET = sizeof(uint32_t);
const size_t EVENT_OBJECT_SIZE = EVENT_INIT_OFFSET + sizeof(uint32_t);

static_assert(MUTEX_INIT_OFFSET % alignof(uint32_t) == 0, "aligned init word");

bool ShmPath(const char* name, char (&out)[64])
{
    int n = snprintf(out, sizeof(out), "/%s", name);
    return n > 1 && n < (int)sizeof(out);
}

void SleepMs(long ms)
{
    struct timespec t = {ms / 1000, (ms % 1000) * 1000000L};
    while (nanosleep(&t, &t) != 0 && errno == EINTR) {
    }
}

// Waits until an object made by another process has reached its full length
// and, when initOffset >= 0, until its initialisation word is set. Returns the
// mapping or null when the creator never finished.
void* MapWhenReady(int fd, size_t length, long initOffset)
{
    uint64_t start = NowMs();
    for (;;) {
        struct stat st;
        if (fstat(fd, &st) != 0)
            return NULL;
        if ((size_t)st.st_size >= length) {
            void* p = MapShared(fd, length);
            if (p == NULL)
                return NULL;
            if (initOffset < 0)
                return p;
            if (WordAt(p, (size_t)initOffset)->load(std::memory_order_acquire) == INIT_MAGIC)
                return p;
            munmap(p, length);
        }
        if (NowMs() - start >= INIT_WAIT_MS)
            return NULL;
        SleepMs(1);
    }
}

enum CreateOutcome { CREATE_FAILED, CREATE_NEW, CREATE_EXISTING };

// Creates "/name" exclusively, or opens the existing object. A new object is
// open to every user (mode 0666 regardless of the umask) and has its length.
CreateOutcome CreateOrOpen(const char* path, size_t length, int& fd)
{
    for (int attempt = 0; attempt < 8; ++attempt) {
        fd = shm_open(path, O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0) {
            if (fchmod(fd, 0666) != 0 || ftruncate(fd, (off_t)length) != 0 ||
                !Reserve(fd, length)) {
                close(fd);
                shm_unlink(path);
                fd = -1;
                return CREATE_FAILED;
            }
            return CREATE_NEW;
        }
        if (errno != EEXIST)
            return CREATE_FAILED;
        fd = shm_open(path, O_RDWR | O_CLOEXEC, 0);
        if (fd >= 0)
            return CREATE_EXISTING;
        if (errno != ENOENT)
            return CREATE_FAILED;
        // Removed between the two calls: try to create it again.
    }
    return CREATE_FAILED;
}

int OpenExisting(const char* path)
{
    return shm_open(path, O_RDWR | O_CLOEXEC, 0);
}

// Creates or opens a mutex/event object and returns its mapping. A new object
// is initialised by init() before its initialisation word is published; an
// existing object is used once its creator has finished. An existing object
// that never gets initialised (its creator died half-way) is replaced.
void* CreateSynchronisation(const char* path, size_t length, size_t initOffset, int& fdOut,
                            bool (*init)(void*))
{
    for (int attempt = 0; attempt < 2; ++attempt) {
        int fd = -1;
        CreateOutcome outcome = CreateOrOpen(path, length, fd);
        if (outcome == CREATE_FAILED)
            return NULL;
        void* p = NULL;
        if (outcome == CREATE_NEW) {
            p = MapShared(fd, length);
            if (p != NULL && init(p)) {
                WordAt(p, initOffset)->store(INIT_MAGIC, std::memory_order_release);
            } else {
                if (p != NULL)
                    munmap(p, length);
                p = NULL;
                shm_unlink(path);
            }
        } else {
            p = MapWhenReady(fd, length, (long)initOffset);
            if (p == NULL && attempt == 0) {
                close(fd);
                shm_unlink(path);
                continue;
            }
        }
        if (p == NULL) {
            close(fd);
            return NULL;
        }
        fdOut = fd;
        return p;
    }
    return NULL;
}

void* OpenSynchronisation(const char* path, size_t length, size_t initOffset, int& fdOut)
{
    int fd = OpenExisting(path);
    if (fd < 0)
        return NULL;
    void* p = MapWhenReady(fd, length, (long)initOffset);
    if (p == NULL) {
        close(fd);
        return NULL;
    }
    fdOut = fd;
    return p;
}

bool InitRobustMutex(void* p)
{
    pthread_mutexattr_t attr;
    if (pthread_mutexattr_init(&attr) != 0)
        return false;
    bool ok = pthread_mutexattr_setpshared(&attr, PTHREAD_PROCESS_SHARED) == 0 &&
              pthread_mutexattr_setrobust(&attr, PTHREAD_MUTEX_ROBUST) == 0 &&
              pthread_mutex_init(static_cast<pthread_mutex_t*>(p), &attr) == 0;
    pthread_mutexattr_destroy(&attr);
    return ok;
}

bool InitEventWord(void* p)
{
    WordAt(p, 0)->store(0, std::memory_order_relaxed);
    return true;
}

const SyncLayout MUTEX_LAYOUT = {MUTEX_OBJECT_SIZE, MUTEX_INIT_OFFSET, InitRobustMutex};
const SyncLayout EVENT_LAYOUT = {EVENT_OBJECT_SIZE, EVENT_INIT_OFFSET, InitEventWord};

void CloseObject(void*& map, size_t length, intptr_t& fd, bool& owner, const char* path)
{
    if (map != NULL) {
        munmap(map, length);
        map = NULL;
    }
    if (fd >= 0) {
        close((int)fd);
        fd = -1;
    }
    if (owner) {
        shm_unlink(path);
        owner = false;
    }
}

// Waits until the event word is non-zero, the time is up or wake is woken.
// The clock is read only when the wait has to sleep.
NamedWaitResult WaitFor(void* shared, uint32_t timeoutMs, WakeState* wake)
{
    if (shared == NULL)
        return NAMED_WAIT_FAILED;
    std::atomic<uint32_t>* state = WordAt(shared, 0);
    uint64_t start = 0;
    bool started = false;
    for (;;) {
        if (state->load(std::memory_order_acquire) != 0)
            return NAMED_WAIT_ACQUIRED;
        if (wake != NULL && wake->flag.load() != 0)
            return NAMED_WAIT_WOKEN;
        struct timespec remaining;
        const struct timespec* timeout = NULL;
        if (timeoutMs != WAIT_FOREVER) {
            uint64_t now = NowMs();
            if (!started) {
                start = now;
                started = true;
            }
            uint64_t elapsed = now - start;
            if (elapsed >= timeoutMs)
                return NAMED_WAIT_TIMEOUT;
            remaining = Timespec(timeoutMs - elapsed);
            timeout = &remaining;
        }
        if (wake != NULL) {
            // Announced before the last look at the flag: a Wake() after that
            // look finds the word and wakes it.
            wake->waitingOn.store(state);
            if (wake->flag.load() != 0) {
                wake->waitingOn.store(NULL);
                return NAMED_WAIT_WOKEN;
            }
        }
        // Only Set (or a Wake) wakes this word. A waiter it woke is released
        // even when a reader has reset the event again before this thread got
        // to run, as a Windows manual-reset event releases every thread
        // waiting at the moment it is set.
        long rc = Futex(state, FUTEX_WAIT, 0, timeout);
        int error = errno;
        if (wake != NULL) {
            wake->waitingOn.store(NULL);
            if (wake->flag.load() != 0)
                return NAMED_WAIT_WOKEN;
        }
        if (rc == 0)
            return NAMED_WAIT_ACQUIRED;
        if (error != EAGAIN && error != EINTR && error != ETIMEDOUT)
            return NAMED_WAIT_FAILED;
    }
}

bool ShorterThan(intptr_t fd, size_t length)
{
    struct stat st;
    return fd >= 0 && (fstat((int)fd, &st) != 0 || (size_t)st.st_size < length);
}

enum NameTarget { NAME_LEADS_HERE, NAME_GONE, NAME_LEADS_ELSEWHERE };

// Where the name leads, seen from an object held open as fd.
NameTarget FollowName(intptr_t fd, const char* path)
{
    struct stat held;
    if (fstat((int)fd, &held) != 0)
        return NAME_LEADS_ELSEWHERE;
    int current = shm_open(path, O_RDONLY | O_CLOEXEC, 0);
    if (current < 0)
        return errno == ENOENT ? NAME_GONE : NAME_LEADS_HERE;
    struct stat now;
    bool other =
        fstat(current, &now) != 0 || now.st_ino != held.st_ino || now.st_dev != held.st_dev;
    close(current);
    return other ? NAME_LEADS_ELSEWHERE : NAME_LEADS_HERE;
}

// A name that is gone says nothing about the object: anyone may unlink it.
// Sealed objects have no name to follow.
bool NameLeadsElsewhere(intptr_t fd, const char* path)
{
    return fd >= 0 && path[0] != 0 && FollowName(fd, path) == NAME_LEADS_ELSEWHERE;
}

// The creator of a mapping holds an exclusive lock on it while it lives. A
// shared lock taken and dropped at once cannot disturb a new creator: this is
// asked only of an object whose name is gone, so no creator can open it again.
bool CreatorHolds(intptr_t fd)
{
    if (flock((int)fd, LOCK_SH | LOCK_NB) != 0)
        return errno == EWOULDBLOCK;
    flock((int)fd, LOCK_UN);
    return false;
}

bool NameLeadsTo(intptr_t fd, const char* path)
{
    return fd < 0 || path[0] == 0 || FollowName(fd, path) == NAME_LEADS_HERE;
}

}  // namespace

bool object_memory::Reserve(int fd, size_t length)
{
    return posix_fallocate(fd, 0, (off_t)length) == 0;
}

const SyncLayout& object_memory::LayoutOf(bool mutex)
{
    return mutex ? MUTEX_LAYOUT : EVENT_LAYOUT;
}

// ---- mapping ----

CNamedMapping::CNamedMapping() : view(NULL), size(0), handle(-1), platform() {}

CNamedMapping::~CNamedMapping()
{
    Close();
}

bool CNamedMapping::Create(const char* name, uint32_t bytes)
{
    Close();
    if (!ShmPath(name, platform.path))
        return false;
    platform.inUseElsewhere = false;
    int fd = -1;
    CreateOutcome outcome = CreateOrOpen(platform.path, bytes, fd);
    if (outcome == CREATE_FAILED)
        return false;
    // The creator's lock marks a live owner. Objects that a creator left
    // behind when it died are taken over; those of a live one are left alone,
    // name and content.
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        platform.inUseElsewhere = (errno == EWOULDBLOCK);
        close(fd);
        return false;
    }
    if (outcome == CREATE_EXISTING) {
        // Made by someone else first: use it, growing it if it is too short.
        // Its pages are reserved like those of a new object.
        if (!Reserve(fd, bytes)) {
            close(fd);
            return false;
        }
    }
    void* p = MapShared(fd, bytes);
    if (p == NULL) {
        close(fd);
        if (outcome == CREATE_NEW)
            shm_unlink(platform.path);
        return false;
    }
    view = p;
    size = bytes;
    handle = fd;
    platform.owner = true;
    return true;
}

bool CNamedMapping::Open(const char* name, uint32_t bytes)
{
    Close();
    if (!ShmPath(name, platform.path))
        return false;
    int fd = OpenExisting(platform.path);
    if (fd < 0)
        return false;
    void* p = MapWhenReady(fd, bytes, -1);
    if (p == NULL) {
        close(fd);
        return false;
    }
    view = p;
    size = bytes;
    handle = fd;
    return true;
}

void CNamedMapping::Close()
{
    CloseObject(view, size, handle, platform.owner, platform.path);
    size = 0;
}

// ---- mutex and event ----

CNamedSyncObject::CNamedSyncObject(Kind k) : kind(k), handle(-1), platform() {}

CNamedSyncObject::~CNamedSyncObject()
{
    Close();
}

bool CNamedSyncObject::CreateNamed(const char* name)
{
    Close();
    if (!ShmPath(name, platform.path))
        return false;
    const SyncLayout& layout = LayoutOf(kind == SYNC_MUTEX);
    int fd = -1;
    platform.shared =
        CreateSynchronisation(platform.path, layout.length, layout.initOffset, fd, layout.init);
    if (platform.shared == NULL)
        return false;
    handle = fd;
    platform.owner = true;
    return true;
}

bool CNamedSyncObject::OpenNamed(const char* name)
{
    Close();
    if (!ShmPath(name, platform.path))
        return false;
    const SyncLayout& layout = LayoutOf(kind == SYNC_MUTEX);
    int fd = -1;
    platform.shared = OpenSynchronisation(platform.path, layout.length, layout.initOffset, fd);
    if (platform.shared == NULL)
        return false;
    handle = fd;
    return true;
}

void CNamedSyncObject::Close()
{
    CloseObject(platform.shared, LayoutOf(kind == SYNC_MUTEX).length, handle, platform.owner,
                platform.path);
}

bool CNamedSyncObject::NameReplaced() const
{
    return NameLeadsElsewhere(handle, platform.path);
}

bool CNamedSyncObject::Shrunk() const
{
    return ShorterThan(handle, LayoutOf(kind == SYNC_MUTEX).length);
}

void* CNamedSyncObject::MappedRegion(size_t& length) const
{
    length = platform.shared != NULL ? LayoutOf(kind == SYNC_MUTEX).length : 0;
    return platform.shared;
}

NamedWaitResult CNamedMutex::Lock(uint32_t timeoutMs)
{
    if (platform.shared == NULL)
        return NAMED_WAIT_FAILED;
    pthread_mutex_t* m = static_cast<pthread_mutex_t*>(platform.shared);
    // A free mutex is taken without reading the clock for a deadline.
    int rc = pthread_mutex_trylock(m);
    if (rc == EBUSY && timeoutMs == WAIT_FOREVER) {
        rc = pthread_mutex_lock(m);
    } else if (rc == EBUSY) {
        struct timespec deadline;
        clock_gettime(CLOCK_MONOTONIC, &deadline);
        deadline.tv_sec += timeoutMs / 1000;
        deadline.tv_nsec += (long)(timeoutMs % 1000) * 1000000L;
        if (deadline.tv_nsec >= 1000000000L) {
            deadline.tv_sec += 1;
            deadline.tv_nsec -= 1000000000L;
        }
        rc = pthread_mutex_clocklock(m, CLOCK_MONOTONIC, &deadline);
    }
    if (rc == 0)
        return NAMED_WAIT_ACQUIRED;
    if (rc == EOWNERDEAD) {
        // The previous holder died holding it: like an abandoned mutex, the
        // caller now owns it, and the mutex stays usable for everyone.
        pthread_mutex_consistent(m);
        return NAMED_WAIT_ACQUIRED;
    }
    if (rc == ETIMEDOUT)
        return NAMED_WAIT_TIMEOUT;
    return NAMED_WAIT_FAILED;
}

void CNamedMutex::Unlock()
{
    if (platform.shared != NULL)
        pthread_mutex_unlock(static_cast<pthread_mutex_t*>(platform.shared));
}

void CNamedEvent::Set()
{
    if (platform.shared == NULL)
        return;
    std::atomic<uint32_t>* state = WordAt(platform.shared, 0);
    // A waiter sleeps only on the word holding 0, and whoever changed it from
    // 0 to 1 wakes every sleeper. So when the word was 1 already nobody can be
    // asleep on it, and the wake-up is left out. A count of waiters would also
    // spare the wake-up while the event is reset and nobody waits, but only
    // for waiters that count themselves: a reader of another make, which knows
    // only the state word, would then sleep through frames.
    if (state->exchange(1, std::memory_order_acq_rel) == 0)
        Futex(state, FUTEX_WAKE, INT_MAX, NULL);
}

void CNamedEvent::Reset()
{
    if (platform.shared != NULL)
        WordAt(platform.shared, 0)->store(0, std::memory_order_release);
}

NamedWaitResult CNamedEvent::Wait(uint32_t timeoutMs)
{
    return WaitFor(platform.shared, timeoutMs, NULL);
}

NamedWaitResult CNamedEvent::Wait(uint32_t timeoutMs, CWakeSignal& wake)
{
    return WaitFor(platform.shared, timeoutMs, static_cast<WakeState*>(wake.state));
}

bool CNamedMapping::NameReplaced() const
{
    if (handle < 0 || platform.path[0] == 0)
        return false;
    switch (FollowName(handle, platform.path)) {
    case NAME_LEADS_HERE:
        return false;
    case NAME_GONE:
        // Unlinked by its creator on the way out, or by someone else while
        // the creator still publishes into it.
        return !CreatorHolds(handle);
    default:
        return true;
    }
}

bool CNamedMapping::NameLeadsHere() const
{
    return NameLeadsTo(handle, platform.path);
}
bool CNamedSyncObject::NameLeadsHere() const
{
    return NameLeadsTo(handle, platform.path);
}

bool CNamedMapping::Shrunk() const
{
    return ShorterThan(handle, size);
}

void* CNamedMapping::MappedRegion(size_t& length) const
{
    length = view != NULL ? size : 0;
    return view;
}

bool CNamedMapping::InUseByAnotherCreator() const
{
    return platform.inUseElsewhere;
}
