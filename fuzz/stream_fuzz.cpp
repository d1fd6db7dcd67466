// Feeds arbitrary bytes to the stream protocol in arbitrary pieces. The first
// byte picks the link state and a few settings, the second seeds the split
// points. Frames go through the real block, mutex and event.

#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include <mutex>

#include "link_context.h"
#include "private_shm.h"
#include "block_writer.h"
#include "stream_protocol.h"

namespace {

SharedCameraBlock* g_heapBlock = nullptr;

void Check(bool ok)
{
    if (!ok)
        __builtin_trap();
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    // No stored table: the store directory does not exist.
    setenv("STATE_DIRECTORY", "/nonexistent/ovalix-fuzz", 1);
    if (UsePrivateSharedMemory() && OpenSharedBlock())
        return 0;
    // Without a block of our own, publication drops every frame (no mutex),
    // and the rest of the dispatch still runs on a heap block.
    g_heapBlock = (SharedCameraBlock*)calloc(1, sizeof(SharedCameraBlock));
    g_block = g_heapBlock;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 2)
        return 0;
    uint8_t control = data[0];
    uint32_t seed = data[1] | 0x100u;
    data += 2;
    size -= 2;

    // Each input starts from a fresh link in the chosen state, with every
    // slot freed as a consumer would.
    g_link.fill = 0;
    g_link.tableShifted = (control & 0x08) != 0;
    SetLinkState(control % 5);
    g_block->requestedWidth = (control & 0x10) ? 640 : 0;
    g_block->requestedHeight = (control & 0x20) ? 480 : 0;
    if (control & 0x40)
        g_formats.count = 0xFFFFFFFF;   // a table nobody validated
    for (uint32_t i = 0; i < FRAME_SLOT_COUNT; ++i)
        g_block->slots[i].size = 0;

    size_t at = 0;
    while (at < size) {
        seed = seed * 1103515245u + 12345u;
        size_t piece = 1 + (seed >> 16) % ((control & 0x80) ? 64 : 70000);
        if (piece > size - at)
            piece = size - at;
        {
            std::lock_guard<std::mutex> lock(g_linkLock);
            FeedStream(data + at, (uint32_t)piece);
        }
        at += piece;
        Check(g_link.fill <= LINK_BUFFER_SIZE);
        Check(g_link.linkState <= 4 && g_block->linkState == g_link.linkState);
    }
    if (g_link.linkState >= LINK_AWAIT_FRAME && (control % 5) == LINK_AWAIT_TABLE)
        Check(g_formats.count <= FORMAT_MAX_ENTRIES && g_block->formats.count == g_formats.count);
    for (uint32_t i = 0; i < FRAME_SLOT_COUNT; ++i)
        Check(g_block->slots[i].size <= STREAM_MAX_LENGTH - FRAME_SUBHEADER_SIZE);
    return 0;
}
