// The format table is written without the mutex; a reader must never take a
// half-written one. Natively only: under Wine a thread can stall half-way
// through a copy for longer than the reader's two copies take, which two
// agreeing copies cannot tell from a finished table.

#include <string.h>

#include <atomic>
#include <thread>

#include "camera_client_fixture.h"
#include "ticks.h"

namespace {

TEST_F(CameraClientTest, TableReadWhileTheServiceRewritesItIsNeverTorn)
{
    // The service replaces the table in one copy from time to time; a reader
    // that copied it only once would catch many of those copies half done.
    FormatTable a, b;
    memset(&a, 0x11, sizeof(a));
    memset(&b, 0xEE, sizeof(b));
    memcpy(&g_block->formats, &b, sizeof(FormatTable));
    std::atomic<bool> stop{false};
    std::thread writer([&] {
        for (bool first = true; !stop; first = !first) {
            memcpy(&g_block->formats, first ? &a : &b, sizeof(FormatTable));
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

}  // namespace
