// The stream protocol against the real block: bytes on the wire, reassembly,
// resynchronisation, the phone's table and the frame rules per link state.

#include "link_test_support.h"

#include <mutex>

namespace {

void Feed(const Bytes& b, size_t from = 0, size_t count = (size_t)-1)
{
    if (count == (size_t)-1)
        count = b.size() - from;
    std::lock_guard<std::mutex> lock(g_linkLock);
    FeedStream(b.data() + from, (uint32_t)count);
}

void Append(Bytes& to, const Bytes& more)
{
    to.insert(to.end(), more.begin(), more.end());
}

class StreamProtocolTest : public SharedBlockTest {
protected:
    void SetUp() override
    {
        SharedBlockTest::SetUp();
        ASSERT_TRUE(AcceptPeer(g_link.listenSocket, peer));
    }
    void TearDown() override
    {
        peer.Close();
        SharedBlockTest::TearDown();
    }
    void Restart(uint32_t state)
    {
        StartLink();
        SetLinkState(state);
    }
    LoopbackPeer peer;
};

TEST_F(StreamProtocolTest, DefaultTableAndServiceMessagesAreByteExact)
{
    const uint8_t defaultEntry[8] = {0x80, 0x02, 0x1E, 0x00, 0x00, 0x00, 0xF0, 0x41};
    EXPECT_EQ(0, memcmp(&g_block->formats.entries[0], defaultEntry, 8));

    g_link.lastSendTick = GetTickMs() - KEEPALIVE_INTERVAL_MS;
    SendKeepAlive();
    const Bytes alive = {0xDE, 0xC0, 0xAD, 0xDE, 0, 0, 0, 0, 0x05, 0x00, 0x02, 0x00, 0, 0, 0, 0};
    EXPECT_EQ(alive, peer.Drain(200));
    SendKeepAlive();   // less than 500 ms later: nothing
    EXPECT_TRUE(peer.Drain(100).empty());

    FormatTable& t = g_formats;
    t.count = 3;
    t.entries[1].packed = PackEntry(640, 480, 0);
    t.entries[2].packed = PackEntry(320, 240, 0);
    g_link.lastSendTick = GetTickMs() - 100000;
    SendFormatRequest();
    const Bytes request = {0xDE, 0xC0, 0xAD, 0xDE, 0, 0, 0, 0, 0x03, 0x00, 0x02, 0x00,
                           0x04, 0x00, 0x00, 0x00, 0x02, 0x00, 0x00, 0x00};
    EXPECT_EQ(request, peer.Drain(200));
    // The request counts as a send: no keep-alive follows it within 500 ms.
    SendKeepAlive();
    EXPECT_TRUE(peer.Drain(100).empty());
}

TEST_F(StreamProtocolTest, PhoneTableIsAdjustedAndIndexChosen)
{
    struct Case {
        const char* what;
        uint32_t mode;
        std::vector<TestEntry> entries;
        int claimedCount;
        uint32_t wantW, wantH;
        uint32_t count;
        bool shifted;
        uint32_t index;
    };
    const std::vector<TestEntry> three = {{1280, 720}, {640, 480}, {320, 240}};
    std::vector<TestEntry> forty;
    for (uint32_t i = 0; i < 40; ++i)
        forty.push_back({1280 - i * 16, 720 - i * 8});
    const Case cases[] = {
        {"last large-enough entry", 3, three, -1, 600, 400, 3, false, 1},
        {"0x0 takes the last entry", 3, three, -1, 0, 0, 3, false, 2},
        {"nothing large enough", 3, three, -1, 1920, 1080, 3, false, 0},
        {"720 first, mode 2", 2, {{1280, 720}, {1280, 720}, {640, 480}, {320, 240}}, -1, 600, 400, 3, true, 2},
        {"720 first, mode 1", 1, three, -1, 0, 0, 2, true, 2},
        {"mode 1 without 720 first", 1, {{640, 480}, {1280, 720}}, -1, 0, 0, 2, false, 1},
        {"truncated below 320", 3, {{1280, 720}, {640, 480}, {240, 180}, {320, 240}}, -1, 0, 0, 2, false, 1},
        {"narrow entry 0", 3, {{240, 180}, {640, 480}}, -1, 0, 0, 0, false, 0},
        {"narrow after shift", 1, {{1280, 720}, {240, 180}}, -1, 0, 0, 0, true, 1},
        {"count above 40 clamped", 3, forty, 41, 0, 0, 40, false, 39},
        {"huge count clamped", 3, forty, 0x7FFFFFFF, 0, 0, 40, false, 39},
        {"empty table with 720 first", 1, {{1280, 720}}, 0, 0, 0, 0, false, 0},
    };
    uint32_t session = 0x11223344;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Restart(LINK_AWAIT_TABLE);
        g_block->requestedWidth = c.wantW;
        g_block->requestedHeight = c.wantH;
        Feed(TableMessage(c.mode, c.entries, ++session, c.claimedCount));
        EXPECT_EQ((uint32_t)LINK_AWAIT_FRAME, g_block->linkState);
        EXPECT_EQ(c.count, g_block->formats.count);
        EXPECT_EQ(c.shifted, g_link.tableShifted);
        EXPECT_EQ(session, g_link.sessionWord);
        EXPECT_EQ(session, g_block->formats.header.sessionWord);
        EXPECT_EQ(0xA1A2A3A4u, g_block->formats.reserved1);
        EXPECT_EQ(c.wantW, g_link.sentWidth);
        EXPECT_EQ(c.wantH, g_link.sentHeight);
        EXPECT_EQ(SelectFormatBytes(c.index, session), peer.Drain(150));
        if (c.shifted && c.count > 0) {
            EXPECT_EQ(EntryWidth(g_block->formats.entries[0]), c.entries[1].width);
        }
    }
}

TEST_F(StreamProtocolTest, ShortTableMessageIsZeroFilled)
{
    memset(&g_formats, 0xFF, sizeof(FormatTable));
    Restart(LINK_AWAIT_TABLE);
    Bytes payload;
    PutWord(payload, 3);
    PutWord(payload, 0);
    PutWord(payload, 0);
    PutWord(payload, 2);
    PutWord(payload, PackEntry(640, 480, 0));
    Feed(Message(MSG_ALIVE, payload));
    const uint8_t* table = (const uint8_t*)&g_block->formats;
    for (uint32_t i = 36; i < FORMAT_TABLE_SIZE; ++i)
        ASSERT_EQ(0, table[i]) << "byte " << i;
    // The missing second entry reads as width 0, which ends the table.
    EXPECT_EQ(1u, g_block->formats.count);
    EXPECT_EQ(SelectFormatBytes(0), peer.Drain(150));
}

TEST_F(StreamProtocolTest, ReassemblesAcrossArbitrarySplits)
{
    Bytes stream = TableMessage(3, {{640, 480}});
    const uint32_t sizes[] = {1, 5000, 65536, 149999, 3};
    for (uint32_t i = 0; i < 5; ++i)
        Append(stream, FrameMessage(sizes[i], i == 2 ? FRAME_FLAG_RETAIN : 0, 100 + i));

    uint32_t seed = 12345;
    for (int round = 0; round < 12; ++round) {
        SCOPED_TRACE(round);
        Restart(LINK_AWAIT_TABLE);
        size_t at = 0;
        while (at < stream.size()) {
            seed = seed * 1103515245u + 12345u;
            // Pieces from one byte to a little over a socket read.
            size_t limit = round == 0 ? 1 : (round % 2 ? 17 : 70000);
            size_t piece = 1 + (seed >> 8) % limit;
            piece = std::min(piece, stream.size() - at);
            Feed(stream, at, piece);
            at += piece;
        }
        EXPECT_EQ((uint32_t)LINK_STREAMING, g_block->linkState);
        EXPECT_EQ(0u, g_link.fill);
        for (uint32_t i = 0; i < 5; ++i)
            EXPECT_TRUE(SlotHoldsFrame(g_block->slots[i + 1], sizes[i], i == 2 ? FRAME_FLAG_RETAIN : 0, 100 + i))
                << "slot " << i + 1;
        EXPECT_TRUE(SlotHoldsFrame(g_block->retained, sizes[2], FRAME_FLAG_RETAIN, 102));
        peer.Drain(10);
    }

    // A message that arrives byte by byte is dispatched with its last byte.
    Restart(LINK_STREAMING);
    Bytes frame = FrameMessage(40, 0, 7);
    for (size_t i = 0; i + 1 < frame.size(); ++i) {
        Feed(frame, i, 1);
        ASSERT_EQ(0u, g_block->slots[1].size);
    }
    Feed(frame, frame.size() - 1, 1);
    EXPECT_TRUE(SlotHoldsFrame(g_block->slots[1], 40, 0, 7));
}

TEST_F(StreamProtocolTest, ResynchronisesOnTheNextMagic)
{
    Restart(LINK_STREAMING);
    Bytes noise(1000);
    for (size_t i = 0; i < noise.size(); ++i)
        noise[i] = (uint8_t)(i * 31 + 1);
    Feed(noise);
    EXPECT_LE(g_link.fill, 3u);

    // Noise, then a magic split across two deliveries.
    Bytes frame = FrameMessage(300, 0, 1);
    Bytes first = noise;
    first.insert(first.end(), frame.begin(), frame.begin() + 2);
    Feed(first);
    Feed(frame, 2);
    EXPECT_TRUE(SlotHoldsFrame(g_block->slots[1], 300, 0, 1));

    // False starts of a magic word before the real one.
    Bytes tricky = {0xDE, 0xC0, 0xAD, 0x00, 0xDE, 0xC0};
    Feed(tricky);
    Bytes second = FrameMessage(20, 0, 2);
    Feed(second, 0, 3);
    Feed(second, 3);
    EXPECT_TRUE(SlotHoldsFrame(g_block->slots[2], 20, 0, 2));
    EXPECT_EQ(0u, g_link.fill);
}

TEST_F(StreamProtocolTest, BadHeaderEmptiesTheBuffer)
{
    struct Bad {
        uint32_t type;
        uint32_t length;
    };
    const Bad bad[] = {{0x1FFFF, 0}, {0x20006, 0}, {MSG_FRAME, 199985}, {MSG_FRAME, 0xFFFFFFFF}};
    for (const Bad& b : bad) {
        Restart(LINK_STREAMING);
        Bytes m;
        PutWord(m, STREAM_MAGIC);
        PutWord(m, 0);
        PutWord(m, b.type);
        PutWord(m, b.length);
        Append(m, FrameMessage(10, 0, 3));   // good bytes behind go too
        Feed(m);
        EXPECT_EQ(0u, g_link.fill);
        EXPECT_EQ(0u, g_block->slots[1].size);
    }

    // The largest message there is: 199,984 payload bytes.
    Restart(LINK_STREAMING);
    Feed(FrameMessage(STREAM_MAX_LENGTH - FRAME_SUBHEADER_SIZE, 0, 9));
    EXPECT_TRUE(SlotHoldsFrame(g_block->slots[1], 199972, 0, 9));
}

TEST_F(StreamProtocolTest, DeliveryBeyondFreeRoomIsDiscarded)
{
    Bytes big = FrameMessage(STREAM_MAX_LENGTH - FRAME_SUBHEADER_SIZE, 0, 4);   // 200,000 bytes
    Restart(LINK_STREAMING);
    Feed(big, 0, 199990);
    EXPECT_EQ(10u, StreamFreeRoom());
    Feed(big, 199990 - 1, 11);   // one byte too many
    EXPECT_EQ(0u, g_link.fill);
    EXPECT_EQ(0u, g_block->slots[1].size);
    Feed(FrameMessage(8, 0, 5));
    EXPECT_TRUE(SlotHoldsFrame(g_block->slots[1], 8, 0, 5));

    // Exactly the free room fits.
    Restart(LINK_STREAMING);
    Feed(big, 0, 199990);
    Feed(big, 199990, 10);
    EXPECT_TRUE(SlotHoldsFrame(g_block->slots[1], 199972, 0, 4));
}

TEST_F(StreamProtocolTest, MessagesActByLinkState)
{
    Bytes frame = FrameMessage(50, 0, 11);
    Bytes roleless = Message(0x20001, Bytes(8, 1));

    // Idle and the table wait ignore frames; they are no sign of life there.
    Restart(LINK_IDLE);
    Feed(frame);
    EXPECT_EQ(0u, g_block->slots[1].size);
    Restart(LINK_AWAIT_TABLE);
    g_link.lastReceiveTick = GetTickMs() - 1000;
    uint32_t before = g_link.lastReceiveTick;
    Bytes both = frame;
    Append(both, roleless);
    Feed(both);
    EXPECT_EQ((uint32_t)LINK_AWAIT_TABLE, g_block->linkState);
    EXPECT_EQ(before, g_link.lastReceiveTick);
    EXPECT_EQ(0u, g_block->slots[1].size);
    EXPECT_EQ(0u, g_link.fill);

    // Table and a sign of life in one delivery: the choice is sent twice.
    Bytes tableAndAlive = TableMessage(3, {{640, 480}, {320, 240}}, 5);
    Append(tableAndAlive, Message(MSG_ALIVE, Bytes(4, 0)));
    Feed(tableAndAlive);
    Bytes twice = SelectFormatBytes(1, 5);
    Append(twice, SelectFormatBytes(1, 5));
    EXPECT_EQ(twice, peer.Drain(150));
    EXPECT_EQ((uint32_t)LINK_AWAIT_FRAME, g_block->linkState);

    // A frame too short for its sub-header is a sign of life, nothing more.
    g_link.lastReceiveTick = GetTickMs() - 1000;
    Feed(Message(MSG_FRAME, Bytes(8, 2)));
    EXPECT_EQ((uint32_t)LINK_AWAIT_FRAME, g_block->linkState);
    EXPECT_LT(GetTickMs() - g_link.lastReceiveTick, 500u);
    EXPECT_EQ(0u, g_block->slots[1].size);

    // The first frame is retained whatever its flags, and published.
    memset(&g_block->retained, 0, sizeof(g_block->retained));
    Feed(frame);
    EXPECT_EQ((uint32_t)LINK_STREAMING, g_block->linkState);
    EXPECT_TRUE(SlotHoldsFrame(g_block->retained, 50, 0, 11));
    EXPECT_TRUE(SlotHoldsFrame(g_block->slots[1], 50, 0, 11));

    // Streaming: flagged frames replace the retained one, others do not.
    Feed(FrameMessage(60, FRAME_FLAG_RETAIN | 1, 12));
    EXPECT_TRUE(SlotHoldsFrame(g_block->retained, 60, FRAME_FLAG_RETAIN | 1, 12));
    EXPECT_TRUE(SlotHoldsFrame(g_block->slots[2], 60, FRAME_FLAG_RETAIN | 1, 12));
    Feed(FrameMessage(70, 1, 13));
    EXPECT_TRUE(SlotHoldsFrame(g_block->retained, 60, FRAME_FLAG_RETAIN | 1, 12));
    EXPECT_TRUE(SlotHoldsFrame(g_block->slots[3], 70, 1, 13));
    Feed(Message(MSG_FRAME, Bytes(11, 3)));
    EXPECT_EQ(3u, g_block->currentSlot);
}

} // namespace
