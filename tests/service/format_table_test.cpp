// Loading, validating and saving the persisted format table.

#include <gtest/gtest.h>

#include <math.h>
#include <string.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>
#include <vector>

#include "link_context.h"
#include "block_writer.h"
#include "stored_table_access.h"

namespace {

struct Entry {
    uint32_t width;
    uint32_t height;
    float fps;
    uint32_t flags;
};

FormatTable MakeTable(std::initializer_list<Entry> entries)
{
    FormatTable table;
    memset(&table, 0, sizeof(table));
    table.header.magic = 0xDEADC0DE;
    table.header.sessionWord = 0x11223344;
    table.header.type = 0x20005;
    table.header.length = 336;
    table.mode = 2;
    table.reserved1 = 0xA5A5A5A5;
    table.reserved2 = 0x5A5A5A5A;
    uint32_t i = 0;
    for (const Entry& e : entries) {
        table.entries[i].packed = PackEntry(e.width, e.height, e.flags);
        table.entries[i].fps = e.fps;
        ++i;
    }
    table.count = i;
    return table;
}

class FormatTableTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        UseTemporaryStore();
        RemoveStoredKey();
        ASSERT_TRUE(OpenSharedBlock());
    }
    void TearDown() override
    {
        CloseServiceResources();
        RemoveStoredKey();
    }

    // Stores the bytes, loads them the way start-up does, and reports whether
    // the table came through unchanged.
    bool LoadsAsStored(const FormatTable& table)
    {
        WriteStoredValue(&table, sizeof(table));
        g_block->requestedWidth = 0;
        g_block->requestedHeight = 0;
        LoadFormatTable();
        return memcmp(&g_block->formats, &table, sizeof(table)) == 0;
    }

    void ExpectDefaults(uint32_t width, uint32_t height)
    {
        EXPECT_EQ(g_block->formats.mode, 3u);
        EXPECT_EQ(g_block->formats.count, 1u);
        EXPECT_EQ(EntryWidth(g_block->formats.entries[0]), 640u);
        EXPECT_EQ(EntryHeight(g_block->formats.entries[0]), 480u);
        EXPECT_EQ(g_block->formats.entries[0].fps, 30.0f);
        EXPECT_EQ(g_block->requestedWidth, width);
        EXPECT_EQ(g_block->requestedHeight, height);
    }
};

TEST_F(FormatTableTest, MissingKeyKeepsRequestedSizeButMissingValueSetsIt)
{
    LoadFormatTable();
    ExpectDefaults(0, 0);

    CreateStoredKeyOnly();
    LoadFormatTable();
    ExpectDefaults(640, 480);
}

TEST_F(FormatTableTest, EntryCountMustBeOneToForty)
{
    FormatTable table = MakeTable({ { 320, 240, 15.0f, 0 } });
    table.count = 0;
    EXPECT_FALSE(LoadsAsStored(table));
    ExpectDefaults(640, 480);

    table.count = 41;
    EXPECT_FALSE(LoadsAsStored(table));
    ExpectDefaults(640, 480);

    FormatTable full = MakeTable({});
    for (uint32_t i = 0; i < FORMAT_MAX_ENTRIES; ++i) {
        full.entries[i].packed = PackEntry(176 + i * 20, 144 + i * 10, i % 2);
        full.entries[i].fps = 10.0f + (float)i * 0.5f;
    }
    full.count = FORMAT_MAX_ENTRIES;
    EXPECT_TRUE(LoadsAsStored(full));
    EXPECT_EQ(g_block->requestedWidth, 176u + 39 * 20);
    EXPECT_EQ(g_block->requestedHeight, 144u + 39 * 10);
}

TEST_F(FormatTableTest, FieldBoundariesAreInclusive)
{
    // The entry under test is the second one, so a rejection is visible as the
    // whole table falling back to the single default entry.
    const Entry accepted[] = {
        { 176, 480, 30.0f, 0 }, { 1280, 480, 30.0f, 0 }, { 640, 144, 30.0f, 0 },
        { 640, 720, 30.0f, 0 }, { 640, 480, 10.0f, 0 }, { 640, 480, 30.0f, 1 },
        { 640, 480, NAN, 0 },
    };
    for (const Entry& e : accepted) {
        EXPECT_TRUE(LoadsAsStored(MakeTable({ { 800, 600, 25.0f, 1 }, e })))
            << e.width << "x" << e.height << "@" << e.fps << " flags " << e.flags;
        EXPECT_EQ(g_block->requestedWidth, e.width);
        EXPECT_EQ(g_block->requestedHeight, e.height);
    }
    const Entry rejected[] = {
        { 175, 480, 30.0f, 0 }, { 1281, 480, 30.0f, 0 }, { 640, 143, 30.0f, 0 },
        { 640, 721, 30.0f, 0 }, { 640, 480, 9.9f, 0 },   { 640, 480, 30.1f, 0 },
        { 640, 480, 30.0f, 2 }, { 0, 0, 0.0f, 0 },
    };
    for (const Entry& e : rejected) {
        EXPECT_FALSE(LoadsAsStored(MakeTable({ { 800, 600, 25.0f, 1 }, e })))
            << e.width << "x" << e.height << "@" << e.fps << " flags " << e.flags;
        ExpectDefaults(640, 480);
        // Defaults replace only mode, count and the first entry's size and rate.
        EXPECT_EQ(g_block->formats.header.sessionWord, 0x11223344u);
        EXPECT_EQ(EntryFlags(g_block->formats.entries[0]), 1u);
    }
}

TEST_F(FormatTableTest, ThreeEntriesRequestTheLast)
{
    EXPECT_TRUE(LoadsAsStored(
        MakeTable({ { 320, 240, 30.0f, 0 }, { 640, 480, 30.0f, 1 }, { 1280, 720, 15.0f, 0 } })));
    EXPECT_EQ(g_block->requestedWidth, 1280u);
    EXPECT_EQ(g_block->requestedHeight, 720u);
}

TEST_F(FormatTableTest, ShortValueOverlaysDefaultsAndLongValueIsRefused)
{
    // 32 bytes: header, mode, the two plain words and a count of 1; the entry
    // itself stays the default one.
    FormatTable table = MakeTable({ { 320, 240, 15.0f, 0 } });
    table.mode = 7;
    WriteStoredValue(&table, 32);
    LoadFormatTable();
    EXPECT_EQ(g_block->formats.mode, 7u);
    EXPECT_EQ(g_block->formats.reserved1, 0xA5A5A5A5u);
    EXPECT_EQ(EntryWidth(g_block->formats.entries[0]), 640u);
    EXPECT_EQ(g_block->requestedWidth, 640u);

    std::vector<uint8_t> longer(FORMAT_TABLE_SIZE + 1, 0);
    memcpy(longer.data(), &table, sizeof(table));
    WriteStoredValue(longer.data(), (uint32_t)longer.size());
    LoadFormatTable();
    ExpectDefaults(640, 480);
}

TEST_F(FormatTableTest, SavedTableComesBackByteForByte)
{
    FormatTable table = MakeTable({ { 320, 240, 30.0f, 0 }, { 1280, 720, 12.5f, 1 } });
    table.entries[5].packed = 0xDEADBEEF;   // beyond count: carried, not checked
    g_formats = table;
    SaveFormatTable();

    std::vector<uint8_t> stored;
    ASSERT_TRUE(ReadStoredValue(stored));
    ASSERT_EQ(stored.size(), (size_t)FORMAT_TABLE_SIZE);
    EXPECT_EQ(memcmp(stored.data(), &table, sizeof(table)), 0);

    // The stop/start round trip: close saves, open loads.
    CloseServiceResources();
    ASSERT_TRUE(OpenSharedBlock());
    EXPECT_EQ(memcmp(&g_block->formats, &table, sizeof(table)), 0);
    EXPECT_EQ(g_block->requestedWidth, 1280u);
    EXPECT_EQ(g_block->requestedHeight, 720u);
}

// A reader writes the block's table while the service loads its own: what the
// service checked is what it uses, whatever the block says meanwhile.
TEST_F(FormatTableTest, AReaderWritingTheTableDuringTheLoadChangesNothing)
{
    FormatTable table = MakeTable({ { 320, 240, 30.0f, 0 }, { 640, 480, 15.0f, 1 },
                                    { 800, 600, 10.0f, 0 } });
    WriteStoredValue(&table, sizeof(table));
    std::atomic<bool> done(false);
    volatile uint32_t* count = &g_block->formats.count;
    std::thread reader([&] {
        for (uint32_t i = 0; !done.load(); ++i)
            *count = (i & 1) ? 0xFFFFFFFFu : 0;
    });
    bool same = true;
    for (int i = 0; i < 300 && same; ++i) {
        g_block->requestedWidth = 0;
        LoadFormatTable();
        same = memcmp(&g_formats, &table, sizeof(table)) == 0 &&
               g_block->requestedWidth == 800 && g_block->requestedHeight == 600;
    }
    done.store(true);
    reader.join();
    EXPECT_TRUE(same);
}

// The serial I/O thread stores a phone's table under the link lock while the
// stop saves it: the saved value is one table or the other, never a mix.
TEST_F(FormatTableTest, TableSavedWhileAPhoneStoresOneIsNeverTorn)
{
    const FormatTable tables[2] = {
        MakeTable({ { 320, 240, 30.0f, 0 } }),
        MakeTable({ { 640, 480, 15.0f, 1 }, { 1280, 720, 10.0f, 0 } }),
    };
    const size_t half = offsetof(FormatTable, entries) + sizeof(FormatEntry);
    g_formats = tables[0];
    std::atomic<bool> done(false);
    std::thread phone([&] {
        for (uint32_t i = 0; !done.load(); ++i) {
            std::lock_guard<std::mutex> lock(g_linkLock);
            const uint8_t* from = reinterpret_cast<const uint8_t*>(&tables[i & 1]);
            uint8_t* to = reinterpret_cast<uint8_t*>(&g_formats);
            memcpy(to, from, half);
            std::this_thread::sleep_for(std::chrono::microseconds(200));
            memcpy(to + half, from + half, sizeof(FormatTable) - half);
        }
    });
    bool whole = true;
    for (int i = 0; i < 100 && whole; ++i) {
        SaveFormatTable();
        std::vector<uint8_t> stored;
        whole = ReadStoredValue(stored) && stored.size() == sizeof(FormatTable) &&
                (memcmp(stored.data(), &tables[0], sizeof(FormatTable)) == 0 ||
                 memcmp(stored.data(), &tables[1], sizeof(FormatTable)) == 0);
    }
    done.store(true);
    phone.join();
    EXPECT_TRUE(whole);
}

}  // namespace
