#pragma once
// DNS-SD discovery of the phone's "mobile" instance of "_ovalix._tcp." in
// "local", through the client library loaded at run time.

#include <stdint.h>

extern bool DiscoveryAvailable;

int LoadDiscoveryLibrary();      // 0 loaded, -1 not available
void UnloadDiscoveryLibrary();
void StartResolve();
bool PollResolve(uint32_t& address, uint16_t& port);
void StopResolve();

// LoadDiscoveryLibrary with another file name or path in place of the
// platform's library name; lets a test load a particular build of the library.
int LoadDiscoveryLibraryNamed(const char* fileName);
