#pragma once
// Present serial ports registered with the platform's device database for a
// test, and removed again when the object goes.
//
// Windows: "Ports" class devices PORTS\PHONE\<n> registered through SetupAPI,
// with the description as SPDRP_DEVICEDESC and "PortName" in the device key.
// POSIX: a sysfs tree under a temporary OVALIX_DEVICE_ROOT, one USB device per
// port with the description as its product string.

class CFakePorts {
public:
    CFakePorts();
    ~CFakePorts();

    // A present port with this port name ("COM7") and description.
    bool Add(const char* portName, const char* description);
    // Takes the port with this port name out of the database.
    void Remove(const char* portName);

    // POSIX only: the fake tree's root, and a USB interface carrying a tty.
    // `device` names the USB device ("1-3"); interfaces of one device share
    // its manufacturer and product. protocol < 0 leaves out the interface
    // class attributes; serialConverter puts the tty one level lower, as a
    // USB serial converter's port device does.
    const char* Root() const;
    bool AddUsbTty(const char* tty, const char* device, const char* manufacturer,
                   const char* product, int interfaceNumber, const char* interfaceText,
                   int protocol, bool serialConverter);

private:
    CFakePorts(const CFakePorts&);
    CFakePorts& operator=(const CFakePorts&);
    char root[256];
    int nextDevice;
};

// Windows only, for tests and the registration tool: register one port and
// return its instance id in id (at least 64 bytes), remove ports by name,
// or remove every port this helper ever registered.
bool RegisterFakePort(const char* portName, const char* description, char* id);
void RemoveFakePort(const char* portName);
void RemoveAllFakePorts();
