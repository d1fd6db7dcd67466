// Resolves the phone's DNS-SD service instance to an IPv4 address and port.
// The resolve is started and then polled once per connection step; the service
// thread never waits on the library.

#include "discovery/discovery.h"

#include "discovery/dns_sd_api.h"
#include "discovery/dynamic_library.h"
#include "net/net_socket.h"

bool DiscoveryAvailable = false;

namespace {

const char SERVICE_NAME[] = "mobile";
const char SERVICE_TYPE[] = "_ovalix._tcp.";
const char SERVICE_DOMAIN[] = "local";

typedef decltype(&DNSServiceResolve) ResolveEntry;
typedef decltype(&DNSServiceRefDeallocate) DeallocateEntry;
typedef decltype(&DNSServiceProcessResult) ProcessResultEntry;
typedef decltype(&DNSServiceRefSockFD) SockFDEntry;

LibraryHandle g_library = nullptr;
ResolveEntry g_resolveEntry = nullptr;
DeallocateEntry g_deallocateEntry = nullptr;
ProcessResultEntry g_processResultEntry = nullptr;
SockFDEntry g_sockFDEntry = nullptr;

DNSServiceRef g_resolveRef = nullptr;   // the outstanding resolve, if any
uint32_t g_resolvedAddress = 0;         // host byte order; 0 = nothing resolved
uint16_t g_resolvedPort = 0;            // host byte order

// Call-throughs to the library. Only the deallocation is reachable without the
// library (StopResolve at shut-down), so only it checks its pointer.

DNSServiceErrorType ServiceResolve(DNSServiceRef* ref, DNSServiceFlags flags,
                                   uint32_t interfaceIndex, const char* name,
                                   const char* type, const char* domain,
                                   DNSServiceResolveReply callback, void* context)
{
    return g_resolveEntry(ref, flags, interfaceIndex, name, type, domain, callback, context);
}

void RefDeallocate(DNSServiceRef ref)
{
    if (g_deallocateEntry != nullptr)
        g_deallocateEntry(ref);
}

DNSServiceErrorType ProcessResult(DNSServiceRef ref)
{
    return g_processResultEntry(ref);
}

dnssd_sock_t RefSockFD(DNSServiceRef ref)
{
    return g_sockFDEntry(ref);
}

template <typename Entry>
bool FindEntry(const char* name, Entry& entry)
{
    entry = reinterpret_cast<Entry>(FindLibrarySymbol(g_library, name));
    return entry != nullptr;
}

void ForgetEntries()
{
    g_resolveEntry = nullptr;
    g_deallocateEntry = nullptr;
    g_processResultEntry = nullptr;
    g_sockFDEntry = nullptr;
}

// The library's reply handler, run from inside DNSServiceProcessResult. Every
// reply ends the resolve, so at most one answer is taken per resolve.
void DNSSD_API ResolveCallback(DNSServiceRef, DNSServiceFlags, uint32_t,
                               DNSServiceErrorType errorCode, const char*,
                               const char* hostTarget, uint16_t port, uint16_t,
                               const unsigned char*, void*)
{
    // The port arrives in network byte order: most significant byte first.
    const unsigned char* portBytes = reinterpret_cast<const unsigned char*>(&port);
    uint16_t hostPort = static_cast<uint16_t>((portBytes[0] << 8) | portBytes[1]);

    RefDeallocate(g_resolveRef);
    g_resolveRef = nullptr;

    if (errorCode != kDNSServiceErr_NoError || hostTarget == nullptr)
        return;
    uint32_t address;
    if (!NetLookUpFirstAddress(hostTarget, address))
        return;
    g_resolvedAddress = address;
    g_resolvedPort = hostPort;
}

}  // namespace

int LoadDiscoveryLibraryNamed(const char* fileName)
{
    if (g_library != nullptr)
        return 0;
    PrepareDiscoveryLibrary();
    g_library = OpenLibrary(fileName);
    if (g_library == nullptr)
        return -1;
    // All four or none: a partial library is not used at all.
    if (FindEntry("DNSServiceResolve", g_resolveEntry) &&
        FindEntry("DNSServiceRefDeallocate", g_deallocateEntry) &&
        FindEntry("DNSServiceProcessResult", g_processResultEntry) &&
        FindEntry("DNSServiceRefSockFD", g_sockFDEntry))
        return 0;
    ForgetEntries();
    CloseLibrary(g_library);
    g_library = nullptr;
    return -1;
}

int LoadDiscoveryLibrary()
{
    return LoadDiscoveryLibraryNamed(DISCOVERY_LIBRARY_NAME);
}

void UnloadDiscoveryLibrary()
{
    if (g_library == nullptr)
        return;
    // A resolve still outstanding belongs to the library: end it while its
    // code is still mapped.
    StopResolve();
    ForgetEntries();
    CloseLibrary(g_library);
    g_library = nullptr;
    DiscoveryAvailable = false;
}

void StartResolve()
{
    if (g_resolveRef != nullptr)
        return;
    // On failure the reference stays null and the next step tries again.
    ServiceResolve(&g_resolveRef, 0, 0, SERVICE_NAME, SERVICE_TYPE, SERVICE_DOMAIN,
                   ResolveCallback, nullptr);
}

bool PollResolve(uint32_t& address, uint16_t& port)
{
    if (g_resolvedAddress != 0) {
        address = g_resolvedAddress;
        port = g_resolvedPort;
        return true;
    }
    dnssd_sock_t socket = RefSockFD(g_resolveRef);
    if (socket == DNSSD_NO_SOCKET || !NetReadableNow((uintptr_t)socket))
        return false;
    if (ProcessResult(g_resolveRef) != kDNSServiceErr_NoError)
        StopResolve();
    // An address stored by the reply just processed is handed out at the next
    // poll, that is at the next connection step.
    return false;
}

void StopResolve()
{
    if (g_resolveRef != nullptr)
        RefDeallocate(g_resolveRef);
    g_resolveRef = nullptr;
    g_resolvedAddress = 0;
    g_resolvedPort = 0;
}
