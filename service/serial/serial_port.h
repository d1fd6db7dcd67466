#pragma once
// CSerialPort: the worker that owns one open serial port and its I/O thread.
// A read of n bytes completes only when n bytes have arrived; the receiver sets
// the size of the next read.
//
// Threads: the owner constructs, opens, stops and deletes the worker. The I/O
// thread runs Run() and calls the observer. Write() and SetReadSize() may be
// called from either thread. Stop() and the destructor must not be called
// from the I/O thread (from inside OnData or OnClosed): they wait for it.

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

// Receiver of the worker's notifications, both called on the I/O thread.
class SerialObserver {
public:
    // The I/O thread has ended and the port is closed. Called once per run.
    virtual void OnClosed() = 0;
    // A read completed with count (at least 1) bytes. The bytes stay valid
    // only until this returns: the next read goes into the same buffer.
    virtual void OnData(const uint8_t* bytes, int count) = 0;
};

class CSerialPort {
public:
    explicit CSerialPort(SerialObserver* observer);
    // Signals stop and waits for the I/O thread without bound, so that the
    // worker (and its observer, deleted after it) is never freed under a
    // running thread.
    ~CSerialPort();

    // 0 opened and I/O thread started; -1 no such device or it cannot be
    // opened (also for negative numbers); 1, 2, 4 or 32 the line could not be
    // configured (the last failing step wins) and the port is closed again.
    // Any non-negative number is accepted: COM100 and above use the longer
    // device path that they need.
    int Open(int portNumber);
    // Size of the next read, clamped to 1 .. SERIAL_BUFFER_SIZE. A read in
    // progress keeps its size.
    void SetReadSize(int count);
    // Queues a copy of the bytes. Dropped silently when a write is still
    // queued or in progress, or when count is not 1 .. SERIAL_BUFFER_SIZE - 1.
    // Two threads may call it at once: the busy flag is taken with an atomic
    // test-and-set, so only one of them ever fills the write buffer.
    void Write(const uint8_t* bytes, int count);
    // Signals stop and waits at most 2000 ms for the I/O thread to end. A
    // thread that has not ended by then is still waited for by the destructor.
    void Stop();
    // The I/O thread's body.
    void Run();

    // The read size SetReadSize settled on, after clamping. Only the tests
    // look: the I/O thread reads the field itself.
    int ReadSize() const;

    // The worker's fields (flags, buffers, the platform's port, signals and
    // thread), allocated once by the constructor.
    struct Impl;

private:
    CSerialPort(const CSerialPort&);
    CSerialPort& operator=(const CSerialPort&);
    Impl* impl;
};
