#pragma once
// The platform half of the serial worker: the port, its asynchronous reads and
// writes, the five signals the I/O thread waits on, and the thread itself.
// Signals 1 and 3 are raised by the platform when a transfer finishes and stay
// set until reset; the others reset themselves when a wait reports them.

#include <stdint.h>

// The I/O thread serves the lowest signalled index first: stop before a read
// completion, before starting a read, before write completion and start.
enum SerialSignal {
    SERIAL_SIGNAL_STOP = 0,
    SERIAL_SIGNAL_READ_DONE = 1,
    SERIAL_SIGNAL_START_READ = 2,
    SERIAL_SIGNAL_WRITE_DONE = 3,
    SERIAL_SIGNAL_START_WRITE = 4,
    SERIAL_SIGNAL_COUNT = 5,
};

enum SerialDirection { SERIAL_READ = 0, SERIAL_WRITE = 1 };

enum SerialTransferState { SERIAL_TRANSFER_DONE, SERIAL_TRANSFER_PENDING, SERIAL_TRANSFER_FAILED };

struct SerialIo;

// Creates the five signals, all quiet; the port stays closed.
SerialIo* SerialIoCreate();
// Closes the signals and the port. The thread must be gone.
void SerialIoDestroy(SerialIo* io);
bool SerialIoSignalsExist(const SerialIo* io);

// Opens the line by its COM number and configures it. -1 when the device
// cannot be opened (nothing is left open); otherwise 0 or the code of the last
// configuration step that failed (1, 2 or 4), with the port left open either
// way for the caller to close or use.
int SerialIoOpen(SerialIo* io, int portNumber);
// Cancels any transfer still in flight, then closes the port if it is open.
void SerialIoClose(SerialIo* io);

void SerialIoSet(SerialIo* io, int signal);
void SerialIoReset(SerialIo* io, int signal);
// Waits without bound; the lowest signalled index, or -1 if waiting fails.
int SerialIoWait(SerialIo* io);

// Starts moving count bytes between buffer and the port; the buffer must stay
// untouched until the transfer is fetched as done or failed. Its completion
// raises the direction's done signal. False when the port refused at once.
bool SerialIoBegin(SerialIo* io, SerialDirection dir, uint8_t* buffer, int count);
// Looks at a transfer without waiting; *count is set when it is done.
SerialTransferState SerialIoFetch(SerialIo* io, SerialDirection dir, int* count);

// Runs body(arg) on a new thread one step above normal priority. A failed
// start is not reported.
void SerialIoStartThread(SerialIo* io, void (*body)(void*), void* arg);
// Waits up to timeoutMs (without bound if negative) for the thread to end and
// forgets it once it has; does nothing when no thread is held.
void SerialIoJoin(SerialIo* io, int timeoutMs);
