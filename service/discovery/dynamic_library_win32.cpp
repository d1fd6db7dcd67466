#include "discovery/dynamic_library.h"

#include <windows.h>

const char DISCOVERY_LIBRARY_NAME[] = "dnssd.dll";

LibraryHandle OpenLibrary(const char* fileName)
{
    return LoadLibraryA(fileName);
}

LibraryProc FindLibrarySymbol(LibraryHandle library, const char* name)
{
    return reinterpret_cast<LibraryProc>(GetProcAddress(static_cast<HMODULE>(library), name));
}

void CloseLibrary(LibraryHandle library)
{
    FreeLibrary(static_cast<HMODULE>(library));
}

void PrepareDiscoveryLibrary()
{
}
