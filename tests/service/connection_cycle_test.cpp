// The connection cycle driven step by step, with a phone played by a loopback
// client on port 5055. Time-outs are reached by moving the last sign of life
// back rather than by waiting.

#include "link_test_support.h"

#include "discovery/discovery.h"

namespace {

class ConnectionCycleTest : public SharedBlockTest {
protected:
    void SetUp() override
    {
        SharedBlockTest::SetUp();
        // No resolver in these tests: the cycle goes straight to the port.
        DiscoveryAvailable = false;
    }
    void TearDown() override
    {
        phone.Close();
        SharedBlockTest::TearDown();
    }
    uint32_t State() const { return g_block->linkState; }

    // Steps until the phone's connection is accepted.
    void Connect()
    {
        ConnectionStep();
        ASSERT_EQ((uint32_t)LINK_IDLE, State());
        ASSERT_TRUE(phone.Connect());
        for (int i = 0; i < 200 && State() == LINK_IDLE; ++i) {
            SleepMs(5);
            ConnectionStep();
        }
        ASSERT_EQ((uint32_t)LINK_AWAIT_TABLE, State());
        EXPECT_EQ(nullptr, g_link.serialEngine);
        EXPECT_EQ(nullptr, g_link.outgoingSocket);
        ASSERT_NE(nullptr, g_link.listenSocket);
    }
    // Steps until the state changes away from `from` or the attempts run out.
    void StepWhile(uint32_t from, int attempts = 200)
    {
        for (int i = 0; i < attempts && State() == from; ++i) {
            SleepMs(2);
            ConnectionStep();
        }
    }
    void SendTable(uint32_t session = 0)
    {
        ASSERT_TRUE(phone.Send(TableMessage(3,
                                            {
                                                {1280, 720},
                                                {640,  480},
                                                {320,  240}
        },
                                            session)));
        StepWhile(LINK_AWAIT_TABLE);
        ASSERT_EQ((uint32_t)LINK_AWAIT_FRAME, State());
    }
    LoopbackPeer phone;
};

TEST_F(ConnectionCycleTest, TableRequestAndFramesReachTheRing)
{
    g_block->requestedWidth = 600;
    g_block->requestedHeight = 400;
    Connect();
    SendTable(0x55);
    EXPECT_EQ(SelectFormatBytes(1, 0x55), phone.Drain(100));

    ASSERT_TRUE(phone.Send(FrameMessage(1000, 0, 1)));
    StepWhile(LINK_AWAIT_FRAME);
    ASSERT_EQ((uint32_t)LINK_STREAMING, State());
    for (uint32_t stamp = 2; stamp <= 4; ++stamp)
        ASSERT_TRUE(phone.Send(FrameMessage(1000 * stamp, 0, stamp)));
    for (int i = 0; i < 100 && g_block->currentSlot < 4; ++i) {
        SleepMs(2);
        ConnectionStep();
    }
    EXPECT_TRUE(SlotHoldsFrame(g_block->retained, 1000, 0, 1));
    for (uint32_t stamp = 1; stamp <= 4; ++stamp)
        EXPECT_TRUE(SlotHoldsFrame(g_block->slots[stamp], 1000 * stamp, 0, stamp)) << stamp;
}

TEST_F(ConnectionCycleTest, SocketReadsNeverExceedTheFreeRoom)
{
    Connect();
    SendTable();
    // Frames of 150,000 bytes back to back: the socket holds far more than the
    // reassembly buffer can take in one step, and none may be lost.
    Bytes burst;
    for (uint32_t stamp = 1; stamp <= 6; ++stamp) {
        Bytes f = FrameMessage(150000, 0, stamp);
        burst.insert(burst.end(), f.begin(), f.end());
    }
    ASSERT_TRUE(phone.Send(burst));
    for (int i = 0; i < 400 && g_block->currentSlot < 6; ++i) {
        SleepMs(2);
        ConnectionStep();
    }
    for (uint32_t stamp = 1; stamp <= 6; ++stamp)
        EXPECT_TRUE(SlotHoldsFrame(g_block->slots[stamp], 150000, 0, stamp)) << stamp;
}

TEST_F(ConnectionCycleTest, TableWaitEndsAfter1500Ms)
{
    Connect();
    // A peer that closes while the table is awaited is noticed only by the time-out.
    phone.Close();
    for (int i = 0; i < 10; ++i) {
        SleepMs(5);
        ConnectionStep();
    }
    EXPECT_EQ((uint32_t)LINK_AWAIT_TABLE, State());
    g_link.lastReceiveTick = GetTickMs() - 1400;
    ConnectionStep();
    EXPECT_EQ((uint32_t)LINK_AWAIT_TABLE, State());
    g_link.lastReceiveTick = GetTickMs() - 1501;
    ConnectionStep();
    EXPECT_EQ((uint32_t)LINK_IDLE, State());
    EXPECT_EQ(nullptr, g_link.listenSocket);

    // The next idle step listens afresh and takes the next phone.
    Connect();

    // A link found at the end of a long idle step still gets its 1500 ms.
    g_link.lastReceiveTick = GetTickMs() - 1400;
    StartLink();
    SleepMs(150);
    ConnectionStep();
    EXPECT_EQ((uint32_t)LINK_AWAIT_TABLE, State());
}

TEST_F(ConnectionCycleTest, SilenceOrAClosedPeerEndsAnEstablishedLink)
{
    Connect();
    SendTable();
    g_link.lastReceiveTick = GetTickMs() - 2400;
    ConnectionStep();
    EXPECT_EQ((uint32_t)LINK_AWAIT_FRAME, State());
    g_link.lastReceiveTick = GetTickMs() - 2501;
    ConnectionStep();
    EXPECT_EQ((uint32_t)LINK_IDLE, State());
    EXPECT_EQ(nullptr, g_link.listenSocket);

    Connect();
    SendTable();
    ASSERT_TRUE(phone.Send(FrameMessage(10, 0, 1)));
    StepWhile(LINK_AWAIT_FRAME);
    ASSERT_EQ((uint32_t)LINK_STREAMING, State());
    phone.Close();
    StepWhile(LINK_STREAMING, 50);
    EXPECT_EQ((uint32_t)LINK_IDLE, State());
    EXPECT_EQ(nullptr, g_link.listenSocket);
}

TEST_F(ConnectionCycleTest, NewRequestedSizeIsNegotiatedOnTheNextLink)
{
    Connect();
    SendTable(7);
    EXPECT_EQ(SelectFormatBytes(2, 7), phone.Drain(100));  // 0 x 0: the last entry
    ConnectionStep();
    EXPECT_EQ((uint32_t)LINK_AWAIT_FRAME, State());

    g_block->requestedWidth = 640;
    g_block->requestedHeight = 480;
    ConnectionStep();
    EXPECT_EQ((uint32_t)LINK_IDLE, State());
    EXPECT_TRUE(phone.Drain(50).empty());

    // The service closed the link first; the port is at once usable again.
    Connect();
    SendTable(8);
    EXPECT_EQ(SelectFormatBytes(1, 8), phone.Drain(100));
}

TEST_F(ConnectionCycleTest, PhoneThatOnlySignsLifeGetsRepeatedRequests)
{
    Connect();
    SendTable();
    const Bytes request = SelectFormatBytes(2);
    EXPECT_EQ(request, phone.Drain(50));
    for (int i = 0; i < 3; ++i) {
        ASSERT_TRUE(phone.Send(Message(MSG_ALIVE, Bytes(336, 0))));
        Bytes got;
        for (int j = 0; j < 50 && got.empty(); ++j) {
            ConnectionStep();
            got = phone.Drain(5);
        }
        EXPECT_EQ(request, got) << i;
    }

    // Then only the service's keep-alives, each at least 500 ms after the
    // previous message it sent (arrival times carry a step of jitter).
    const Bytes alive = Message(MSG_ALIVE, Bytes());
    uint32_t lastSend = GetTickMs();
    int keepAlives = 0;
    uint32_t start = GetTickMs();
    while (GetTickMs() - start < 1300) {
        ConnectionStep();
        SleepMs(20);
        Bytes got = phone.Drain(1);
        if (got.empty())
            continue;
        uint32_t now = GetTickMs();
        EXPECT_EQ(alive, got);
        EXPECT_GE(now - lastSend, 450u);
        lastSend = now;
        ++keepAlives;
    }
    EXPECT_GE(keepAlives, 2);
    EXPECT_EQ((uint32_t)LINK_AWAIT_FRAME, State());
}

}  // namespace
