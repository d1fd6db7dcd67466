#include "discovery/dynamic_library.h"

#include <dlfcn.h>
#include <stdlib.h>

// The dns_sd compatibility library of the system's mDNS daemon and the
// daemon's own client library both install under this name.
const char DISCOVERY_LIBRARY_NAME[] = "libdns_sd.so.1";

LibraryHandle OpenLibrary(const char* fileName)
{
    return dlopen(fileName, RTLD_NOW | RTLD_LOCAL);
}

LibraryProc FindLibrarySymbol(LibraryHandle library, const char* name)
{
    return reinterpret_cast<LibraryProc>(dlsym(library, name));
}

void CloseLibrary(LibraryHandle library)
{
    dlclose(library);
}

void PrepareDiscoveryLibrary()
{
    // The compatibility layer writes a warning to stderr (and syslog) on its
    // first use unless this variable is set, and the service prints nothing.
    // It runs once at start-up, before any other thread reads the environment;
    // a value the administrator has set is kept.
    setenv("AVAHI_COMPAT_NOWARN", "1", 0);
}
