// Steady-state streaming must not touch the heap: neither FeedStream with its
// dispatch and publication, nor a connection step that reads a socket. Every
// global operator new of this program is counted.

#include "link_test_support.h"

#include "discovery/discovery.h"

#include <atomic>
#include <mutex>
#include <new>

namespace {
std::atomic<uint64_t> g_allocations(0);
}

void* operator new(size_t size)
{
    ++g_allocations;
    void* p = malloc(size ? size : 1);
    if (!p)
        throw std::bad_alloc();
    return p;
}
void* operator new[](size_t size)
{
    return operator new(size);
}
void* operator new(size_t size, const std::nothrow_t&) noexcept
{
    ++g_allocations;
    return malloc(size ? size : 1);
}
void* operator new[](size_t size, const std::nothrow_t& tag) noexcept
{
    return operator new(size, tag);
}
void operator delete(void* p) noexcept
{
    free(p);
}
void operator delete[](void* p) noexcept
{
    free(p);
}
void operator delete(void* p, size_t) noexcept
{
    free(p);
}
void operator delete[](void* p, size_t) noexcept
{
    free(p);
}

namespace {

class FramePathAllocationTest : public SharedBlockTest {};

// The consumer's part: take every frame waiting in the ring.
uint32_t TakeFrames()
{
    uint32_t taken = 0;
    for (FrameSlot& slot : g_block->slots) {
        taken += slot.size != 0;
        slot.size = 0;
    }
    return taken;
}

TEST_F(FramePathAllocationTest, FeedDispatchAndPublishAllocateNothing)
{
    StartLink();
    SetLinkState(LINK_STREAMING);
    const Bytes plain = FrameMessage(150000, 0, 1);
    const Bytes retained = FrameMessage(1000, FRAME_FLAG_RETAIN, 2);
    const Bytes alive = Message(MSG_ALIVE, Bytes(4, 0));

    uint64_t before = g_allocations;
    uint32_t published = 0;
    for (int i = 0; i < 300; ++i) {
        const Bytes& m = i % 3 == 2 ? retained : plain;
        for (size_t at = 0; at < m.size(); at += 65536) {
            std::lock_guard<std::mutex> lock(g_linkLock);
            FeedStream(m.data() + at, (uint32_t)std::min<size_t>(65536, m.size() - at));
        }
        {
            std::lock_guard<std::mutex> lock(g_linkLock);
            FeedStream(alive.data(), (uint32_t)alive.size());
        }
        published += TakeFrames();
    }
    EXPECT_EQ(0u, g_allocations - before);
    EXPECT_EQ(300u, published);
}

TEST_F(FramePathAllocationTest, SocketStepsAllocateNothingWhileStreaming)
{
    DiscoveryAvailable = false;
    LoopbackPeer phone;
    ConnectionStep();
    ASSERT_TRUE(phone.Connect());
    for (int i = 0; i < 200 && g_block->linkState == LINK_IDLE; ++i) {
        SleepMs(5);
        ConnectionStep();
    }
    ASSERT_TRUE(phone.Send(TableMessage(3, {
                                               {640, 480}
    })));
    const Bytes frame = FrameMessage(100000, 0, 3);
    ASSERT_TRUE(phone.Send(frame));
    for (int i = 0; i < 200 && g_block->linkState != LINK_STREAMING; ++i) {
        SleepMs(2);
        ConnectionStep();
    }
    ASSERT_EQ((uint32_t)LINK_STREAMING, g_block->linkState);
    TakeFrames();

    uint64_t inSteps = 0;
    uint32_t published = 0;
    for (int i = 0; i < 100; ++i) {
        ASSERT_TRUE(phone.Send(frame));
        for (int j = 0; j < 3; ++j) {
            uint64_t before = g_allocations;
            ConnectionStep();
            inSteps += g_allocations - before;
            published += TakeFrames();
            SleepMs(4);  // the link reads no more than 10,000 bytes a millisecond
        }
    }
    EXPECT_EQ(0u, inSteps);
    EXPECT_GT(published, 90u);
    EXPECT_EQ((uint32_t)LINK_STREAMING, g_block->linkState);
}

}  // namespace
