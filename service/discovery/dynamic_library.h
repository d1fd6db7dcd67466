#pragma once
// Loading a shared library by file name at run time and looking up its entry
// points, so that an optional library never becomes a link-time dependency.

typedef void* LibraryHandle;

// The generic function pointer a looked-up symbol comes back as; the caller
// converts it to the entry point's real type.
typedef void (*LibraryProc)(void);

// Null when the library cannot be loaded.
LibraryHandle OpenLibrary(const char* fileName);

// Null when the library does not export the name.
LibraryProc FindLibrarySymbol(LibraryHandle library, const char* name);

void CloseLibrary(LibraryHandle library);

// File name of the DNS-SD client library on this platform.
extern const char DISCOVERY_LIBRARY_NAME[];

// Prepares the process before the DNS-SD client library is loaded.
void PrepareDiscoveryLibrary();
