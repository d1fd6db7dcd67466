#pragma once
// The published dns_sd client interface: the types and the four entry points
// the service resolves through. The library itself is loaded at run time, so
// these declarations serve only to give the entry points their exact types.

#ifndef _WIN32

#include <dns_sd.h>

// The reply socket is a file descriptor.
typedef int dnssd_sock_t;

#else

// The Windows toolchain ships no dns_sd.h; these are the published
// declarations, with the library's __stdcall calling convention.
#include <stdint.h>

#define DNSSD_API __stdcall

extern "C" {

typedef struct _DNSServiceRef_t* DNSServiceRef;
typedef uint32_t DNSServiceFlags;
typedef int32_t DNSServiceErrorType;

enum {
    kDNSServiceErr_NoError = 0,
    kDNSServiceErr_Unknown = -65537,
};

typedef void (DNSSD_API* DNSServiceResolveReply)(
    DNSServiceRef sdRef, DNSServiceFlags flags, uint32_t interfaceIndex,
    DNSServiceErrorType errorCode, const char* fullname, const char* hosttarget,
    uint16_t port, uint16_t txtLen, const unsigned char* txtRecord, void* context);

DNSServiceErrorType DNSSD_API DNSServiceResolve(
    DNSServiceRef* sdRef, DNSServiceFlags flags, uint32_t interfaceIndex,
    const char* name, const char* regtype, const char* domain,
    DNSServiceResolveReply callBack, void* context);

void DNSSD_API DNSServiceRefDeallocate(DNSServiceRef sdRef);

DNSServiceErrorType DNSSD_API DNSServiceProcessResult(DNSServiceRef sdRef);

// The reply socket is a SOCKET: pointer-sized, 64 bits on x64.
typedef uintptr_t dnssd_sock_t;

dnssd_sock_t DNSSD_API DNSServiceRefSockFD(DNSServiceRef sdRef);

}

#endif

// No reply socket: -1, or INVALID_SOCKET, which is all ones.
const dnssd_sock_t DNSSD_NO_SOCKET = static_cast<dnssd_sock_t>(-1);
