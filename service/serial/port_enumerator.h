#pragma once
// CPortEnumerator: walks the serial ports the system currently has, one device
// at a time, and reads each one's port name and description as strings. The
// choice of the phone's port is made by the caller; this class only reads.
//
// Windows: the SetupAPI "Ports" device class, SETUPAPI.DLL loaded at run time.
// POSIX: the sysfs device database (tty devices with a hardware parent), with
// the port name given as "COM<n>" through the tty-to-number mapping.

const int PORT_TEXT_SIZE = 256;

class CPortEnumerator {
public:
    // Windows: loads the library and looks up its entry points; when one is
    // missing the thread's last error becomes 120 and Available() is false.
    CPortEnumerator();
    ~CPortEnumerator();

    bool Available() const;

    // Builds the list of present ports; false when it cannot be made.
    bool Begin();
    // Moves to the next device of the list; false when there is none.
    bool Next();
    // Port name / description of the current device as a terminated string
    // of at most PORT_TEXT_SIZE - 1 characters; false when it cannot be read
    // or is not a string value.
    bool ReadPortName(char* text);
    bool ReadDescription(char* text);
    // Releases the list made by Begin.
    void End();

private:
    CPortEnumerator(const CPortEnumerator&);
    CPortEnumerator& operator=(const CPortEnumerator&);

    struct Impl;
    Impl* impl;
};
