// Serial ports from the sysfs device database: every tty under
// <root>/sys/class/tty that has a hardware parent (a "device" link) is a
// present port. Its port name is "COM<n>" through the tty-to-number mapping;
// its description is built from the USB strings above it: manufacturer,
// product and the interface string joined by spaces, e.g. "Acme Phone Acme
// Phone Serial", which is what the selection reads as the description.
// A CDC ACM interface that speaks an AT command set is a modem, and its
// description ends in "Modem" even when the phone gives no interface string,
// so that a phone's modem port is told apart from its data port.

#include "serial/port_enumerator.h"

#include <dirent.h>
#include <fcntl.h>
#include <limits.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include "serial/com_map.h"

namespace {

// Levels searched above the tty's device for its USB interface and device:
// tty -> (usb-serial port) -> interface -> device.
const int PARENT_LEVELS = 4;
const int ATTRIBUTE_SIZE = 128;

bool Exists(const char* path)
{
    struct stat info;
    return stat(path, &info) == 0;
}

bool ExistsIn(const char* dir, const char* name)
{
    char path[PATH_MAX];
    int written = snprintf(path, sizeof(path), "%s/%s", dir, name);
    return written > 0 && static_cast<size_t>(written) < sizeof(path) && Exists(path);
}

// Reads a one-line sysfs attribute into text without its line end; false
// when the file is missing or empty.
bool ReadAttribute(const char* dir, const char* name, char* text, size_t size)
{
    char path[PATH_MAX];
    int written = snprintf(path, sizeof(path), "%s/%s", dir, name);
    if (written <= 0 || static_cast<size_t>(written) >= sizeof(path))
        return false;
    int fd = open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    ssize_t got = read(fd, text, size - 1);
    close(fd);
    if (got <= 0)
        return false;
    size_t length = static_cast<size_t>(got);
    while (length > 0 && (text[length - 1] == '\n' || text[length - 1] == '\r'))
        --length;
    text[length] = '\0';
    return length > 0;
}

// Appends a word to the description, separated by a space, cut to fit.
void AppendWord(char* text, const char* word)
{
    if (word[0] == '\0')
        return;
    size_t length = strlen(text);
    if (length > 0 && length < static_cast<size_t>(PORT_TEXT_SIZE) - 1)
        text[length++] = ' ';
    size_t room = PORT_TEXT_SIZE - 1 - length;
    size_t wordLength = strlen(word);
    if (wordLength > room)
        wordLength = room;
    memcpy(text + length, word, wordLength);
    text[length + wordLength] = '\0';
}

// CDC ACM (class 02, subclass 02) with protocol 01 to 06: an AT command set.
bool IsModemInterface(const char* dir)
{
    char value[8];
    if (!ReadAttribute(dir, "bInterfaceClass", value, sizeof(value)) || strcmp(value, "02") != 0)
        return false;
    if (!ReadAttribute(dir, "bInterfaceSubClass", value, sizeof(value)) ||
        strcmp(value, "02") != 0)
        return false;
    if (!ReadAttribute(dir, "bInterfaceProtocol", value, sizeof(value)))
        return false;
    return strcmp(value, "01") >= 0 && strcmp(value, "06") <= 0 && strlen(value) == 2;
}

}  // namespace

struct CPortEnumerator::Impl {
    DIR* ttys;
    char classDir[PATH_MAX];
    char sysRoot[PATH_MAX];
    char current[NAME_MAX + 1];
    char path[PATH_MAX];
    char device[PATH_MAX];
};

CPortEnumerator::CPortEnumerator() : impl(new Impl())
{
    impl->ttys = nullptr;
}

CPortEnumerator::~CPortEnumerator()
{
    End();
    delete impl;
}

bool CPortEnumerator::Available() const
{
    return true;
}

bool CPortEnumerator::Begin()
{
    End();
    char sys[PATH_MAX];
    if (!DeviceRootPath("sys", sys, sizeof(sys)) || realpath(sys, impl->sysRoot) == nullptr)
        return false;
    if (!DeviceRootPath("sys/class/tty", impl->classDir, sizeof(impl->classDir)))
        return false;
    impl->ttys = opendir(impl->classDir);
    impl->current[0] = '\0';
    return impl->ttys != nullptr;
}

bool CPortEnumerator::Next()
{
    if (impl->ttys == nullptr)
        return false;
    while (struct dirent* entry = readdir(impl->ttys)) {
        if (entry->d_name[0] == '.')
            continue;
        int written = snprintf(impl->path, sizeof(impl->path), "%s/%s/device", impl->classDir,
                               entry->d_name);
        if (written <= 0 || static_cast<size_t>(written) >= sizeof(impl->path))
            continue;
        // Virtual terminals and pseudo-terminals have no hardware parent.
        if (!Exists(impl->path))
            continue;
        snprintf(impl->current, sizeof(impl->current), "%s", entry->d_name);
        return true;
    }
    return false;
}

bool CPortEnumerator::ReadPortName(char* text)
{
    int number = ComNumberForTty(impl->current);
    if (number < 0)
        return false;
    snprintf(text, PORT_TEXT_SIZE, "COM%d", number);
    return true;
}

bool CPortEnumerator::ReadDescription(char* text)
{
    text[0] = '\0';
    int written = snprintf(impl->path, sizeof(impl->path), "%s/%s/device", impl->classDir,
                           impl->current);
    if (written <= 0 || static_cast<size_t>(written) >= sizeof(impl->path))
        return false;
    if (realpath(impl->path, impl->device) == nullptr)
        return false;

    char manufacturer[ATTRIBUTE_SIZE] = "";
    char product[ATTRIBUTE_SIZE] = "";
    char interfaceText[ATTRIBUTE_SIZE] = "";
    bool haveInterface = false;
    bool modem = false;
    size_t sysLength = strlen(impl->sysRoot);
    char* dir = impl->device;
    for (int level = 0; level < PARENT_LEVELS; ++level) {
        // Never look above the database's own root.
        if (strncmp(dir, impl->sysRoot, sysLength) != 0 || strlen(dir) <= sysLength)
            break;
        if (!haveInterface && ExistsIn(dir, "bInterfaceNumber")) {
            haveInterface = true;
            ReadAttribute(dir, "interface", interfaceText, sizeof(interfaceText));
            modem = IsModemInterface(dir);
        } else if (ExistsIn(dir, "idVendor")) {
            ReadAttribute(dir, "manufacturer", manufacturer, sizeof(manufacturer));
            ReadAttribute(dir, "product", product, sizeof(product));
            break;
        }
        char* slash = strrchr(dir, '/');
        if (slash == nullptr)
            break;
        *slash = '\0';
    }
    AppendWord(text, manufacturer);
    AppendWord(text, product);
    AppendWord(text, interfaceText);
    if (modem && strcasestr(interfaceText, "modem") == nullptr)
        AppendWord(text, "Modem");
    return true;
}

void CPortEnumerator::End()
{
    if (impl->ttys != nullptr) {
        closedir(impl->ttys);
        impl->ttys = nullptr;
    }
}
