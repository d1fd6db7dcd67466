#include "serial/usb_engine.h"

#include <limits.h>
#include <string.h>

#include "serial/port_enumerator.h"

namespace {

const int INITIAL_READ_SIZE = 12;

char LowerAscii(char c)
{
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

}  // namespace

bool IsComSuffix(const char* text)
{
    if (text == nullptr || *text == '\0')
        return false;
    for (; *text != '\0'; ++text) {
        if (!((*text >= '0' && *text <= '9') || *text == ':'))
            return false;
    }
    return true;
}

int ComPortNumber(const char* portName)
{
    if (strlen(portName) <= 3)
        return -1;
    if (LowerAscii(portName[0]) != 'c' || LowerAscii(portName[1]) != 'o' ||
        LowerAscii(portName[2]) != 'm')
        return -1;
    const char* suffix = portName + 3;
    if (!IsComSuffix(suffix))
        return -1;
    // Leading digits only, so that "COM12:" is 12 and "COM:" is 0. A number
    // too large for an int names no real port and is refused rather than
    // overflowing.
    long long value = 0;
    for (const char* p = suffix; *p >= '0' && *p <= '9'; ++p) {
        value = value * 10 + (*p - '0');
        if (value > INT_MAX)
            return -1;
    }
    return static_cast<int>(value);
}

bool IsPhoneDescription(const char* description)
{
    char lower[PORT_TEXT_SIZE];
    size_t i = 0;
    for (; description[i] != '\0' && i < sizeof(lower) - 1; ++i)
        lower[i] = LowerAscii(description[i]);
    lower[i] = '\0';
    return strstr(lower, "nokia") != nullptr && strstr(lower, "modem") == nullptr;
}

CUSBEngine::CUSBEngine(StreamReceiver owner)
    : owner(owner), connected(0), portNumber(-1), worker(nullptr), ports(nullptr)
{
    worker = new CSerialPort(this);
    worker->SetReadSize(INITIAL_READ_SIZE);
    ports = new CPortEnumerator();
}

CUSBEngine::~CUSBEngine()
{
    // Stop ends the I/O thread, whose last act is OnClosed on this engine, so
    // the engine must still be whole here.
    worker->Stop();
    delete worker;
    worker = nullptr;
    delete ports;
    ports = nullptr;
}

int CUSBEngine::FindPort()
{
    if (!ports->Available() || !ports->Begin())
        return -1;
    char portName[PORT_TEXT_SIZE];
    char description[PORT_TEXT_SIZE];
    int result = -1;
    while (ports->Next()) {
        if (!ports->ReadPortName(portName))
            continue;
        int number = ComPortNumber(portName);
        if (number < 0)
            continue;
        if (!ports->ReadDescription(description))
            continue;
        // Every match replaces the previous one: the last device wins.
        if (IsPhoneDescription(description))
            result = number;
    }
    ports->End();
    return result;
}

bool CUSBEngine::Connect()
{
    portNumber = FindPort();
    if (portNumber == -1)
        return false;
    if (worker->Open(portNumber) != SERIAL_OPEN_OK)
        return false;
    connected = 1;
    return true;
}

bool CUSBEngine::IsPresent()
{
    if (portNumber == -1)
        return false;
    return FindPort() == portNumber;
}

bool CUSBEngine::Send(const uint8_t* bytes, int count)
{
    // A write the worker drops (one still pending, or too long) is not
    // reported; the protocol's time-outs cover a lost message.
    worker->Write(bytes, count);
    return true;
}

void CUSBEngine::SetReadSize(int count)
{
    worker->SetReadSize(count);
}

void CUSBEngine::OnClosed()
{
    connected = 0;
}

void CUSBEngine::OnData(const uint8_t* bytes, int count)
{
    owner(bytes, count);
}
