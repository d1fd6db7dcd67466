#include "link_rules.h"

#include <string.h>

bool FindQueryValue(const char* query, size_t length, const char* name, char* out, size_t cap)
{
    if (cap == 0) {
        return false;
    }
    out[0] = 0;
    size_t nameLength = strlen(name);
    size_t i = 0;
    while (i < length) {
        size_t end = i;
        while (end < length && query[end] != '&') {
            end++;
        }
        if (end - i > nameLength && memcmp(query + i, name, nameLength) == 0 &&
            query[i + nameLength] == '=') {
            size_t valueStart = i + nameLength + 1;
            size_t valueLength = end - valueStart;
            if (valueLength >= cap) {
                return false;
            }
            memcpy(out, query + valueStart, valueLength);
            out[valueLength] = 0;
            return true;
        }
        i = end + 1;
    }
    return false;
}

bool TokenMatches(const char* candidate, const char* token)
{
    size_t candidateLength = strnlen(candidate, TOKEN_CHARS + 1);
    unsigned difference = candidateLength != TOKEN_CHARS;
    for (size_t i = 0; i < TOKEN_CHARS; i++) {
        char c = i < candidateLength ? candidate[i] : 0;
        difference |= static_cast<unsigned char>(c ^ token[i]);
    }
    return difference == 0;
}

void MessageStart(MessageBound* bound)
{
    bound->size = 0;
}

bool MessageAdd(MessageBound* bound, size_t fragment, size_t announced)
{
    // Compared before adding, so no sum can wrap.
    if (fragment > WEB_MESSAGE_LIMIT || announced > WEB_MESSAGE_LIMIT) {
        return false;
    }
    if (bound->size + fragment + announced > WEB_MESSAGE_LIMIT) {
        return false;
    }
    bound->size += static_cast<uint32_t>(fragment);
    return true;
}

void RateReset(RateLimiter* limiter)
{
    memset(limiter, 0, sizeof *limiter);
}

// The entry's allowance as it stands at now.
static uint32_t Allowance(RateEntry* entry, uint32_t now)
{
    if (entry->address[0] == 0) {
        return RATE_BURST;
    }
    uint32_t accrued = (now - entry->since) / RATE_REFILL_MS;
    if (accrued > 0) {
        uint32_t allowance = entry->allowance + accrued;
        entry->allowance = allowance > RATE_BURST ? static_cast<uint32_t>(RATE_BURST) : allowance;
        entry->since += accrued * RATE_REFILL_MS;
    }
    return entry->allowance;
}

static RateEntry* Lookup(RateLimiter* limiter, const char* address)
{
    for (RateEntry& entry : limiter->entries) {
        if (entry.address[0] && strncmp(entry.address, address, RATE_ADDRESS_CHARS) == 0) {
            return &entry;
        }
    }
    return nullptr;
}

bool RateAllows(RateLimiter* limiter, const char* address, uint32_t now)
{
    RateEntry* entry = Lookup(limiter, address);
    return entry == nullptr || Allowance(entry, now) > 0;
}

void RateRecordFailure(RateLimiter* limiter, const char* address, uint32_t now)
{
    RateEntry* entry = Lookup(limiter, address);
    if (entry == nullptr) {
        // The entry with the most attempts left is the one that matters least.
        entry = &limiter->entries[0];
        for (RateEntry& candidate : limiter->entries) {
            if (Allowance(&candidate, now) > Allowance(entry, now)) {
                entry = &candidate;
            }
        }
        memset(entry, 0, sizeof *entry);
        strncpy(entry->address, address, RATE_ADDRESS_CHARS - 1);
        entry->allowance = RATE_BURST;
        entry->since = now;
    }
    if (Allowance(entry, now) == RATE_BURST) {
        entry->since = now;
    }
    if (entry->allowance > 0) {
        entry->allowance--;
    }
}

bool LinkMayBeReplaced(const LinkView& link, const char* address, uint32_t now)
{
    if (!link.linked) {
        return true;
    }
    if (link.address != nullptr && strcmp(link.address, address) == 0) {
        return true;
    }
    return now - link.lastReceiveTick >= LINK_SILENT_MS;
}
