#pragma once
// CUSBEngine: the serial transport. Finds the phone's port, owns its
// CSerialPort worker and passes bytes both ways.

#include <stdint.h>
#include <atomic>
#include "serial/serial_port.h"

// Receives the bytes of every completed serial read, on the I/O thread.
typedef void (*StreamReceiver)(const uint8_t* bytes, int count);

// final: the owners delete it as a CUSBEngine, and its destructor is not
// virtual.
class CUSBEngine final : public SerialObserver {
public:
    explicit CUSBEngine(StreamReceiver owner);
    ~CUSBEngine();

    bool Connect();
    bool IsPresent();
    bool Send(const uint8_t* bytes, int count);
    void SetReadSize(int count);
    int FindPort();

    void OnClosed() override;
    void OnData(const uint8_t* bytes, int count) override;

    // The number the last Connect stored, which IsPresent looks for; only
    // the tests read it, to see presence follow it.
    int PortNumber() const { return portNumber; }
    CSerialPort* Worker() const { return worker; }

private:
    CUSBEngine(const CUSBEngine&);
    CUSBEngine& operator=(const CUSBEngine&);

    StreamReceiver owner;
    std::atomic<int> connected;
    int portNumber;
    CSerialPort* worker;
    // The platform's port enumeration (SetupAPI loaded at run time on Windows,
    // the device database elsewhere); owned.
    class CPortEnumerator* ports;
};

// True when text is non-empty and every character is a decimal digit or ':'.
bool IsComSuffix(const char* text);

// The number n of a port name "COM<digits or ':'>" (any case), read from the
// leading digits as atoi does ("COM12:" gives 12); -1 when the name is not a
// COM port name or its number does not fit an int.
int ComPortNumber(const char* portName);

// True when the description, compared in lower case, names the phone's data
// port: it contains "nokia" and not "modem".
bool IsPhoneDescription(const char* description);
