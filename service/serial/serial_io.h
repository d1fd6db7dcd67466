#pragma once
// The platform half of the serial worker: the port, its asynchronous reads and
// writes, the five signals the I/O thread waits on, and the thread itself.

#include <stdint.h>

class CSerialPort;

// The I/O thread serves the lowest signalled index first: stop before a read
// completion, before starting a read, before write completion and start. The
// two completions are raised when a transfer ends and stay set until reset;
// the others reset themselves when a wait reports them.
enum SerialSignal {
    SERIAL_SIGNAL_STOP,
    SERIAL_SIGNAL_READ_DONE,
    SERIAL_SIGNAL_START_READ,
    SERIAL_SIGNAL_WRITE_DONE,
    SERIAL_SIGNAL_START_WRITE,
    SERIAL_SIGNAL_COUNT,
};
enum SerialDirection { SERIAL_READ, SERIAL_WRITE };
enum SerialTransferState { SERIAL_TRANSFER_DONE, SERIAL_TRANSFER_PENDING, SERIAL_TRANSFER_FAILED };

struct SerialIo;

// Creates the five signals, all quiet; Destroy closes them and the port.
SerialIo* SerialIoCreate();
void SerialIoDestroy(SerialIo* io);

// Opens the line by its COM number and configures it: a SerialOpenResult.
// On any result but 0 the port is closed again.
int SerialIoOpen(SerialIo* io, int portNumber);
// Cancels any transfer still in flight, then closes the port if it is open.
void SerialIoClose(SerialIo* io);

void SerialIoSet(SerialIo* io, int signal);
void SerialIoReset(SerialIo* io, int signal);
// Waits without bound; the lowest signalled index, or -1 if waiting fails.
int SerialIoWait(SerialIo* io);

// Starts moving count bytes between buffer and the port; the transfer's end
// raises its direction's done signal. False when the port refused at once.
bool SerialIoBegin(SerialIo* io, SerialDirection dir, uint8_t* buffer, int count);
// The transfer's state, without waiting; *count is set once it is done.
SerialTransferState SerialIoFetch(SerialIo* io, SerialDirection dir, int* count);

// Runs worker->Run() on a new thread one step above normal priority; a failed
// start is not reported. Join waits up to timeoutMs (without bound if
// negative) and forgets the thread once it has ended.
void SerialIoStartThread(SerialIo* io, CSerialPort* worker);
void SerialIoJoin(SerialIo* io, int timeoutMs);
