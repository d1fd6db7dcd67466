// The serial line as a COM port with overlapped I/O: each direction's record
// carries its done signal, which the system raises when the transfer ends.

#include "serial/serial_io.h"

#include "serial/serial_port.h"

#include <windows.h>
#include <process.h>
#include <stdio.h>
#include <string.h>

static_assert(sizeof(DCB) == 28, "the line settings record is 28 bytes");

struct SerialIo {
    HANDLE events[SERIAL_SIGNAL_COUNT];
    HANDLE port;
    HANDLE thread;
    unsigned threadId;
    // One record per direction, and whether the system still holds it: its
    // buffer and record must not be released before the system is done.
    OVERLAPPED overlapped[2];
    bool inFlight[2];
};

namespace {

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

unsigned __stdcall ThreadMain(void* worker)
{
    static_cast<CSerialPort*>(worker)->Run();
    return 0;
}

}  // namespace

SerialIo* SerialIoCreate()
{
    SerialIo* io = new SerialIo();
    io->port = INVALID_HANDLE_VALUE;
    for (int i = 0; i < SERIAL_SIGNAL_COUNT; ++i) {
        BOOL manualReset = (i == SERIAL_SIGNAL_READ_DONE || i == SERIAL_SIGNAL_WRITE_DONE);
        io->events[i] = CreateEventA(NULL, manualReset, FALSE, NULL);
    }
    return io;
}

void SerialIoDestroy(SerialIo* io)
{
    SerialIoClose(io);
    for (int i = 0; i < SERIAL_SIGNAL_COUNT; ++i) {
        if (io->events[i] != NULL)
            CloseHandle(io->events[i]);
    }
    delete io;
}

int SerialIoOpen(SerialIo* io, int portNumber)
{
    // "\\.\COMn": ten characters hold COM0 to COM99; the buffer is sized
    // for any non-negative int so that COM100 and above are not truncated
    // into the name of another port.
    char path[20];
    snprintf(path, sizeof(path), "\\\\.\\COM%d", portNumber);
    io->port = CreateFileA(path, GENERIC_READ | GENERIC_WRITE,
                           FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, CREATE_ALWAYS,
                           FILE_FLAG_OVERLAPPED, NULL);
    if (io->port == INVALID_HANDLE_VALUE)
        return SERIAL_OPEN_NO_DEVICE;

    memset(io->overlapped, 0, sizeof(io->overlapped));
    DCB dcb;
    PrepareLineSettings(&dcb);
    COMMTIMEOUTS timeouts;
    memset(&timeouts, 0, sizeof(timeouts));

    PurgeComm(io->port, PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR);
    io->overlapped[SERIAL_READ].hEvent = io->events[SERIAL_SIGNAL_READ_DONE];
    io->overlapped[SERIAL_WRITE].hEvent = io->events[SERIAL_SIGNAL_WRITE_DONE];

    // Each failing step replaces the code of an earlier one.
    int result = SERIAL_OPEN_OK;
    if (!SetCommMask(io->port, 0))
        result = SERIAL_OPEN_MASK_FAILED;
    if (!SetCommTimeouts(io->port, &timeouts))
        result = SERIAL_OPEN_TIMEOUTS_FAILED;
    if (!SetCommState(io->port, &dcb))
        result = SERIAL_OPEN_STATE_FAILED;
    for (int i = 0; i < SERIAL_SIGNAL_COUNT; ++i) {
        if (io->events[i] == NULL)
            result = SERIAL_OPEN_EVENTS_MISSING;
    }
    if (result != SERIAL_OPEN_OK)
        SerialIoClose(io);
    return result;
}

void SerialIoClose(SerialIo* io)
{
    if (io->port == INVALID_HANDLE_VALUE)
        return;
    if (io->inFlight[SERIAL_READ] || io->inFlight[SERIAL_WRITE]) {
        DWORD ignored = 0;
        CancelIo(io->port);
        for (int dir = 0; dir < 2; ++dir) {
            if (io->inFlight[dir])
                GetOverlappedResult(io->port, &io->overlapped[dir], &ignored, TRUE);
            io->inFlight[dir] = false;
        }
    }
    CloseHandle(io->port);
    io->port = INVALID_HANDLE_VALUE;
}

void SerialIoSet(SerialIo* io, int signal)
{
    if (io->events[signal] != NULL)
        SetEvent(io->events[signal]);
}

void SerialIoReset(SerialIo* io, int signal)
{
    ResetEvent(io->events[signal]);
}

int SerialIoWait(SerialIo* io)
{
    DWORD index =
        WaitForMultipleObjects(SERIAL_SIGNAL_COUNT, io->events, FALSE, INFINITE) - WAIT_OBJECT_0;
    return index < SERIAL_SIGNAL_COUNT ? static_cast<int>(index) : -1;
}

bool SerialIoBegin(SerialIo* io, SerialDirection dir, uint8_t* buffer, int count)
{
    DWORD size = static_cast<DWORD>(count);
    BOOL started = dir == SERIAL_READ
                       ? ReadFile(io->port, buffer, size, NULL, &io->overlapped[dir])
                       : WriteFile(io->port, buffer, size, NULL, &io->overlapped[dir]);
    if (!started && GetLastError() != ERROR_IO_PENDING)
        return false;
    io->inFlight[dir] = true;
    return true;
}

SerialTransferState SerialIoFetch(SerialIo* io, SerialDirection dir, int* count)
{
    DWORD done = 0;
    if (!GetOverlappedResult(io->port, &io->overlapped[dir], &done, FALSE))
        return GetLastError() == ERROR_IO_PENDING ? SERIAL_TRANSFER_PENDING
                                                  : SERIAL_TRANSFER_FAILED;
    io->inFlight[dir] = false;
    *count = static_cast<int>(done);
    return SERIAL_TRANSFER_DONE;
}

void SerialIoStartThread(SerialIo* io, CSerialPort* worker)
{
    io->thread = reinterpret_cast<HANDLE>(
        _beginthreadex(NULL, 0, ThreadMain, worker, 0, &io->threadId));
    if (io->thread != NULL)
        SetThreadPriority(io->thread, THREAD_PRIORITY_ABOVE_NORMAL);
}

void SerialIoJoin(SerialIo* io, int timeoutMs)
{
    if (io->thread == NULL)
        return;
    DWORD wait = timeoutMs < 0 ? INFINITE : static_cast<DWORD>(timeoutMs);
    if (WaitForSingleObject(io->thread, wait) == WAIT_OBJECT_0) {
        CloseHandle(io->thread);
        io->thread = NULL;
        io->threadId = 0;
    }
}
