#include "serial/com_map.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

namespace {

struct TtyFamily {
    const char* prefix;
    int base;
};

const TtyFamily FAMILIES[] = {
    {"ttyS", 1},
    {"ttyUSB", 101},
    {"ttyACM", 201},
};
const int FAMILY_SIZE = 100;

// The device index after the family prefix: decimal, 0 to 99, no leading
// zeros, so that each number has one spelling only.
int ParseIndex(const char* text)
{
    if (text[0] < '0' || text[0] > '9')
        return -1;
    if (text[0] == '0')
        return text[1] == '\0' ? 0 : -1;
    int value = 0;
    for (const char* p = text; *p != '\0'; ++p) {
        if (*p < '0' || *p > '9')
            return -1;
        value = value * 10 + (*p - '0');
        if (value >= FAMILY_SIZE)
            return -1;
    }
    return value;
}

}  // namespace

const char* DeviceRoot()
{
    const char* root = getenv("OVALIX_DEVICE_ROOT");
    return (root != nullptr && root[0] != '\0') ? root : "/";
}

int ComNumberForTty(const char* ttyName)
{
    for (const TtyFamily& family : FAMILIES) {
        size_t length = strlen(family.prefix);
        if (strncmp(ttyName, family.prefix, length) != 0)
            continue;
        int index = ParseIndex(ttyName + length);
        return index < 0 ? -1 : family.base + index;
    }
    return -1;
}

bool TtyNameForCom(int portNumber, char* name, size_t size)
{
    for (const TtyFamily& family : FAMILIES) {
        if (portNumber >= family.base && portNumber < family.base + FAMILY_SIZE) {
            int written = snprintf(name, size, "%s%d", family.prefix, portNumber - family.base);
            return written > 0 && static_cast<size_t>(written) < size;
        }
    }
    return false;
}

bool DeviceRootPath(const char* below, char* path, size_t size)
{
    const char* root = DeviceRoot();
    size_t rootLength = strlen(root);
    while (rootLength > 0 && root[rootLength - 1] == '/')
        --rootLength;
    int written = snprintf(path, size, "%.*s/%s", static_cast<int>(rootLength), root, below);
    return written > 0 && static_cast<size_t>(written) < size;
}

bool ComDevicePath(int portNumber, char* path, size_t size)
{
    char name[32];
    char below[40];
    if (!TtyNameForCom(portNumber, name, sizeof(name)))
        return false;
    snprintf(below, sizeof(below), "dev/%s", name);
    return DeviceRootPath(below, path, size);
}
