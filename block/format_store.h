#pragma once
// The persisted copy of the format table: one binary value "Setup" under the
// key "Software\Ovalix" of the machine's settings store (the registry's
// 32-bit view on Windows, whatever the reader's bitness; a file under the
// service's state directory elsewhere). The service keeps it; a consumer
// reads it while no service runs, to offer the sizes the phone last offered.

#include <stdint.h>

#include "camera_block.h"

// The table the service holds before any phone or stored table: one entry.
const uint32_t DEFAULT_TABLE_MODE = 3;
const uint32_t DEFAULT_ENTRY_WIDTH = 640;
const uint32_t DEFAULT_ENTRY_HEIGHT = 480;
const float DEFAULT_ENTRY_FPS = 30.0f;

// Whether the service takes a stored entry: a size from 176 x 144 to
// 1280 x 720, a rate from 10 to 30 (a NaN rate compares false both ways and
// passes), flags 0 or 1. One entry that fails throws the whole table out.
inline bool StoredEntryUsable(const FormatEntry& entry)
{
    const uint32_t w = EntryWidth(entry), h = EntryHeight(entry), flags = EntryFlags(entry);
    return w >= 176 && w <= 1280 && h >= 144 && h <= 720 && !(entry.fps < 10.0f) &&
           !(entry.fps > 30.0f) && (flags == 0 || flags == 1);
}

enum StoreReadResult {
    STORE_READ_OK = 0,
    STORE_NO_KEY = 1,       // the key cannot be opened
    STORE_READ_FAILED = 2,  // key present; value missing, unreadable or too long
};

// Reads the value straight into dest. A value shorter than capacity overwrites
// only its own length; a value longer than capacity fails.
StoreReadResult ReadStoredFormats(uint8_t* dest, uint32_t capacity);

// Creates the key if needed and writes the value; failures are silent.
void WriteStoredFormats(const uint8_t* data, uint32_t size);
