#pragma once
// CSerialPort: the worker that owns one open serial port and its I/O thread.
// A read of n bytes completes only when n bytes have arrived; the receiver sets
// the size of the next read.

#include <stdint.h>

const int SERIAL_BUFFER_SIZE = 2560000;

enum SerialOpenResult {
    SERIAL_OPEN_OK = 0,
    SERIAL_OPEN_NO_DEVICE = -1,
    SERIAL_OPEN_MASK_FAILED = 1,
    SERIAL_OPEN_TIMEOUTS_FAILED = 2,
    SERIAL_OPEN_STATE_FAILED = 4,
    SERIAL_OPEN_EVENTS_MISSING = 32,
};

class SerialObserver {
public:
    virtual void OnClosed() = 0;
    virtual void OnData(const uint8_t* bytes, int count) = 0;
};

class CSerialPort {
public:
    explicit CSerialPort(SerialObserver* observer);
    ~CSerialPort();

    int Open(int portNumber);
    void SetReadSize(int count);
    void Write(const uint8_t* bytes, int count);
    void Stop();
    void Run();

    int ReadSize() const;

private:
    CSerialPort(const CSerialPort&);
    CSerialPort& operator=(const CSerialPort&);
    // Platform fields (events, port handle, thread, buffers) are defined by
    // the platform implementation.
    struct Impl;
    Impl* impl;
};
