#include "phone_session.h"

#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

#include "stream_protocol.h"

namespace {

const uint32_t MESSAGE_CAPACITY = STREAM_MAX_MESSAGE;
const uint32_t FRAME_HEADERS = STREAM_HEADER_SIZE + FRAME_SUBHEADER_SIZE;
const uint32_t TABLE_PAYLOAD = 336;
const uint32_t BAD_TYPE = MSG_TYPE_LAST + 1;

// Until the service answers, the table goes out again every second (the
// service may have been busy or, on a cable, not listening yet).
const uint64_t TABLE_REPEAT_MS = 1000;
const uint64_t ALIVE_INTERVAL_MS = 1000;
const uint64_t BAD_HEADER_INTERVAL_MS = 1000;
// The service sends a keep-alive at least every ~500 ms once it has asked
// for a format; this much silence means it has dropped the link.
const uint64_t SERVICE_SILENCE_MS = 3000;
const int LONGEST_WAIT_MS = 100;

void PutU32(uint8_t* p, uint32_t v)
{
    p[0] = (uint8_t)v;
    p[1] = (uint8_t)(v >> 8);
    p[2] = (uint8_t)(v >> 16);
    p[3] = (uint8_t)(v >> 24);
}

uint32_t GetU32(const uint8_t* p)
{
    return (uint32_t)p[0] | (uint32_t)p[1] << 8 | (uint32_t)p[2] << 16 | (uint32_t)p[3] << 24;
}

void PutHeader(uint8_t* p, uint32_t session, uint32_t type, uint32_t length)
{
    PutU32(p, STREAM_MAGIC);
    PutU32(p + 4, session);
    PutU32(p + 8, type);
    PutU32(p + 12, length);
}

void SleepUs(uint32_t us)
{
    timespec t = {(time_t)(us / 1000000), (long)(us % 1000000) * 1000};
    nanosleep(&t, nullptr);
}

}  // namespace

uint64_t MonotonicUs()
{
    timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return (uint64_t)t.tv_sec * 1000000u + (uint64_t)t.tv_nsec / 1000u;
}

uint64_t MonotonicMs()
{
    return MonotonicUs() / 1000u;
}

uint32_t StampMs(bool raw)
{
    if (!raw)
        return (uint32_t)MonotonicMs();
    timespec t;
    clock_gettime(CLOCK_MONOTONIC_RAW, &t);
    return (uint32_t)((uint64_t)t.tv_sec * 1000u + (uint64_t)t.tv_nsec / 1000000u);
}

PhoneSession::PhoneSession(const PhoneOptions& o, PhoneTransport& t)
    : options(o), transport(t), pattern(o.blocks), frameMessage((uint8_t*)malloc(MESSAGE_CAPACITY)),
      frameMessageSize(0), noise(nullptr), pendingFill(0), frameCounter(0), closedEarly(false),
      closedMid(false), selected(false), silent(false), formatIndex(0), framePeriodUs(0),
      nextFrameUs(0), nextAliveMs(0), nextTableMs(0), nextBadMs(0), lastHeardMs(0), linkFrames(0)
{
    memset(&counters, 0, sizeof counters);

    // The table message: header, mode, two words the service carries
    // without reading, the entry count and 40 entries.
    memset(table, 0, sizeof table);
    PutHeader(table, options.session, MSG_ALIVE, TABLE_PAYLOAD);
    PutU32(table + 16, options.mode);
    PutU32(table + 24, 1);
    PutU32(table + 28, options.formatCount);
    for (uint32_t i = 0; i < options.formatCount && i < PHONE_MAX_FORMATS; ++i) {
        const PhoneFormat& f = options.formats[i];
        PutU32(table + 32 + 8 * i, (f.width & 0xFFF) | (f.height & 0xFFF) << 12);
        memcpy(table + 36 + 8 * i, &f.fps, 4);
    }

    // Garbage never holds the byte 0xDE, so it can never form the magic.
    if (options.noise) {
        noise = (uint8_t*)malloc(options.noise);
        uint32_t seed = 0x9E3779B9u;
        for (uint32_t i = 0; noise && i < options.noise; ++i) {
            seed = seed * 1664525u + 1013904223u;
            uint8_t b = (uint8_t)(seed >> 24);
            noise[i] = b == 0xDE ? 0x5A : b;
        }
    }
}

PhoneSession::~PhoneSession()
{
    free(frameMessage);
    free(noise);
}

void PhoneSession::Log(const char* format, ...)
{
    if (!options.log)
        return;
    va_list args;
    va_start(args, format);
    vprintf(format, args);
    va_end(args);
    printf(" t_ms=%llu\n", (unsigned long long)MonotonicMs());
    fflush(stdout);
}

void PhoneSession::Run(volatile sig_atomic_t& stop)
{
    while (!stop) {
        if (!transport.WaitForLink(stop))
            break;
        ++counters.links;
        Log("link up");
        LinkEnd end = RunLink(stop);
        Log("link down");
        transport.EndLink();
        if (end == PHONE_DONE)
            break;
    }
}

PhoneSession::LinkEnd PhoneSession::RunLink(volatile sig_atomic_t& stop)
{
    uint64_t now = MonotonicMs();
    pendingFill = 0;
    selected = false;
    silent = options.silence == SILENT_TABLE;
    linkFrames = 0;
    lastHeardMs = now;
    nextTableMs = now;
    nextBadMs = now + BAD_HEADER_INTERVAL_MS / 2;
    nextAliveMs = now + ALIVE_INTERVAL_MS;

    if (options.closeEarly && !closedEarly) {
        closedEarly = true;
        Log("close-early");
        return LINK_ENDS;
    }
    if (silent)
        Log("silent");

    while (!stop) {
        if (!silent) {
            LinkEnd end = SendDue(MonotonicMs());
            if (end != LINK_GOES_ON)
                return end;
        }
        now = MonotonicMs();
        if (selected && now - lastHeardMs > SERVICE_SILENCE_MS) {
            Log("service silent");
            return LINK_ENDS;
        }
        int n = transport.Receive(receiveBuffer, sizeof receiveBuffer, WaitMs(now));
        if (n < 0) {
            Log("closed by peer");
            return LINK_ENDS;
        }
        if (n > 0) {
            LinkEnd end = HandleReceived(receiveBuffer, (uint32_t)n, MonotonicMs());
            if (end != LINK_GOES_ON)
                return end;
        }
    }
    return PHONE_DONE;
}

// Whatever is due now: the table until a format is selected, then the
// keep-alive, the damaged headers asked for, and the next frame.
PhoneSession::LinkEnd PhoneSession::SendDue(uint64_t now)
{
    if (!selected && now >= nextTableMs) {
        if (!SendTable())
            return LINK_ENDS;
        nextTableMs = now + TABLE_REPEAT_MS;
    }
    if (selected && now >= nextAliveMs) {
        if (!SendAlive())
            return LINK_ENDS;
        nextAliveMs = now + ALIVE_INTERVAL_MS;
    }
    if ((options.badLength || options.badType) && now >= nextBadMs) {
        if (!SendBadHeader())
            return LINK_ENDS;
        nextBadMs = now + BAD_HEADER_INTERVAL_MS;
    }
    uint64_t nowUs = MonotonicUs();
    if (!selected || options.aliveOnly || frameMessageSize == 0 || nowUs < nextFrameUs)
        return LINK_GOES_ON;
    bool cut = options.closeMid && !closedMid && linkFrames == 1;
    if (!SendFrame(now, cut))
        return LINK_ENDS;
    if (cut) {
        closedMid = true;
        Log("close-mid");
        return LINK_ENDS;
    }
    // Keep to the schedule, but never send a burst to catch up.
    nextFrameUs += framePeriodUs;
    if (nextFrameUs + framePeriodUs < nowUs)
        nextFrameUs = nowUs;
    if (options.silence == SILENT_FRAMES && linkFrames >= options.silentFrames) {
        silent = true;
        Log("silent frames=%u", linkFrames);
    }
    PrepareFrame();
    return LINK_GOES_ON;
}

// How long the link may wait for the service before something is due.
int PhoneSession::WaitMs(uint64_t now)
{
    int64_t wait = LONGEST_WAIT_MS;
    if (!silent) {
        int64_t untilNext = selected ? (int64_t)(nextAliveMs - now) : (int64_t)(nextTableMs - now);
        if (untilNext < wait)
            wait = untilNext;
        if ((options.badLength || options.badType) && (int64_t)(nextBadMs - now) < wait)
            wait = (int64_t)(nextBadMs - now);
        if (selected && !options.aliveOnly && frameMessageSize) {
            int64_t us = (int64_t)nextFrameUs - (int64_t)MonotonicUs();
            int64_t ms = us <= 0 ? 0 : (us + 999) / 1000;
            if (ms < wait)
                wait = ms;
        }
    }
    return wait < 0 ? 0 : (int)wait;
}

PhoneSession::LinkEnd PhoneSession::HandleReceived(const uint8_t* bytes, uint32_t length,
                                                   uint64_t now)
{
    if (length > sizeof pending - pendingFill)
        pendingFill = 0;
    if (length > sizeof pending)
        return LINK_GOES_ON;
    memcpy(pending + pendingFill, bytes, length);
    pendingFill += length;

    for (;;) {
        uint32_t at = 0;
        while (at + 4 <= pendingFill && GetU32(pending + at) != STREAM_MAGIC)
            ++at;
        if (at + 4 > pendingFill) {
            // Keep up to three bytes that may begin a magic still arriving.
            uint32_t keep = pendingFill < 3 ? pendingFill : 3;
            memmove(pending, pending + pendingFill - keep, keep);
            pendingFill = keep;
            return LINK_GOES_ON;
        }
        memmove(pending, pending + at, pendingFill - at);
        pendingFill -= at;
        if (pendingFill < STREAM_HEADER_SIZE)
            return LINK_GOES_ON;
        uint32_t session = GetU32(pending + 4);
        uint32_t type = GetU32(pending + 8);
        uint32_t payload = GetU32(pending + 12);
        if (payload > sizeof pending - STREAM_HEADER_SIZE) {
            // Not a message the service sends: skip this magic and look on.
            memmove(pending, pending + 4, pendingFill - 4);
            pendingFill -= 4;
            continue;
        }
        uint32_t total = STREAM_HEADER_SIZE + payload;
        if (pendingFill < total)
            return LINK_GOES_ON;

        lastHeardMs = now;
        LinkEnd end = LINK_GOES_ON;
        if (type == MSG_SELECT_FORMAT && payload >= 4) {
            end = HandleSelect(GetU32(pending + STREAM_HEADER_SIZE), session, now);
        } else if (type == MSG_ALIVE) {
            ++counters.keepalives;
            Log("keepalive session=0x%08x", session);
        } else {
            Log("message type=0x%x length=%u", type, payload);
        }
        memmove(pending, pending + total, pendingFill - total);
        pendingFill -= total;
        if (end != LINK_GOES_ON)
            return end;
    }
}

PhoneSession::LinkEnd PhoneSession::HandleSelect(uint32_t index, uint32_t session, uint64_t now)
{
    ++counters.selects;
    Log("select index=%u session=0x%08x", index, session);
    if (options.tableOnly)
        return PHONE_DONE;
    if (options.silence == SILENT_REQUEST && !silent) {
        silent = true;
        Log("silent");
    }
    // The index refers to the phone's own list; one beyond it gets entry 0.
    uint32_t chosen = index < options.formatCount ? index : 0;
    if (selected && chosen == formatIndex)
        return LINK_GOES_ON;
    const PhoneFormat& f = options.formats[chosen];
    formatIndex = chosen;
    selected = true;
    double fps = options.fps > 0 ? options.fps : (f.fps > 0 ? f.fps : 30.0);
    framePeriodUs = (uint64_t)(1e6 / fps);
    nextFrameUs = MonotonicUs();
    nextAliveMs = now + ALIVE_INTERVAL_MS;
    if (!pattern.Resize(f.width, f.height)) {
        Log("cannot draw %ux%u", f.width, f.height);
        frameMessageSize = 0;
        return LINK_GOES_ON;
    }
    PrepareFrame();
    return LINK_GOES_ON;
}

bool PhoneSession::PrepareFrame()
{
    uint32_t jpeg = pattern.Encode(frameCounter, options.quality, frameMessage + FRAME_HEADERS,
                                   MESSAGE_CAPACITY - FRAME_HEADERS);
    if (!jpeg) {
        frameMessageSize = 0;
        Log("frame does not fit a message");
        return false;
    }
    uint32_t ordinal = frameCounter + 1;
    if (options.corruptEvery && ordinal % options.corruptEvery == 0)
        jpeg = DamageJpeg(frameMessage + FRAME_HEADERS, jpeg, ordinal / options.corruptEvery);
    PutHeader(frameMessage, options.session, MSG_FRAME, FRAME_SUBHEADER_SIZE + jpeg);
    frameMessageSize = FRAME_HEADERS + jpeg;
    return true;
}

bool PhoneSession::SendFrame(uint64_t, bool cutShort)
{
    uint8_t* sub = frameMessage + STREAM_HEADER_SIZE;
    bool retain = options.retainEvery && frameCounter % options.retainEvery == 0;
    PutU32(sub, retain ? FRAME_FLAG_RETAIN : 0);
    PutU32(sub + 8, frameCounter);
    // The stamp is the moment the frame leaves, so a consumer can measure
    // the whole way from here to its own take.
    PutU32(sub + 4, StampMs(options.stampRaw));
    uint32_t length = cutShort ? frameMessageSize / 2 : frameMessageSize;
    bool ok = SendMessage(frameMessage, length);
    ++frameCounter;
    if (ok && !cutShort) {
        ++counters.frames;
        ++linkFrames;
    }
    return ok;
}

bool PhoneSession::SendTable()
{
    ++counters.tables;
    return SendMessage(table, sizeof table);
}

bool PhoneSession::SendAlive()
{
    uint8_t alive[STREAM_HEADER_SIZE];
    PutHeader(alive, options.session, MSG_ALIVE, 0);
    ++counters.alives;
    return SendMessage(alive, sizeof alive);
}

bool PhoneSession::SendBadHeader()
{
    uint8_t bad[STREAM_HEADER_SIZE];
    if (options.badLength)
        PutHeader(bad, options.session, MSG_FRAME, STREAM_MAX_LENGTH + 1);
    else
        PutHeader(bad, options.session, BAD_TYPE, 0);
    return SendRaw(bad, sizeof bad);
}

bool PhoneSession::SendMessage(const uint8_t* bytes, uint32_t length)
{
    if (noise && !SendRaw(noise, options.noise))
        return false;
    return SendRaw(bytes, length);
}

bool PhoneSession::SendRaw(const uint8_t* bytes, uint32_t length)
{
    if (!options.chunk)
        return transport.Send(bytes, length);
    while (length > 0) {
        uint32_t piece = length < options.chunk ? length : options.chunk;
        if (!transport.Send(bytes, piece))
            return false;
        bytes += piece;
        length -= piece;
        if (length && options.chunkPauseUs)
            SleepUs(options.chunkPauseUs);
    }
    return true;
}
