// A consumer of the shared camera block in a process of its own, driven by the
// block tests.
//   lock-and-die            takes the mutex and exits without releasing it
//   take W H SIZE FLAGS STAMP
//                           waits for the event, takes the newest frame under
//                           the mutex, checks it, frees its slot, resets the
//                           event and asks for the picture size W x H
//   poke OFFSET VALUE       writes a 32-bit word into the block, as a hostile
//                           reader may
//   hold-mutex MS           takes the mutex and keeps it MS milliseconds, as a
//                           reader that hangs without dying does

#include <stdlib.h>
#include <string.h>

#include <chrono>
#include <thread>

#include "named_objects.h"
#include "block_writer.h"

namespace {
enum ChildResult {
    CHILD_OK = 0,
    CHILD_OPEN_FAILED = 10,
    CHILD_NO_EVENT = 11,
    CHILD_NO_MUTEX = 12,
    CHILD_WRONG_FRAME = 13,
    CHILD_BAD_ARGUMENTS = 14,
    CHILD_DIED_HOLDING = 3,
};

uint8_t PatternByte(uint32_t i) { return (uint8_t)(i * 7 + 3); }
}  // namespace

int main(int argc, char** argv)
{
    if (argc < 2)
        return CHILD_BAD_ARGUMENTS;
    if (strcmp(argv[1], "lock-and-die") == 0) {
        static CNamedMutex mutex;
        if (!mutex.Open(SHARED_MUTEX_NAME))
            return CHILD_OPEN_FAILED;
        if (mutex.Lock(1000) != NAMED_WAIT_ACQUIRED)
            return CHILD_NO_MUTEX;
        // Leave without releasing: the process ends holding the mutex.
        _Exit(CHILD_DIED_HOLDING);
    }
    if (strcmp(argv[1], "poke") == 0 && argc == 4) {
        uint32_t offset = (uint32_t)strtoul(argv[2], nullptr, 0);
        uint32_t value = (uint32_t)strtoul(argv[3], nullptr, 0);
        CNamedMapping mapping;
        if (offset > SHARED_BLOCK_SIZE - 4)
            return CHILD_BAD_ARGUMENTS;
        if (!mapping.Open(SHARED_MEMORY_NAME, SHARED_BLOCK_SIZE))
            return CHILD_OPEN_FAILED;
        memcpy(static_cast<uint8_t*>(mapping.View()) + offset, &value, 4);
        return CHILD_OK;
    }
    if (strcmp(argv[1], "hold-mutex") == 0 && argc == 3) {
        CNamedMutex mutex;
        if (!mutex.Open(SHARED_MUTEX_NAME))
            return CHILD_OPEN_FAILED;
        if (mutex.Lock(5000) != NAMED_WAIT_ACQUIRED)
            return CHILD_NO_MUTEX;
        std::this_thread::sleep_for(std::chrono::milliseconds(strtoul(argv[2], nullptr, 10)));
        mutex.Unlock();
        return CHILD_OK;
    }
    if (strcmp(argv[1], "take") == 0 && argc == 7) {
        uint32_t width = (uint32_t)strtoul(argv[2], nullptr, 10);
        uint32_t height = (uint32_t)strtoul(argv[3], nullptr, 10);
        uint32_t size = (uint32_t)strtoul(argv[4], nullptr, 10);
        uint32_t flags = (uint32_t)strtoul(argv[5], nullptr, 10);
        uint32_t stamp = (uint32_t)strtoul(argv[6], nullptr, 10);
        CNamedMapping mapping;
        CNamedMutex mutex;
        CNamedEvent event;
        if (!mapping.Open(SHARED_MEMORY_NAME, SHARED_BLOCK_SIZE) ||
            !mutex.Open(SHARED_MUTEX_NAME) || !event.Open(READY_EVENT_NAME))
            return CHILD_OPEN_FAILED;
        SharedCameraBlock* block = static_cast<SharedCameraBlock*>(mapping.View());
        if (event.Wait(5000) != NAMED_WAIT_ACQUIRED)
            return CHILD_NO_EVENT;
        if (mutex.Lock(5000) != NAMED_WAIT_ACQUIRED)
            return CHILD_NO_MUTEX;
        FrameSlot& slot = block->slots[block->currentSlot % FRAME_SLOT_COUNT];
        bool good = slot.size == size && slot.flags == flags && slot.stamp == stamp;
        for (uint32_t i = 0; good && i < size; ++i)
            good = slot.data[i] == PatternByte(i);
        slot.size = 0;
        event.Reset();
        mutex.Unlock();
        block->requestedWidth = width;
        block->requestedHeight = height;
        return good ? CHILD_OK : CHILD_WRONG_FRAME;
    }
    return CHILD_BAD_ARGUMENTS;
}
