#include "named_objects.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include "object_memory.h"

using namespace object_memory;

// Sealed objects have no name: memory that nobody can shrink or grow once it
// is initialised (memfd seals), handed to readers as descriptors.

namespace {

const unsigned SEALS = F_SEAL_SHRINK | F_SEAL_GROW | F_SEAL_SEAL;

// An unnamed object of the given length, its pages set aside, not yet sealed.
int MakeUnsealed(size_t length)
{
    int fd = memfd_create("ovalix", MFD_CLOEXEC | MFD_ALLOW_SEALING);
    if (fd < 0)
        return -1;
    if (ftruncate(fd, (off_t)length) != 0 || !Reserve(fd, length)) {
        close(fd);
        return -1;
    }
    return fd;
}

bool Seal(int fd)
{
    return fcntl(fd, F_ADD_SEALS, SEALS) == 0;
}

// Maps a handed-over descriptor when nobody can shrink what lies behind it,
// and it is long enough; closes the descriptor otherwise.
void* MapSealed(intptr_t descriptor, size_t length)
{
    int fd = (int)descriptor;
    if (fd < 0)
        return NULL;
    struct stat st;
    int seals = fcntl(fd, F_GET_SEALS);
    void* p = NULL;
    if (seals >= 0 && (seals & F_SEAL_SHRINK) != 0 && fstat(fd, &st) == 0 &&
        (size_t)st.st_size >= length)
        p = MapShared(fd, length);
    if (p == NULL)
        close(fd);
    return p;
}

// The mutex and event are initialised before they are sealed, so an adopted
// one is complete or not one of ours.
template <typename Init>
void* CreateSealedSynchronisation(size_t length, size_t initOffset, intptr_t& fdOut, Init init)
{
    int fd = MakeUnsealed(length);
    if (fd < 0)
        return NULL;
    void* p = MapShared(fd, length);
    if (p != NULL && init(p) && Seal(fd)) {
        WordAt(p, initOffset)->store(INIT_MAGIC, std::memory_order_release);
        fdOut = fd;
        return p;
    }
    if (p != NULL)
        munmap(p, length);
    close(fd);
    return NULL;
}

void* AdoptSynchronisation(intptr_t descriptor, size_t length, size_t initOffset, intptr_t& fdOut)
{
    void* p = MapSealed(descriptor, length);
    if (p == NULL)
        return NULL;
    if (WordAt(p, initOffset)->load(std::memory_order_acquire) != INIT_MAGIC) {
        munmap(p, length);
        close((int)descriptor);
        return NULL;
    }
    fdOut = descriptor;
    return p;
}

}  // namespace

bool CNamedMapping::CreateSealed(uint32_t bytes)
{
    Close();
    platform.path[0] = 0;
    int fd = MakeUnsealed(bytes);
    if (fd < 0)
        return false;
    void* p = Seal(fd) ? MapShared(fd, bytes) : NULL;
    if (p == NULL) {
        close(fd);
        return false;
    }
    view = p;
    size = bytes;
    handle = fd;
    return true;
}

bool CNamedMapping::Adopt(intptr_t descriptor, uint32_t bytes)
{
    Close();
    platform.path[0] = 0;
    void* p = MapSealed(descriptor, bytes);
    if (p == NULL)
        return false;
    view = p;
    size = bytes;
    handle = descriptor;
    return true;
}

bool CNamedSyncObject::CreateSealed()
{
    Close();
    platform.path[0] = 0;
    const SyncLayout& layout = LayoutOf(kind == SYNC_MUTEX);
    platform.shared =
        CreateSealedSynchronisation(layout.length, layout.initOffset, handle, layout.init);
    return platform.shared != NULL;
}

bool CNamedSyncObject::Adopt(intptr_t descriptor)
{
    Close();
    platform.path[0] = 0;
    const SyncLayout& layout = LayoutOf(kind == SYNC_MUTEX);
    platform.shared = AdoptSynchronisation(descriptor, layout.length, layout.initOffset, handle);
    return platform.shared != NULL;
}
