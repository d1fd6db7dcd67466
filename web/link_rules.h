// The bridge's decisions about who may link, written as plain functions so
// that tests and the fuzzer call them without sockets: the pairing token in
// a query string, the size of a WebSocket message, failed attempts per
// source address, and whether a link in place gives way to a new one.
#pragma once

#include <stddef.h>
#include <stdint.h>

// The pairing token: 16 random bytes as 32 lowercase hex digits.
enum { TOKEN_CHARS = 32 };

// A message from the page is relayed as it arrives; the bridge only counts
// it. The longest the page needs is one stream message of 200,000 bytes;
// anything above this bound ends the link (close code 1009).
enum { WEB_MESSAGE_LIMIT = 256 * 1024 };

// The value of NAME in a query string ("a=1&t=abc"), copied into out
// (capacity cap, always terminated). False when absent or too long.
bool FindQueryValue(const char* query, size_t length, const char* name, char* out, size_t cap);

// True when candidate is exactly the token. Every byte is looked at, so the
// time taken does not tell how much of a guess was right.
bool TokenMatches(const char* candidate, const char* token);

// A message's running size. Start() at its first fragment; Add() with each
// fragment's length and the bytes its frame still announces. False once the
// message would pass WEB_MESSAGE_LIMIT, before its bytes are relayed.
struct MessageBound {
    uint32_t size;
};
void MessageStart(MessageBound* bound);
bool MessageAdd(MessageBound* bound, size_t fragment, size_t announced);

// Failed link attempts per source address: each address may fail
// RATE_BURST times in a row, then once per RATE_REFILL_MS. While an address
// has no attempt left, every link attempt from it is refused, right token or
// not, so guessing costs time. The table is fixed; an address with a full
// allowance is the same as a forgotten one, so those entries are reused
// first.
enum { RATE_ENTRIES = 64, RATE_BURST = 5, RATE_REFILL_MS = 2000, RATE_ADDRESS_CHARS = 48 };
struct RateEntry {
    char address[RATE_ADDRESS_CHARS];
    uint32_t allowance;  // attempts left
    uint32_t since;      // tick from which the next attempt accrues
};
struct RateLimiter {
    RateEntry entries[RATE_ENTRIES];
};
void RateReset(RateLimiter* limiter);
bool RateAllows(RateLimiter* limiter, const char* address, uint32_t now);
void RateRecordFailure(RateLimiter* limiter, const char* address, uint32_t now);

// Whether a page's new authenticated link may replace the link in place:
// when there is none, when it comes from the same address (the same phone
// reloaded its page, and its old socket may not have closed yet), or when
// the page in place has sent nothing for LINK_SILENT_MS (its network went
// away; the page sends a sign of life at least twice a second).
enum { LINK_SILENT_MS = 3000 };
struct LinkView {
    bool linked;
    const char* address;
    uint32_t lastReceiveTick;
};
bool LinkMayBeReplaced(const LinkView& link, const char* address, uint32_t now);
