#include "block_view.h"

#include "block_consumer.h"

void PrintBlock(FILE* out, const SharedCameraBlock& block)
{
    fprintf(out, "link: %s (%u)\n", LinkStateName(block.linkState), (unsigned)block.linkState);
    fprintf(out, "requested: %u x %u\n", (unsigned)block.requestedWidth,
            (unsigned)block.requestedHeight);

    const FormatTable& table = block.formats;
    uint32_t count = table.count;
    fprintf(out, "formats: mode %u, count %u\n", (unsigned)table.mode, (unsigned)count);
    if (count > FORMAT_MAX_ENTRIES)
        count = FORMAT_MAX_ENTRIES;
    for (uint32_t i = 0; i < count; ++i) {
        const FormatEntry& e = table.entries[i];
        fprintf(out, "  [%2u] %u x %u @ %g flags %u\n", (unsigned)i, (unsigned)EntryWidth(e),
                (unsigned)EntryHeight(e), (double)e.fps, (unsigned)EntryFlags(e));
    }

    fprintf(out, "currentSlot: %u\n", (unsigned)block.currentSlot);
    char map[FRAME_SLOT_COUNT + 1];
    uint32_t occupied = 0;
    for (uint32_t i = 0; i < FRAME_SLOT_COUNT; ++i) {
        bool used = block.slots[i].size != 0;
        map[i] = used ? '#' : '.';
        occupied += used ? 1 : 0;
    }
    map[FRAME_SLOT_COUNT] = '\0';
    fprintf(out, "slots: %u occupied [%s]\n", (unsigned)occupied, map);
    fprintf(out, "retained: size %u stamp %u flags 0x%X\n", (unsigned)block.retained.size,
            (unsigned)block.retained.stamp, (unsigned)block.retained.flags);
}
