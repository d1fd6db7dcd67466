#include "serial/serial_port.h"

#include <windows.h>
#include <process.h>
#include <stdio.h>
#include <string.h>

#include <atomic>

namespace {

// The I/O thread serves the lowest signalled index first: stop before a read
// completion, before starting a read, before write completion and start.
enum SerialEvent {
    EVENT_STOP = 0,
    EVENT_READ_DONE = 1,
    EVENT_START_READ = 2,
    EVENT_WRITE_DONE = 3,
    EVENT_START_WRITE = 4,
    EVENT_COUNT = 5,
};

const DWORD STOP_WAIT_MS = 2000;

static_assert(sizeof(DCB) == 28, "the line settings record is 28 bytes");

void PrepareLineSettings(DCB* dcb)
{
    memset(dcb, 0, sizeof(*dcb));
    dcb->DCBlength = sizeof(DCB);
    dcb->BaudRate = 576000;
    dcb->ByteSize = 8;
    dcb->Parity = NOPARITY;
    dcb->StopBits = ONESTOPBIT;
    // Flag word 0x00001011: binary mode, DTR and RTS raised, no flow control.
    dcb->fBinary = 1;
    dcb->fDtrControl = DTR_CONTROL_ENABLE;
    dcb->fRtsControl = RTS_CONTROL_ENABLE;
    dcb->XonLim = 2;
    dcb->XoffLim = 4;
    dcb->XonChar = 0x13;
    dcb->XoffChar = 0x19;
}

}  // namespace

struct CSerialPort::Impl {
    HANDLE events[EVENT_COUNT];
    unsigned threadId;
    HANDLE port;
    HANDLE thread;
    OVERLAPPED readOverlapped;
    OVERLAPPED writeOverlapped;
    std::atomic<bool> writeBusy;
    bool readBusy;
    std::atomic<int> readSize;
    int lastReadCount;
    std::atomic<int> writeLength;
    SerialObserver* observer;
    uint8_t receiveBuffer[SERIAL_BUFFER_SIZE];
    uint8_t writeBuffer[SERIAL_BUFFER_SIZE];
};

static unsigned __stdcall SerialThreadMain(void* worker)
{
    static_cast<CSerialPort*>(worker)->Run();
    return 0;
}

CSerialPort::CSerialPort(SerialObserver* observer)
    : impl(new Impl)
{
    impl->observer = observer;
    impl->threadId = 0;
    impl->port = INVALID_HANDLE_VALUE;
    impl->thread = NULL;
    impl->writeBusy = false;
    impl->readBusy = false;
    impl->readSize = 1;
    impl->writeLength = 0;
    impl->lastReadCount = 0;
    for (int i = 0; i < EVENT_COUNT; ++i) {
        BOOL manualReset = (i == EVENT_READ_DONE || i == EVENT_WRITE_DONE);
        impl->events[i] = CreateEventA(NULL, manualReset, FALSE, NULL);
    }
}

CSerialPort::~CSerialPort()
{
    if (impl->thread != NULL) {
        // Stop may have given up after its 2000 ms; the observer is freed
        // right after this worker, so the thread must be gone first.
        if (impl->events[EVENT_STOP] != NULL)
            SetEvent(impl->events[EVENT_STOP]);
        WaitForSingleObject(impl->thread, INFINITE);
        CloseHandle(impl->thread);
        impl->thread = NULL;
    }
    for (int i = 0; i < EVENT_COUNT; ++i) {
        if (impl->events[i] != NULL) {
            CloseHandle(impl->events[i]);
            impl->events[i] = NULL;
        }
    }
    if (impl->port != INVALID_HANDLE_VALUE) {
        CloseHandle(impl->port);
        impl->port = INVALID_HANDLE_VALUE;
    }
    delete impl;
}

int CSerialPort::Open(int portNumber)
{
    Impl* p = impl;
    if (portNumber < 0)
        return SERIAL_OPEN_NO_DEVICE;

    // "\\.\COMn": ten characters hold COM0 to COM99; the buffer is sized
    // for any non-negative int so that COM100 and above are not truncated
    // into the name of another port.
    char path[20];
    snprintf(path, sizeof(path), "\\\\.\\COM%d", portNumber);
    p->port = CreateFileA(path, GENERIC_READ | GENERIC_WRITE,
                          FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, CREATE_ALWAYS,
                          FILE_FLAG_OVERLAPPED, NULL);
    if (p->port == INVALID_HANDLE_VALUE)
        return SERIAL_OPEN_NO_DEVICE;

    memset(&p->readOverlapped, 0, sizeof(p->readOverlapped));
    memset(&p->writeOverlapped, 0, sizeof(p->writeOverlapped));
    DCB dcb;
    PrepareLineSettings(&dcb);
    COMMTIMEOUTS timeouts;
    memset(&timeouts, 0, sizeof(timeouts));

    PurgeComm(p->port, PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR);
    p->readOverlapped.hEvent = p->events[EVENT_READ_DONE];
    p->writeOverlapped.hEvent = p->events[EVENT_WRITE_DONE];

    int result = SERIAL_OPEN_OK;
    if (!SetCommMask(p->port, 0))
        result = SERIAL_OPEN_MASK_FAILED;
    if (!SetCommTimeouts(p->port, &timeouts))
        result = SERIAL_OPEN_TIMEOUTS_FAILED;
    if (!SetCommState(p->port, &dcb))
        result = SERIAL_OPEN_STATE_FAILED;
    for (int i = 0; i < EVENT_COUNT; ++i) {
        if (p->events[i] == NULL)
            result = SERIAL_OPEN_EVENTS_MISSING;
    }
    if (result != SERIAL_OPEN_OK) {
        CloseHandle(p->port);
        p->port = INVALID_HANDLE_VALUE;
        return result;
    }

    // A fresh run starts from quiet signals and clear flags: a stop left over
    // from an earlier run would end this one at once, and a write busy flag
    // cleared by the thread after a Write had already queued its bytes would
    // let a second Write overwrite them mid-transfer.
    for (int i = 0; i < EVENT_COUNT; ++i)
        ResetEvent(p->events[i]);
    p->writeBusy = false;
    p->readBusy = false;

    // A failed thread start is not reported: no data ever arrives, and the
    // link's receive time-outs end it.
    p->thread = reinterpret_cast<HANDLE>(
        _beginthreadex(NULL, 0, SerialThreadMain, this, 0, &p->threadId));
    if (p->thread != NULL)
        SetThreadPriority(p->thread, THREAD_PRIORITY_ABOVE_NORMAL);
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
    Impl* p = impl;
    if (count < 1 || count >= SERIAL_BUFFER_SIZE)
        return;
    if (p->writeBusy.exchange(true))
        return;
    memcpy(p->writeBuffer, bytes, static_cast<size_t>(count));
    p->writeLength = count;
    SetEvent(p->events[EVENT_START_WRITE]);
}

void CSerialPort::Stop()
{
    Impl* p = impl;
    SetEvent(p->events[EVENT_STOP]);
    if (p->thread != NULL && WaitForSingleObject(p->thread, STOP_WAIT_MS) == WAIT_OBJECT_0) {
        CloseHandle(p->thread);
        p->thread = NULL;
        p->threadId = 0;
    }
}

void CSerialPort::Run()
{
    Impl* p = impl;
    // Operations handed to the platform and not yet fetched: their buffers and
    // records must not be released before the platform is done with them.
    bool readInFlight = false;
    bool writeInFlight = false;
    SetEvent(p->events[EVENT_START_READ]);

    for (;;) {
        DWORD signalled = WaitForMultipleObjects(EVENT_COUNT, p->events, FALSE, INFINITE);
        if (signalled >= WAIT_OBJECT_0 + EVENT_COUNT)
            break;
        int index = static_cast<int>(signalled - WAIT_OBJECT_0);
        if (index == EVENT_STOP)
            break;

        if (index == EVENT_READ_DONE) {
            DWORD count = 0;
            if (!GetOverlappedResult(p->port, &p->readOverlapped, &count, FALSE)) {
                if (GetLastError() == ERROR_IO_PENDING)
                    continue;
                break;
            }
            readInFlight = false;
            ResetEvent(p->events[EVENT_READ_DONE]);
            p->lastReadCount = static_cast<int>(count);
            p->readBusy = false;
            if (count >= 1) {
                p->observer->OnData(p->receiveBuffer, static_cast<int>(count));
                SetEvent(p->events[EVENT_START_READ]);
            }
        } else if (index == EVENT_START_READ) {
            if (p->readBusy)
                continue;
            p->readBusy = true;
            DWORD size = static_cast<DWORD>(p->readSize.load());
            if (!ReadFile(p->port, p->receiveBuffer, size, NULL, &p->readOverlapped) &&
                GetLastError() != ERROR_IO_PENDING)
                break;
            readInFlight = true;
        } else if (index == EVENT_WRITE_DONE) {
            DWORD count = 0;
            if (!GetOverlappedResult(p->port, &p->writeOverlapped, &count, FALSE)) {
                if (GetLastError() == ERROR_IO_PENDING)
                    continue;
                break;
            }
            writeInFlight = false;
            ResetEvent(p->events[EVENT_WRITE_DONE]);
            p->writeBusy = false;
        } else {
            DWORD length = static_cast<DWORD>(p->writeLength.load());
            if (!WriteFile(p->port, p->writeBuffer, length, NULL, &p->writeOverlapped) &&
                GetLastError() != ERROR_IO_PENDING)
                break;
            writeInFlight = true;
        }
    }

    if (p->port != INVALID_HANDLE_VALUE) {
        if (readInFlight || writeInFlight) {
            DWORD ignored = 0;
            CancelIo(p->port);
            if (readInFlight)
                GetOverlappedResult(p->port, &p->readOverlapped, &ignored, TRUE);
            if (writeInFlight)
                GetOverlappedResult(p->port, &p->writeOverlapped, &ignored, TRUE);
        }
        CloseHandle(p->port);
        p->port = INVALID_HANDLE_VALUE;
    }
    p->observer->OnClosed();
}
