// Consumer library cases of the POSIX build only. A torn table: under Wine a
// thread can stall half-way through a copy for longer than the reader's two
// copies take, which two agreeing copies cannot tell from a finished table.
// Objects cut short by another user: only POSIX objects can be.

#include <errno.h>
#include <string.h>

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <atomic>
#include <thread>

#include "camera_client_fixture.h"
#include "sealed_channel.h"
#include "ticks.h"

namespace {

TEST_F(CameraClientTest, TableReadWhileTheServiceRewritesItIsNeverTorn)
{
    // The service replaces the table in one copy from time to time; a reader
    // that copied it only once would catch many of those copies half done.
    FormatTable a, b;
    memset(&a, 0x11, sizeof(a));
    memset(&b, 0xEE, sizeof(b));
    memcpy(&Seen()->formats, &b, sizeof(FormatTable));
    std::atomic<bool> stop{false};
    std::thread writer([&] {
        for (bool first = true; !stop; first = !first) {
            memcpy(&Seen()->formats, first ? &a : &b, sizeof(FormatTable));
            std::atomic_thread_fence(std::memory_order_seq_cst);
            std::this_thread::sleep_for(std::chrono::microseconds(100));
        }
    });
    FormatTable read;
    int agreed = 0, torn = 0;
    uint32_t start = GetTickMs();
    while (GetTickMs() - start < 300) {
        std::this_thread::sleep_for(std::chrono::microseconds(30));
        if (!client.ReadFormats(read))
            continue;
        ++agreed;
        if (memcmp(&read, &a, sizeof(a)) != 0 && memcmp(&read, &b, sizeof(b)) != 0)
            ++torn;
    }
    stop = true;
    writer.join();
    EXPECT_GT(agreed, 0);
    EXPECT_EQ(torn, 0);
}

void Truncate(const char* name)
{
    int fd = shm_open(name, O_RDWR, 0);
    ASSERT_GE(fd, 0) << name;
    ASSERT_EQ(ftruncate(fd, 0), 0);
    close(fd);
}

// The reader holds the sealed copies, which nobody can cut; frames reach it
// while the named objects are cut under the service. A reader that touched
// cut memory would end this process with a bus error.
TEST_F(CameraClientTest, ObjectsCutShortByAnotherUserCannotReachTheReader)
{
    uint32_t stamp = 0;
    for (const char* name : { "/OvalixSvcMemory", "/OvalixSvcMutex", "/OvalixReadyEvent" }) {
        Truncate(name);
        Publish(++stamp);
        ASSERT_EQ(client.WaitNewest(WAIT_MS, *frame), CLIENT_FRAME) << name;
        EXPECT_EQ(frame->stamp, stamp) << name;
        EXPECT_TRUE(client.IsAttached());
        RepairSharedBlock();
    }
    // Whoever connects to the socket gets copies the kernel will not cut.
    SealedObjects objects;
    ASSERT_TRUE(FetchSealedObjects(objects));
    for (intptr_t d : objects.descriptors) {
        EXPECT_NE(ftruncate((int)d, 0), 0);
        EXPECT_EQ(errno, EPERM);
    }
    CloseSealedObjects(objects);
}

}  // namespace
