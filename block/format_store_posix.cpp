#include "format_store.h"

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

// The key is the directory <state>/Software/Ovalix and the value the file
// "Setup" in it. <state> is the first entry of $STATE_DIRECTORY (systemd sets
// it from StateDirectory=), else /var/lib/ovalix.

namespace {

const char* const STORE_VALUE = "Setup";
const char* const STORE_TEMP = "Setup.tmp";

bool StateRoot(char (&out)[4096])
{
    const char* env = getenv("STATE_DIRECTORY");
    const char* root = (env != NULL && env[0] != '\0') ? env : "/var/lib/ovalix";
    size_t len = strcspn(root, ":");
    if (len + 1 > sizeof(out))
        return false;
    memcpy(out, root, len);
    out[len] = '\0';
    return true;
}

bool KeyPath(char (&out)[4096])
{
    char root[4096];
    if (!StateRoot(root))
        return false;
    int n = snprintf(out, sizeof(out), "%s/Software/Ovalix", root);
    return n > 0 && n < (int)sizeof(out);
}

// mkdir -p of the key's directory; existing directories are fine.
bool CreateKeyDirectories(const char* path)
{
    char partial[4096];
    size_t len = strlen(path);
    if (len >= sizeof(partial))
        return false;
    memcpy(partial, path, len + 1);
    for (size_t i = 1; i <= len; ++i) {
        if (partial[i] == '/' || partial[i] == '\0') {
            char saved = partial[i];
            partial[i] = '\0';
            if (mkdir(partial, 0755) != 0 && errno != EEXIST)
                return false;
            partial[i] = saved;
        }
    }
    return true;
}

bool WriteAll(int fd, const uint8_t* data, uint32_t size)
{
    uint32_t done = 0;
    while (done < size) {
        ssize_t n = write(fd, data + done, size - done);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        done += (uint32_t)n;
    }
    return true;
}

}  // namespace

StoreReadResult ReadStoredFormats(uint8_t* dest, uint32_t capacity)
{
    char key[4096];
    if (!KeyPath(key))
        return STORE_NO_KEY;
    int dir = open(key, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir < 0)
        return STORE_NO_KEY;
    // Opened without waiting: a FIFO or a device in the value's place would
    // otherwise hold up the start for good. Only a regular file is a value.
    int fd = openat(dir, STORE_VALUE, O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    close(dir);
    if (fd < 0)
        return STORE_READ_FAILED;
    struct stat st;
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        close(fd);
        return STORE_READ_FAILED;
    }

    // Read one byte more than fits, to tell an over-long value from a full one.
    // The value is staged first so that a failed read leaves dest untouched.
    uint8_t staged[4097];
    uint32_t limit = capacity < sizeof(staged) - 1 ? capacity : (uint32_t)sizeof(staged) - 1;
    uint32_t got = 0;
    bool failed = false;
    while (got < limit + 1) {
        ssize_t n = read(fd, staged + got, limit + 1 - got);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            failed = true;
            break;
        }
        if (n == 0)
            break;
        got += (uint32_t)n;
    }
    close(fd);
    if (failed || got > capacity)
        return STORE_READ_FAILED;
    memcpy(dest, staged, got);
    return STORE_READ_OK;
}

void WriteStoredFormats(const uint8_t* data, uint32_t size)
{
    char key[4096];
    if (!KeyPath(key) || !CreateKeyDirectories(key))
        return;
    int dir = open(key, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir < 0)
        return;
    // Write a new file and rename it over the old one, so a crash or full disk
    // never leaves a torn table behind.
    int fd = openat(dir, STORE_TEMP, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd >= 0) {
        bool ok = WriteAll(fd, data, size) && fsync(fd) == 0;
        ok = close(fd) == 0 && ok;
        if (ok && renameat(dir, STORE_TEMP, dir, STORE_VALUE) == 0)
            fsync(dir);
        else
            unlinkat(dir, STORE_TEMP, 0);
    }
    close(dir);
}
