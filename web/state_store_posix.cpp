#include "state_store.h"

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

bool DefaultStateDir(char* out, size_t cap)
{
    const char* dir = getenv("STATE_DIRECTORY");
    if (dir == nullptr || dir[0] == 0) {
        dir = "/var/lib/ovalix";
    }
    // systemd gives several directories separated by colons; ours is first.
    size_t length = strcspn(dir, ":");
    if (length + 1 > cap) {
        return false;
    }
    memcpy(out, dir, length);
    out[length] = 0;
    return true;
}

static bool MakeDir(const char* path, mode_t mode)
{
    return mkdir(path, mode) == 0 || errno == EEXIST;
}

bool MakePrivateDir(const char* path)
{
    char parent[STATE_PATH_CHARS];
    snprintf(parent, sizeof parent, "%s", path);
    char* slash = strrchr(parent, '/');
    if (slash != nullptr && slash != parent) {
        *slash = 0;
        MakeDir(parent, 0755);
    }
    if (!MakeDir(path, 0700)) {
        return false;
    }
    // An existing folder is narrowed too.
    return chmod(path, 0700) == 0;
}

bool WritePrivateFile(const char* path, const void* data, size_t length)
{
    char temporary[STATE_PATH_CHARS + 8];
    if (snprintf(temporary, sizeof temporary, "%s.new", path) >=
        static_cast<int>(sizeof temporary)) {
        return false;
    }
    unlink(temporary);
    int fd = open(temporary, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0) {
        return false;
    }
    const char* bytes = static_cast<const char*>(data);
    size_t done = 0;
    while (done < length) {
        ssize_t n = write(fd, bytes + done, length - done);
        if (n <= 0) {
            if (n < 0 && errno == EINTR) {
                continue;
            }
            break;
        }
        done += static_cast<size_t>(n);
    }
    bool ok = done == length && fsync(fd) == 0;
    ok = close(fd) == 0 && ok;
    if (!ok || rename(temporary, path) != 0) {
        unlink(temporary);
        return false;
    }
    return true;
}
