#include "block_writer.h"

#include <mutex>

#include "format_store.h"
#include "link_context.h"

void SetDefaultFormats()
{
    FormatTable& table = g_formats;
    table.mode = DEFAULT_TABLE_MODE;
    table.count = 1;
    // Width and height are replaced; the entry's flags byte keeps its value.
    FormatEntry& first = table.entries[0];
    first.packed =
        (first.packed & 0xFF000000u) | PackEntry(DEFAULT_ENTRY_WIDTH, DEFAULT_ENTRY_HEIGHT, 0);
    first.fps = DEFAULT_ENTRY_FPS;
}

void LoadFormatTable()
{
    // The table is loaded and checked in the service's own copy, which no
    // reader can change between the check and the use; the block gets it
    // when it is complete.
    SetDefaultFormats();
    StoreReadResult read =
        ReadStoredFormats(reinterpret_cast<uint8_t*>(&g_formats), FORMAT_TABLE_SIZE);
    // No key at all (first start): defaults, and no requested size yet.
    if (read == STORE_NO_KEY) {
        PublishFormats();
        return;
    }
    if (read != STORE_READ_OK)
        SetDefaultFormats();

    FormatTable& table = g_formats;
    if (table.count == 0 || table.count > FORMAT_MAX_ENTRIES)
        SetDefaultFormats();
    // Any bad entry throws the whole table out; the defaults then hold one
    // entry, so the loop ends there.
    uint32_t count = table.count;
    for (uint32_t i = 0; i < count; ++i) {
        if (!StoredEntryUsable(table.entries[i]))
            SetDefaultFormats();
        count = table.count;
    }

    const FormatEntry& last = table.entries[count - 1];
    PublishFormats();
    SetRequestedSize(EntryWidth(last), EntryHeight(last));
}

void SaveFormatTable()
{
    // The serial I/O thread may still be storing a phone's table: the copy
    // is taken under the link lock, and written to the store outside it.
    FormatTable table;
    {
        std::lock_guard<std::mutex> lock(g_linkLock);
        table = g_formats;
    }
    WriteStoredFormats(reinterpret_cast<const uint8_t*>(&table), FORMAT_TABLE_SIZE);
}
