#pragma once
// The phone's side of the stream protocol over any transport: it announces
// its format table, answers the service's format request with JPEG frames of
// the chosen size, sends signs of life, and misbehaves on request.

#include <signal.h>
#include <stdint.h>

#include "phone_options.h"
#include "phone_transport.h"
#include "test_pattern.h"

struct PhoneCounters {
    uint64_t frames;
    uint64_t links;
    uint64_t selects;
    uint64_t tables;
    uint64_t alives;
    uint64_t keepalives;
};

class PhoneSession {
public:
    PhoneSession(const PhoneOptions& options, PhoneTransport& transport);
    ~PhoneSession();

    // Runs links one after another until `stop` is set.
    void Run(volatile sig_atomic_t& stop);

    const PhoneCounters& Counters() const { return counters; }

private:
    PhoneSession(const PhoneSession&);
    PhoneSession& operator=(const PhoneSession&);

    enum LinkEnd { LINK_GOES_ON, LINK_ENDS, PHONE_DONE };

    LinkEnd RunLink(volatile sig_atomic_t& stop);
    LinkEnd SendDue(uint64_t now);
    int WaitMs(uint64_t now);
    LinkEnd HandleReceived(const uint8_t* bytes, uint32_t length, uint64_t now);
    LinkEnd HandleSelect(uint32_t index, uint32_t session, uint64_t now);

    bool SendMessage(const uint8_t* bytes, uint32_t length);
    bool SendRaw(const uint8_t* bytes, uint32_t length);
    bool SendTable();
    bool SendAlive();
    bool SendBadHeader();
    bool SendFrame(uint64_t now, bool cutShort);
    bool PrepareFrame();

    void Log(const char* format, ...) __attribute__((format(printf, 2, 3)));

    const PhoneOptions& options;
    PhoneTransport& transport;
    TestPattern pattern;
    PhoneCounters counters;

    uint8_t table[352];
    uint8_t* frameMessage;  // header + sub-header + JPEG of the next frame
    uint32_t frameMessageSize;
    uint8_t* noise;
    uint8_t receiveBuffer[4096];
    uint8_t pending[8192];  // service's bytes not yet parsed
    uint32_t pendingFill;

    uint32_t frameCounter;  // counts frames sent, across links
    bool closedEarly;
    bool closedMid;

    // Per link.
    bool selected;
    bool silent;
    uint32_t formatIndex;
    uint64_t framePeriodUs;
    uint64_t nextFrameUs;
    uint64_t nextAliveMs;
    uint64_t nextTableMs;  // while no format is selected
    uint64_t nextBadMs;    // the next damaged header asked for
    uint64_t lastHeardMs;
    uint32_t linkFrames;
};

// CLOCK_MONOTONIC in milliseconds and microseconds; frame stamps carry the
// milliseconds truncated to 32 bits.
uint64_t MonotonicMs();
uint64_t MonotonicUs();
// The stamp carried by a frame: CLOCK_MONOTONIC, or CLOCK_MONOTONIC_RAW when
// the consumer's tick count is built on that clock.
uint32_t StampMs(bool raw);
