#pragma once
// The persisted copy of the format table: one binary value "Setup" under the
// key "Software\Ovalix" of the machine's settings store (the registry on
// Windows; a file under the service's state directory elsewhere).

#include <stdint.h>

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
