#pragma once
// Direct access to the persisted format table, for setting up and checking
// what the service loads and saves. On POSIX the store lives under a fresh
// temporary state directory that UseTemporaryStore points $STATE_DIRECTORY to.

#include <stdint.h>

#include <vector>

void UseTemporaryStore();
void RemoveStoredKey();
void CreateStoredKeyOnly();
void WriteStoredValue(const void* data, uint32_t size);
bool ReadStoredValue(std::vector<uint8_t>& out);
