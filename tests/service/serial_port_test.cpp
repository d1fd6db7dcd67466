// The serial worker over a pseudo-terminal pair: the worker opens one end by
// its COM number, the test drives the other end as the phone would.
//
// Native: a pty pair made here; a fake device tree (OVALIX_DEVICE_ROOT) maps
// COM101 to the pty, COM102 to /dev/null, COM103 to a regular file.
// Windows (under Wine): tests/serial_port_wine.sh makes the pair and the
// links COM7 and COM107 (one end), COM8 (the other end), COM9 (/dev/null).

#include "serial/serial_port.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string.h>
#include <thread>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <poll.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

using std::chrono::milliseconds;

// Generous bound for things that must happen; never a speed requirement.
const milliseconds PATIENCE(10000);

// The other end of the line.
class Peer {
public:
#ifdef _WIN32
    static const int PORT = 7;
    static const int PORT_LONG_NAME = 107;
    static const int PORT_NOT_A_LINE = 9;
    static const int PORT_MISSING = 42;

    Peer()
    {
        handle = CreateFileA("\\\\.\\COM8", GENERIC_READ | GENERIC_WRITE, 0, NULL,
                             OPEN_EXISTING, 0, NULL);
        COMMTIMEOUTS t = {MAXDWORD, 0, 0, 0, 0};  // reads return what is there
        if (handle != INVALID_HANDLE_VALUE)
            SetCommTimeouts(handle, &t);
    }
    ~Peer() { Close(); }
    bool Ready() const { return handle != INVALID_HANDLE_VALUE; }
    void Close()
    {
        if (handle != INVALID_HANDLE_VALUE)
            CloseHandle(handle);
        handle = INVALID_HANDLE_VALUE;
    }
    // The pair outlives a closed end: the wrapper tears it down on request.
    void HangUp()
    {
        Close();
        char path[MAX_PATH];
        DWORD n = GetEnvironmentVariableA("OVALIX_SERIAL_HANGUP", path, sizeof(path));
        if (n > 0 && n < sizeof(path))
            CloseHandle(CreateFileA(path, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL));
    }
    bool Send(const uint8_t* bytes, size_t count)
    {
        DWORD done = 0;
        return WriteFile(handle, bytes, static_cast<DWORD>(count), &done, NULL) && done == count;
    }
    // Bytes available now, after waiting up to waitMs for the first.
    size_t Receive(uint8_t* bytes, size_t max, int waitMs)
    {
        for (int waited = 0;; waited += 5) {
            DWORD done = 0;
            if (!ReadFile(handle, bytes, static_cast<DWORD>(max), &done, NULL))
                return 0;
            if (done > 0 || waited >= waitMs)
                return done;
            Sleep(5);
        }
    }

private:
    HANDLE handle;
#else
    static const int PORT = 101;           // ttyUSB0
    static const int PORT_LONG_NAME = 101;
    static const int PORT_NOT_A_LINE = 102;  // ttyUSB1 -> /dev/null
    static const int PORT_REGULAR_FILE = 103;
    static const int PORT_MISSING = 104;

    Peer()
    {
        snprintf(root, sizeof(root), "/tmp/ovalix-serial-XXXXXX");
        master = posix_openpt(O_RDWR | O_NOCTTY);
        if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0 || mkdtemp(root) == nullptr)
            return;
        fcntl(master, F_SETFL, O_NONBLOCK);
        Path("dev", dev, sizeof(dev));
        mkdir(dev, 0700);
        Link("dev/ttyUSB0", ptsname(master));
        Link("dev/ttyUSB1", "/dev/null");
        char file[300];
        Path("dev/ttyUSB2", file, sizeof(file));
        FILE* f = fopen(file, "w");
        if (f != nullptr)
            fclose(f);
        setenv("OVALIX_DEVICE_ROOT", root, 1);
        ready = true;
    }
    ~Peer()
    {
        Close();
        const char* names[] = {"dev/ttyUSB0", "dev/ttyUSB1", "dev/ttyUSB2", "dev"};
        for (const char* name : names) {
            char path[300];
            Path(name, path, sizeof(path));
            remove(path);
        }
        rmdir(root);
    }
    bool Ready() const { return ready; }
    void Close()
    {
        if (master >= 0)
            close(master);
        master = -1;
    }
    void HangUp() { Close(); }
    bool Send(const uint8_t* bytes, size_t count)
    {
        while (count > 0) {
            ssize_t n = write(master, bytes, count);
            if (n < 0) {
                pollfd p = {master, POLLOUT, 0};
                if (poll(&p, 1, 1000) <= 0)
                    return false;
                continue;
            }
            bytes += n;
            count -= static_cast<size_t>(n);
        }
        return true;
    }
    size_t Receive(uint8_t* bytes, size_t max, int waitMs)
    {
        pollfd p = {master, POLLIN, 0};
        if (poll(&p, 1, waitMs) <= 0)
            return 0;
        ssize_t n = read(master, bytes, max);
        return n > 0 ? static_cast<size_t>(n) : 0;
    }

private:
    void Path(const char* below, char* path, size_t size) { snprintf(path, size, "%s/%s", root, below); }
    void Link(const char* below, const char* target)
    {
        char path[300];
        Path(below, path, sizeof(path));
        if (symlink(target, path) != 0)
            ready = false;
    }

    bool ready = false;
    int master = -1;
    char root[64];
    char dev[300];
#endif

public:
    // Reads exactly count bytes, or fewer if the line stays quiet for 2 s.
    size_t ReceiveAll(uint8_t* bytes, size_t count)
    {
        size_t done = 0;
        while (done < count) {
            size_t n = Receive(bytes + done, count - done, 2000);
            if (n == 0)
                break;
            done += n;
        }
        return done;
    }
};

// Records every notification; can hold the I/O thread inside OnData.
class Recorder : public SerialObserver {
public:
    void OnData(const uint8_t* bytes, int count) override
    {
        std::unique_lock<std::mutex> lock(mutex);
        data.insert(data.end(), bytes, bytes + count);
        counts.push_back(count);
        if (worker != nullptr && nextSize > 0)
            worker->SetReadSize(nextSize);
        changed.notify_all();
        changed.wait(lock, [this] { return !holdInOnData; });
    }
    void OnClosed() override
    {
        std::lock_guard<std::mutex> lock(mutex);
        ++closed;
        changed.notify_all();
    }
    template <class Condition>
    bool WaitFor(Condition condition)
    {
        std::unique_lock<std::mutex> lock(mutex);
        return changed.wait_for(lock, PATIENCE, [&] { return condition(); });
    }
    size_t Deliveries()
    {
        std::lock_guard<std::mutex> lock(mutex);
        return counts.size();
    }
    int Closed()
    {
        std::lock_guard<std::mutex> lock(mutex);
        return closed;
    }
    void Release()
    {
        std::lock_guard<std::mutex> lock(mutex);
        holdInOnData = false;
        changed.notify_all();
    }

    std::mutex mutex;
    std::condition_variable changed;
    std::vector<uint8_t> data;
    std::vector<int> counts;
    int closed = 0;
    bool holdInOnData = false;
    CSerialPort* worker = nullptr;
    int nextSize = 0;
};

std::vector<uint8_t> Pattern(size_t count, unsigned seed)
{
    std::vector<uint8_t> bytes(count);
    for (size_t i = 0; i < count; ++i)
        bytes[i] = static_cast<uint8_t>((i * 31 + seed + i / 251) & 0xFF);
    return bytes;
}

class SerialPortTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(peer.Ready()) << "no pseudo-terminal pair for the test"; }

    // After earlier traffic, the next thing the peer sees must be this marker
    // (retried while the worker may still be finishing an earlier write).
    void ExpectMarkerNext()
    {
        const uint8_t marker[4] = {'M', 'A', 'R', 'K'};
        uint8_t got[4] = {};
        size_t n = 0;
        for (int attempt = 0; attempt < 100 && n == 0; ++attempt) {
            worker.Write(marker, 4);
            n = peer.Receive(got, 4, 100);
        }
        n += peer.ReceiveAll(got + n, 4 - n);
        ASSERT_EQ(4u, n);
        EXPECT_EQ(0, memcmp(marker, got, 4));
    }

    Peer peer;
    Recorder recorder;
    CSerialPort worker{&recorder};
};

TEST_F(SerialPortTest, ReadCompletesOnlyWhenTheRequestedCountHasArrived)
{
    recorder.worker = &worker;
    recorder.nextSize = 4;
    worker.SetReadSize(16);
    ASSERT_EQ(SERIAL_OPEN_OK, worker.Open(Peer::PORT));

    std::vector<uint8_t> sent = Pattern(20, 7);
    ASSERT_TRUE(peer.Send(sent.data(), 10));
    std::this_thread::sleep_for(milliseconds(300));
    EXPECT_EQ(0u, recorder.Deliveries());

    // The last 6 bytes of the first read and a whole second read of the size
    // set from inside OnData.
    ASSERT_TRUE(peer.Send(sent.data() + 10, 10));
    ASSERT_TRUE(recorder.WaitFor([&] { return recorder.counts.size() == 2; })) << recorder.counts.size() << " " << recorder.data.size();
    EXPECT_EQ(16, recorder.counts[0]);
    EXPECT_EQ(4, recorder.counts[1]);
    EXPECT_EQ(sent, recorder.data);
}

TEST_F(SerialPortTest, ReadSizeIsClampedAndAFullBufferReadIsDelivered)
{
    EXPECT_EQ(1, worker.ReadSize());
    worker.SetReadSize(0);
    EXPECT_EQ(1, worker.ReadSize());
    worker.SetReadSize(3000000);
    EXPECT_EQ(SERIAL_BUFFER_SIZE, worker.ReadSize());

    ASSERT_EQ(SERIAL_OPEN_OK, worker.Open(Peer::PORT));
    std::vector<uint8_t> sent = Pattern(SERIAL_BUFFER_SIZE, 3);
    ASSERT_TRUE(peer.Send(sent.data(), sent.size()));
    ASSERT_TRUE(recorder.WaitFor([&] { return !recorder.counts.empty(); }));
    EXPECT_EQ(SERIAL_BUFFER_SIZE, recorder.counts[0]);
    EXPECT_TRUE(sent == recorder.data);
}

TEST_F(SerialPortTest, WritesUpToTheBufferSizeAreTakenLargerOnesDropped)
{
    ASSERT_EQ(SERIAL_OPEN_OK, worker.Open(Peer::PORT));
    std::vector<uint8_t> sent = Pattern(SERIAL_BUFFER_SIZE, 5);
    worker.Write(sent.data(), SERIAL_BUFFER_SIZE - 1);
    std::vector<uint8_t> got(SERIAL_BUFFER_SIZE - 1);
    ASSERT_EQ(got.size(), peer.ReceiveAll(got.data(), got.size()));
    EXPECT_TRUE(std::equal(got.begin(), got.end(), sent.begin()));

    worker.Write(sent.data(), SERIAL_BUFFER_SIZE);
    ExpectMarkerNext();
}

TEST_F(SerialPortTest, WriteWhileAnotherIsInProgressIsDropped)
{
    ASSERT_EQ(SERIAL_OPEN_OK, worker.Open(Peer::PORT));
    // Far more than the line buffers hold, so the first write is still in
    // progress when the second arrives.
    std::vector<uint8_t> first(1000000, 'A');
    const uint8_t second[10] = {'B', 'B', 'B', 'B', 'B', 'B', 'B', 'B', 'B', 'B'};
    worker.Write(first.data(), static_cast<int>(first.size()));
    worker.Write(second, sizeof(second));

    std::vector<uint8_t> got(first.size());
    ASSERT_EQ(got.size(), peer.ReceiveAll(got.data(), got.size()));
    EXPECT_EQ(first, got);
    ExpectMarkerNext();
}

TEST_F(SerialPortTest, WritesFromTwoThreadsNeverMix)
{
    ASSERT_EQ(SERIAL_OPEN_OK, worker.Open(Peer::PORT));
    const size_t BLOCK = 16384;
    const size_t WANTED = 300 * BLOCK;
    std::atomic<bool> done(false);
    auto writer = [&](uint8_t fill) {
        std::vector<uint8_t> block(BLOCK, fill);
        while (!done)
            worker.Write(block.data(), static_cast<int>(BLOCK));
    };
    std::vector<uint8_t> got;
    std::thread a(writer, uint8_t('a'));
    std::thread b(writer, uint8_t('b'));
    uint8_t chunk[65536];
    for (size_t n; got.size() < WANTED && (n = peer.Receive(chunk, sizeof(chunk), 2000)) > 0;)
        got.insert(got.end(), chunk, chunk + n);
    done = true;
    a.join();
    b.join();
    for (size_t n; (n = peer.Receive(chunk, sizeof(chunk), 500)) > 0;)
        got.insert(got.end(), chunk, chunk + n);

    ASSERT_GE(got.size(), WANTED);
    ASSERT_EQ(0u, got.size() % BLOCK);
    for (size_t at = 0; at < got.size(); at += BLOCK) {
        for (size_t i = 1; i < BLOCK; ++i)
            ASSERT_EQ(got[at], got[at + i]) << "block at " << at << " mixes two writes";
    }
}

TEST_F(SerialPortTest, StopWinsOverPendingWorkAndTheWorkerOutlivesItsThread)
{
    CSerialPort* held = new CSerialPort(&recorder);
    recorder.holdInOnData = true;
    recorder.worker = held;
    recorder.nextSize = 8;
    held->SetReadSize(4);
    ASSERT_EQ(SERIAL_OPEN_OK, held->Open(Peer::PORT));
    std::vector<uint8_t> sent = Pattern(12, 9);
    ASSERT_TRUE(peer.Send(sent.data(), 4));
    ASSERT_TRUE(recorder.WaitFor([&] { return recorder.counts.size() == 1; }));

    // The next read's bytes are already on the line, but stop is signalled
    // before the thread gets back to its wait: it must leave without reading.
    ASSERT_TRUE(peer.Send(sent.data() + 4, 8));
    held->Stop();  // gives up after its wait: the thread is held in OnData
    EXPECT_EQ(0, recorder.Closed());

    std::thread release([&] {
        std::this_thread::sleep_for(milliseconds(200));
        recorder.Release();
    });
    delete held;  // must wait for the thread, which still uses the worker
    EXPECT_EQ(1, recorder.Closed());
    release.join();
    EXPECT_EQ(1u, recorder.Deliveries());
}

TEST_F(SerialPortTest, ClosedIsReportedOnceOnStopOrWhenThePeerGoes)
{
    ASSERT_EQ(SERIAL_OPEN_OK, worker.Open(Peer::PORT));
    worker.Stop();
    EXPECT_TRUE(recorder.WaitFor([&] { return recorder.closed == 1; }));

    Recorder second;
    {
        CSerialPort other(&second);
        ASSERT_EQ(SERIAL_OPEN_OK, other.Open(Peer::PORT));
        peer.HangUp();
        EXPECT_TRUE(second.WaitFor([&] { return second.closed == 1; }));
        other.Stop();
    }
    EXPECT_EQ(1, second.Closed());
    EXPECT_EQ(1, recorder.Closed());
}

TEST_F(SerialPortTest, OpenFailuresLeaveNoThreadAndALaterOpenWorks)
{
    EXPECT_EQ(SERIAL_OPEN_NO_DEVICE, worker.Open(-1));
    EXPECT_EQ(SERIAL_OPEN_NO_DEVICE, worker.Open(Peer::PORT_MISSING));
    EXPECT_EQ(SERIAL_OPEN_STATE_FAILED, worker.Open(Peer::PORT_NOT_A_LINE));
#ifndef _WIN32
    EXPECT_EQ(SERIAL_OPEN_STATE_FAILED, worker.Open(Peer::PORT_REGULAR_FILE));
#endif
    // A stop with no thread running must not end the next run at once.
    worker.Stop();
    EXPECT_EQ(0, recorder.Closed());

    worker.SetReadSize(3);
    ASSERT_EQ(SERIAL_OPEN_OK, worker.Open(Peer::PORT_LONG_NAME));
    const uint8_t sent[3] = {1, 2, 3};
    ASSERT_TRUE(peer.Send(sent, 3));
    ASSERT_TRUE(recorder.WaitFor([&] { return recorder.counts.size() == 1; }));
    EXPECT_EQ(3, recorder.counts[0]);
    worker.Stop();
    EXPECT_TRUE(recorder.WaitFor([&] { return recorder.closed == 1; }));
}

#ifndef _WIN32
// A COM port is exclusive on Windows; a tty is not, unless the opener makes it
// so. A line that another program holds is not shared, and the worker's own
// line is refused to a second opener until the worker lets it go.
TEST_F(SerialPortTest, ALineHeldElsewhereIsNotShared)
{
    char path[300];
    snprintf(path, sizeof(path), "%s/dev/ttyUSB0", getenv("OVALIX_DEVICE_ROOT"));
    int other = open(path, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    ASSERT_GE(other, 0);
    ASSERT_EQ(0, flock(other, LOCK_EX | LOCK_NB));
    EXPECT_EQ(SERIAL_OPEN_NO_DEVICE, worker.Open(Peer::PORT));
    close(other);

    ASSERT_EQ(SERIAL_OPEN_OK, worker.Open(Peer::PORT));
    Recorder second;
    CSerialPort rival(&second);
    EXPECT_EQ(SERIAL_OPEN_NO_DEVICE, rival.Open(Peer::PORT));
    worker.Stop();
    EXPECT_TRUE(recorder.WaitFor([&] { return recorder.closed == 1; }));
    EXPECT_EQ(SERIAL_OPEN_OK, rival.Open(Peer::PORT));
    rival.Stop();
}
#endif

}  // namespace
