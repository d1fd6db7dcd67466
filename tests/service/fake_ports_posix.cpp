#include "fake_ports.h"

#include <ftw.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include "serial/com_map.h"
#include "serial/usb_engine.h"

namespace {

void MakeDirs(const char* path)
{
    char buffer[1024];
    snprintf(buffer, sizeof(buffer), "%s", path);
    for (char* p = buffer + 1; *p != '\0'; ++p) {
        if (*p == '/') {
            *p = '\0';
            mkdir(buffer, 0755);
            *p = '/';
        }
    }
    mkdir(buffer, 0755);
}

void WriteText(const char* dir, const char* name, const char* text)
{
    char path[1024];
    snprintf(path, sizeof(path), "%s/%s", dir, name);
    FILE* file = fopen(path, "w");
    if (file != nullptr) {
        fprintf(file, "%s\n", text);
        fclose(file);
    }
}

int RemoveEntry(const char* path, const struct stat*, int, struct FTW*)
{
    return remove(path);
}

}  // namespace

CFakePorts::CFakePorts() : nextDevice(1)
{
    snprintf(root, sizeof(root), "/tmp/ovalix-ports-XXXXXX");
    if (mkdtemp(root) == nullptr)
        root[0] = '\0';
    char path[512];
    snprintf(path, sizeof(path), "%s/sys/class/tty", root);
    MakeDirs(path);
    snprintf(path, sizeof(path), "%s/dev", root);
    MakeDirs(path);
    setenv("OVALIX_DEVICE_ROOT", root, 1);
}

CFakePorts::~CFakePorts()
{
    unsetenv("OVALIX_DEVICE_ROOT");
    if (root[0] != '\0')
        nftw(root, RemoveEntry, 16, FTW_DEPTH | FTW_PHYS);
}

const char* CFakePorts::Root() const
{
    return root;
}

bool CFakePorts::AddUsbTty(const char* tty, const char* device, const char* manufacturer,
                           const char* product, int interfaceNumber, const char* interfaceText,
                           int protocol, bool serialConverter)
{
    char deviceDir[512];
    snprintf(deviceDir, sizeof(deviceDir), "%s/sys/devices/pci0000:00/usb1/%s", root, device);
    MakeDirs(deviceDir);
    WriteText(deviceDir, "idVendor", "abcd");
    if (manufacturer[0] != '\0')
        WriteText(deviceDir, "manufacturer", manufacturer);
    if (product[0] != '\0')
        WriteText(deviceDir, "product", product);

    char interfaceName[64];
    snprintf(interfaceName, sizeof(interfaceName), "%s:1.%d", device, interfaceNumber);
    char interfaceDir[600];
    snprintf(interfaceDir, sizeof(interfaceDir), "%s/%s", deviceDir, interfaceName);
    MakeDirs(interfaceDir);
    char number[16];
    snprintf(number, sizeof(number), "%02x", interfaceNumber & 0xff);
    WriteText(interfaceDir, "bInterfaceNumber", number);
    if (interfaceText[0] != '\0')
        WriteText(interfaceDir, "interface", interfaceText);
    if (protocol >= 0) {
        snprintf(number, sizeof(number), "%02x", protocol & 0xff);
        WriteText(interfaceDir, "bInterfaceClass", "02");
        WriteText(interfaceDir, "bInterfaceSubClass", "02");
        WriteText(interfaceDir, "bInterfaceProtocol", number);
    }

    // The tty's class directory and its "device" link, laid out as the kernel
    // does: tty/<name> below the interface (CDC ACM), or below the
    // converter's port device.
    char ttyDir[700];
    char deviceLink[800];
    char linkTarget[128];
    if (serialConverter) {
        snprintf(ttyDir, sizeof(ttyDir), "%s/%s/tty/%s", interfaceDir, tty, tty);
        snprintf(linkTarget, sizeof(linkTarget), "../../../%s", tty);
        char portDir[700];
        snprintf(portDir, sizeof(portDir), "%s/%s", interfaceDir, tty);
        MakeDirs(portDir);
        WriteText(portDir, "port_number", "0");
    } else {
        snprintf(ttyDir, sizeof(ttyDir), "%s/tty/%s", interfaceDir, tty);
        snprintf(linkTarget, sizeof(linkTarget), "../../../%s", interfaceName);
    }
    MakeDirs(ttyDir);
    WriteText(ttyDir, "dev", "166:0");
    snprintf(deviceLink, sizeof(deviceLink), "%s/device", ttyDir);
    if (symlink(linkTarget, deviceLink) != 0)
        return false;

    char classLink[512];
    snprintf(classLink, sizeof(classLink), "%s/sys/class/tty/%s", root, tty);
    return symlink(ttyDir, classLink) == 0;
}

bool CFakePorts::Add(const char* portName, const char* description)
{
    char tty[32];
    if (!TtyNameForCom(ComPortNumber(portName), tty, sizeof(tty)))
        return false;
    char device[16];
    snprintf(device, sizeof(device), "1-%d", nextDevice++);
    return AddUsbTty(tty, device, "", description, 0, "", -1, false);
}

void CFakePorts::Remove(const char* portName)
{
    char tty[32];
    if (!TtyNameForCom(ComPortNumber(portName), tty, sizeof(tty)))
        return;
    char classLink[512];
    snprintf(classLink, sizeof(classLink), "%s/sys/class/tty/%s", root, tty);
    unlink(classLink);
}
