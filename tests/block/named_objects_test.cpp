// The named objects on their own: a manual-reset event across handles and
// threads, and objects that go with their creator.

#include <gtest/gtest.h>

#include <stdint.h>

#include <chrono>
#include <thread>

#include "named_objects.h"

namespace {

TEST(NamedObjectsTest, ManualResetEventAcrossHandlesAndThreads)
{
    CNamedEvent creator;
    ASSERT_TRUE(creator.Create("OvalixTestEvent"));
    CNamedEvent second;
    ASSERT_TRUE(second.Create("OvalixTestEvent"));   // opens the existing one
    CNamedEvent opener;
    ASSERT_TRUE(opener.Open("OvalixTestEvent"));

    EXPECT_EQ(opener.Wait(0), NAMED_WAIT_TIMEOUT);
    second.Set();
    EXPECT_EQ(opener.Wait(0), NAMED_WAIT_ACQUIRED);
    EXPECT_EQ(opener.Wait(0), NAMED_WAIT_ACQUIRED);   // stays set until reset
    opener.Reset();
    EXPECT_EQ(creator.Wait(20), NAMED_WAIT_TIMEOUT);

    std::thread setter([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        creator.Set();
    });
    EXPECT_EQ(opener.Wait(10000), NAMED_WAIT_ACQUIRED);
    setter.join();
}

TEST(NamedObjectsTest, SetReleasesEveryWaiterEvenWhenResetAtOnce)
{
    // Two readers wait; the first to run takes the frame and resets the event
    // before the second has been scheduled. The second must still wake.
    CNamedEvent creator;
    ASSERT_TRUE(creator.Create("OvalixTestEvent"));
    NamedWaitResult results[2] = { NAMED_WAIT_FAILED, NAMED_WAIT_FAILED };
    std::thread waiters[2];
    for (int i = 0; i < 2; ++i)
        waiters[i] = std::thread([&results, i] {
            CNamedEvent mine;
            if (mine.Open("OvalixTestEvent"))
                results[i] = mine.Wait(3000);
        });
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    creator.Set();
    creator.Reset();
    for (std::thread& t : waiters)
        t.join();
    EXPECT_EQ(results[0], NAMED_WAIT_ACQUIRED);
    EXPECT_EQ(results[1], NAMED_WAIT_ACQUIRED);
}

TEST(NamedObjectsTest, ObjectsVanishWithTheirCreator)
{
    CNamedMapping consumer;
    EXPECT_FALSE(consumer.Open("OvalixTestMemory", 4096));
    CNamedMutex mutex;
    EXPECT_FALSE(mutex.Open("OvalixTestMutex"));
    {
        CNamedMapping creator;
        ASSERT_TRUE(creator.Create("OvalixTestMemory", 4096));
        static_cast<uint8_t*>(creator.View())[4095] = 0x5A;
        ASSERT_TRUE(consumer.Open("OvalixTestMemory", 4096));
        EXPECT_EQ(static_cast<uint8_t*>(consumer.View())[4095], 0x5A);
        consumer.Close();
    }
    EXPECT_FALSE(consumer.Open("OvalixTestMemory", 4096));
}

}  // namespace
