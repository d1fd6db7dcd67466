// Reassembly of the phone's byte stream into messages and their dispatch by
// link state. Everything here runs under g_linkLock (the callers take it).

#include "stream_protocol.h"

#include <string.h>

#include "link_context.h"
#include "net/net_socket.h"
#include "serial/usb_engine.h"
#include "block_writer.h"
#include "ticks.h"

namespace {

const uint32_t MIN_TABLE_WIDTH = 320;
const uint32_t SHIFTED_ENTRY_HEIGHT = 720;

uint32_t ReadWord(const uint8_t* p)
{
    uint32_t v;
    memcpy(&v, p, 4);
    return v;
}

void WriteWord(uint8_t* p, uint32_t v)
{
    memcpy(p, &v, 4);
}

// Tells the serial engine how many bytes its next read should ask for.
void Hint(uint32_t count)
{
    if (g_link.serialEngine)
        g_link.serialEngine->SetReadSize((int)count);
}

void SendToTransports(const uint8_t* bytes, int length)
{
    if (g_link.serialEngine)
        g_link.serialEngine->Send(bytes, length);
    if (g_link.outgoingSocket)
        g_link.outgoingSocket->Send(bytes, length);
    if (g_link.listenSocket)
        g_link.listenSocket->Send(bytes, length);
}

// Drops the first `count` buffered bytes.
void Discard(uint32_t count)
{
    if (count >= g_link.fill) {
        g_link.fill = 0;
        return;
    }
    memmove(g_link.reassembly, g_link.reassembly + count, g_link.fill - count);
    g_link.fill -= count;
}

// Moves the buffer to the first magic word. Without one, keeps only the last
// three bytes, which may be the start of a magic word still arriving.
void Resynchronise()
{
    const uint8_t* buf = g_link.reassembly;
    uint32_t fill = g_link.fill;
    if (fill < 4)
        return;
    for (uint32_t i = 0; i + 3 < fill; ++i) {
        if (buf[i] == 0xDE && ReadWord(buf + i) == STREAM_MAGIC) {
            if (i > 0)
                Discard(i);
            return;
        }
    }
    Discard(fill - 3);
}

// The phone's table arrives as a whole message of 352 bytes; it is stored as
// it came, then adjusted.
void AcceptTable(uint32_t total)
{
    FormatTable& table = g_formats;
    g_link.lastReceiveTick = GetTickMs();
    g_link.sessionWord = ReadWord(g_link.message + 4);

    uint32_t copied = total < FORMAT_TABLE_SIZE ? total : FORMAT_TABLE_SIZE;
    memcpy(&table, g_link.message, copied);
    // A short table message leaves no defined bytes for the rest.
    if (copied < FORMAT_TABLE_SIZE)
        memset((uint8_t*)&table + copied, 0, FORMAT_TABLE_SIZE - copied);

    // The table has room for 40 entries whatever the phone claims.
    uint32_t count = table.count;
    if (count > FORMAT_MAX_ENTRIES)
        count = FORMAT_MAX_ENTRIES;

    // Modes 1 and 2 lead with a 720-line entry that is not offered; the index
    // sent back is then one higher than the position here. An empty table has
    // nothing to remove.
    if (count > 0 && EntryHeight(table.entries[0]) == SHIFTED_ENTRY_HEIGHT &&
        (table.mode == 1 || table.mode == 2)) {
        --count;
        memmove(&table.entries[0], &table.entries[1], count * sizeof(FormatEntry));
        g_link.tableShifted = true;
    } else {
        g_link.tableShifted = false;
    }

    for (uint32_t i = 0; i < count; ++i) {
        if (EntryWidth(table.entries[i]) < MIN_TABLE_WIDTH) {
            count = i;
            break;
        }
    }
    table.count = count;
    PublishFormats();

    SetLinkState(LINK_AWAIT_FRAME);
    SendFormatRequest();
}

void HandleStreaming(uint32_t type, uint32_t length)
{
    if (type == MSG_ALIVE) {
        g_link.lastReceiveTick = GetTickMs();
        return;
    }
    if (type != MSG_FRAME)
        return;
    g_link.lastReceiveTick = GetTickMs();
    if (length < FRAME_SUBHEADER_SIZE)
        return;
    const uint8_t* sub = g_link.message + STREAM_HEADER_SIZE;
    uint32_t flags = ReadWord(sub);
    uint32_t stamp = ReadWord(sub + 4);
    const uint8_t* frame = sub + FRAME_SUBHEADER_SIZE;
    uint32_t size = length - FRAME_SUBHEADER_SIZE;
    if (flags & FRAME_FLAG_RETAIN)
        RetainFrame(frame, size, flags, stamp);
    PublishFrame(frame, size, flags, stamp);
}

void Dispatch(uint32_t total)
{
    uint32_t type = ReadWord(g_link.message + 8);
    uint32_t length = ReadWord(g_link.message + 12);
    switch (g_link.linkState) {
    case LINK_AWAIT_TABLE:
        if (type == MSG_ALIVE)
            AcceptTable(total);
        break;
    case LINK_AWAIT_FRAME:
        if (type == MSG_ALIVE) {
            g_link.lastReceiveTick = GetTickMs();
            SendFormatRequest();
        } else if (type == MSG_FRAME) {
            if (length < FRAME_SUBHEADER_SIZE) {
                // No sub-header: a sign of life, but not the link's first frame.
                g_link.lastReceiveTick = GetTickMs();
                break;
            }
            const uint8_t* sub = g_link.message + STREAM_HEADER_SIZE;
            RetainFrame(sub + FRAME_SUBHEADER_SIZE, length - FRAME_SUBHEADER_SIZE, ReadWord(sub),
                        ReadWord(sub + 4));
            SetLinkState(LINK_STREAMING);
            HandleStreaming(type, length);
        }
        break;
    case LINK_STREAMING:
        HandleStreaming(type, length);
        break;
    default:
        break;
    }
}

}  // namespace

uint32_t StreamFreeRoom()
{
    return LINK_BUFFER_SIZE - g_link.fill;
}

void FeedStream(const uint8_t* bytes, uint32_t length)
{
    if (length > LINK_BUFFER_SIZE - g_link.fill) {
        // More than fits: drop everything and find the next magic word.
        g_link.fill = 0;
    } else if (length > 0) {
        memcpy(g_link.reassembly + g_link.fill, bytes, length);
        g_link.fill += length;
    }

    for (;;) {
        Resynchronise();
        uint32_t fill = g_link.fill;
        if (fill < STREAM_HEADER_SIZE) {
            bool streaming = g_link.linkState == LINK_STREAMING;
            Hint(streaming ? STREAMING_READ_HINT : STREAM_HEADER_SIZE - fill);
            return;
        }
        uint32_t type = ReadWord(g_link.reassembly + 8);
        uint32_t payload = ReadWord(g_link.reassembly + 12);
        if (payload > STREAM_MAX_LENGTH || type < MSG_TYPE_FIRST || type > MSG_TYPE_LAST) {
            g_link.fill = 0;
            Hint(STREAM_HEADER_SIZE);
            return;
        }
        uint32_t total = STREAM_HEADER_SIZE + payload;
        if (fill < total) {
            Hint(total - fill);
            return;
        }
        memcpy(g_link.message, g_link.reassembly, total);
        Discard(total);
        Hint(STREAM_HEADER_SIZE);
        Dispatch(total);
    }
}

void SendFormatRequest()
{
    const FormatTable& table = g_formats;
    uint32_t wantWidth = 0;
    uint32_t wantHeight = 0;
    ReadRequestedSize(wantWidth, wantHeight);
    uint32_t count = table.count;
    if (count > FORMAT_MAX_ENTRIES)
        count = FORMAT_MAX_ENTRIES;

    // The last entry at least as large as asked wins; entry 0 is the fallback.
    uint32_t index = 0;
    for (uint32_t i = 1; i < count; ++i) {
        if (EntryWidth(table.entries[i]) >= wantWidth &&
            EntryHeight(table.entries[i]) >= wantHeight)
            index = i;
    }
    if (g_link.tableShifted)
        ++index;

    uint8_t request[20];
    WriteWord(request, STREAM_MAGIC);
    WriteWord(request + 4, g_link.sessionWord);
    WriteWord(request + 8, MSG_SELECT_FORMAT);
    WriteWord(request + 12, 4);
    WriteWord(request + 16, index);
    SendToTransports(request, sizeof(request));

    g_link.sentWidth = wantWidth;
    g_link.sentHeight = wantHeight;
    g_link.lastSendTick = GetTickMs();
}

void SendKeepAlive()
{
    uint32_t now = GetTickMs();
    if (now - g_link.lastSendTick < KEEPALIVE_INTERVAL_MS)
        return;
    uint8_t alive[16];
    WriteWord(alive, STREAM_MAGIC);
    WriteWord(alive + 4, g_link.sessionWord);
    WriteWord(alive + 8, MSG_ALIVE);
    WriteWord(alive + 12, 0);
    SendToTransports(alive, sizeof(alive));
    g_link.lastSendTick = now;
}
