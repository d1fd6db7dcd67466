#include "serial/serial_port.h"

#include "serial/serial_io.h"

#include <string.h>

#include <atomic>

static const int STOP_WAIT_MS = 2000;

struct CSerialPort::Impl {
    SerialIo* io;
    std::atomic<bool> writeBusy{false};
    bool readBusy = false;
    std::atomic<int> readSize{1};
    int lastReadCount = 0;
    std::atomic<int> writeLength{0};
    SerialObserver* observer;
    uint8_t receiveBuffer[SERIAL_BUFFER_SIZE];
    uint8_t writeBuffer[SERIAL_BUFFER_SIZE];
};

CSerialPort::CSerialPort(SerialObserver* observer)
    : impl(new Impl)
{
    impl->observer = observer;
    impl->io = SerialIoCreate();
}

CSerialPort::~CSerialPort()
{
    // Stop may have given up after its 2000 ms; the observer is freed right
    // after this worker, so the thread must be gone first.
    SerialIoSet(impl->io, SERIAL_SIGNAL_STOP);
    SerialIoJoin(impl->io, -1);
    SerialIoDestroy(impl->io);
    delete impl;
}

int CSerialPort::Open(int portNumber)
{
    Impl* p = impl;
    if (portNumber < 0)
        return SERIAL_OPEN_NO_DEVICE;
    int result = SerialIoOpen(p->io, portNumber);
    if (result != SERIAL_OPEN_OK)
        return result;

    // A fresh run starts from quiet signals and clear flags: a stop left over
    // from an earlier run would end this one at once, and a write busy flag
    // cleared by the thread after a Write had already queued its bytes would
    // let a second Write overwrite them mid-transfer.
    for (int i = 0; i < SERIAL_SIGNAL_COUNT; ++i)
        SerialIoReset(p->io, i);
    p->writeBusy = false;
    p->readBusy = false;

    // A failed thread start is not reported: no data ever arrives, and the
    // link's receive time-outs end it.
    SerialIoStartThread(p->io, this);
    return SERIAL_OPEN_OK;
}

void CSerialPort::SetReadSize(int count)
{
    if (count > SERIAL_BUFFER_SIZE)
        count = SERIAL_BUFFER_SIZE;
    // A read of 0 bytes would complete empty and never start another one.
    if (count < 1)
        count = 1;
    impl->readSize = count;
}

int CSerialPort::ReadSize() const
{
    return impl->readSize;
}

void CSerialPort::Write(const uint8_t* bytes, int count)
{
    if (count < 1 || count >= SERIAL_BUFFER_SIZE || impl->writeBusy.exchange(true))
        return;
    memcpy(impl->writeBuffer, bytes, static_cast<size_t>(count));
    impl->writeLength = count;
    SerialIoSet(impl->io, SERIAL_SIGNAL_START_WRITE);
}

void CSerialPort::Stop()
{
    SerialIoSet(impl->io, SERIAL_SIGNAL_STOP);
    SerialIoJoin(impl->io, STOP_WAIT_MS);
}

void CSerialPort::Run()
{
    Impl* p = impl;
    SerialIo* io = p->io;
    SerialIoSet(io, SERIAL_SIGNAL_START_READ);

    for (;;) {
        int signal = SerialIoWait(io);
        if (signal < 0 || signal == SERIAL_SIGNAL_STOP)
            break;

        if (signal == SERIAL_SIGNAL_START_READ) {
            if (p->readBusy)
                continue;
            p->readBusy = true;
            if (!SerialIoBegin(io, SERIAL_READ, p->receiveBuffer, p->readSize))
                break;
        } else if (signal == SERIAL_SIGNAL_START_WRITE) {
            if (!SerialIoBegin(io, SERIAL_WRITE, p->writeBuffer, p->writeLength))
                break;
        } else {
            // A read or write completion. A transfer that completed at once
            // is handled here too, through its signal.
            SerialDirection dir = signal == SERIAL_SIGNAL_READ_DONE ? SERIAL_READ : SERIAL_WRITE;
            int count = 0;
            SerialTransferState state = SerialIoFetch(io, dir, &count);
            if (state == SERIAL_TRANSFER_PENDING)
                continue;
            if (state == SERIAL_TRANSFER_FAILED)
                break;
            SerialIoReset(io, signal);
            if (dir == SERIAL_WRITE) {
                p->writeBusy = false;
                continue;
            }
            p->lastReadCount = count;
            p->readBusy = false;
            // An empty read neither delivers nor starts the next one.
            if (count >= 1) {
                p->observer->OnData(p->receiveBuffer, count);
                SerialIoSet(io, SERIAL_SIGNAL_START_READ);
            }
        }
    }

    SerialIoClose(io);
    p->observer->OnClosed();
}
