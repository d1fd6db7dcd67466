#pragma once
// The shared camera block: the whole interface between the service and the
// video consumers in other processes, laid out to the byte. Both sides build
// this header; it depends on nothing else of the project.

#include <stddef.h>
#include <stdint.h>

enum LinkState : uint32_t {
    LINK_IDLE = 0,
    LINK_AWAIT_TABLE = 1,
    LINK_AWAIT_FRAME = 2,
    LINK_STREAMING = 3,
};

const uint32_t FORMAT_TABLE_SIZE = 352;
const uint32_t FORMAT_MAX_ENTRIES = 40;
const uint32_t FRAME_DATA_SIZE = 200000;
const uint32_t FRAME_SLOT_COUNT = 20;
const uint32_t SHARED_BLOCK_SIZE = 4200620;

#pragma pack(push, 1)

struct StreamHeader {
    uint32_t magic;
    uint32_t sessionWord;
    uint32_t type;
    uint32_t length;
};

// width: bits 0-11, height: bits 12-23, flags: bits 24-31 of `packed`.
struct FormatEntry {
    uint32_t packed;
    float fps;
};

struct FormatTable {
    StreamHeader header;
    uint32_t mode;
    uint32_t reserved1;
    uint32_t reserved2;
    uint32_t count;
    FormatEntry entries[FORMAT_MAX_ENTRIES];
};

struct FrameSlot {
    uint8_t data[FRAME_DATA_SIZE];
    uint32_t size;
    uint32_t flags;
    uint32_t stamp;
};

typedef FrameSlot RetainedFrame;

struct SharedCameraBlock {
    uint32_t requestedWidth;
    uint32_t requestedHeight;
    uint32_t linkState;
    FormatTable formats;
    RetainedFrame retained;
    uint32_t currentSlot;
    FrameSlot slots[FRAME_SLOT_COUNT];
};

#pragma pack(pop)

static_assert(sizeof(StreamHeader) == 16, "StreamHeader is 16 bytes");
static_assert(sizeof(FormatEntry) == 8, "FormatEntry is 8 bytes");
static_assert(offsetof(FormatTable, mode) == 16, "mode");
static_assert(offsetof(FormatTable, count) == 28, "count");
static_assert(offsetof(FormatTable, entries) == 32, "entries");
static_assert(sizeof(FormatTable) == FORMAT_TABLE_SIZE, "FormatTable is 352 bytes");
static_assert(offsetof(FrameSlot, size) == 200000, "slot size");
static_assert(offsetof(FrameSlot, flags) == 200004, "slot flags");
static_assert(offsetof(FrameSlot, stamp) == 200008, "slot stamp");
static_assert(sizeof(FrameSlot) == 200012, "FrameSlot is 200,012 bytes");
static_assert(offsetof(SharedCameraBlock, requestedWidth) == 0, "requestedWidth");
static_assert(offsetof(SharedCameraBlock, requestedHeight) == 4, "requestedHeight");
static_assert(offsetof(SharedCameraBlock, linkState) == 8, "linkState");
static_assert(offsetof(SharedCameraBlock, formats) == 12, "formats");
static_assert(offsetof(SharedCameraBlock, formats.count) == 40, "formats.count");
static_assert(offsetof(SharedCameraBlock, formats.entries) == 44, "formats.entries");
static_assert(offsetof(SharedCameraBlock, retained) == 364, "retained");
static_assert(offsetof(SharedCameraBlock, currentSlot) == 200376, "currentSlot");
static_assert(offsetof(SharedCameraBlock, slots) == 200380, "slots");
static_assert(sizeof(SharedCameraBlock) == SHARED_BLOCK_SIZE, "block is 4,200,620 bytes");

// Both targets are little-endian, which the wire and block layouts rely on.
static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "little-endian target");

inline uint32_t EntryWidth(const FormatEntry& e)
{
    return e.packed & 0xFFF;
}
inline uint32_t EntryHeight(const FormatEntry& e)
{
    return (e.packed >> 12) & 0xFFF;
}
inline uint32_t EntryFlags(const FormatEntry& e)
{
    return e.packed >> 24;
}
inline uint32_t PackEntry(uint32_t width, uint32_t height, uint32_t flags)
{
    return (width & 0xFFF) | ((height & 0xFFF) << 12) | (flags << 24);
}
