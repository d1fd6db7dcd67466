#include "service_advert.h"

#include <arpa/inet.h>
#include <dns_sd.h>
#include <poll.h>
#include <stdlib.h>

namespace {

struct RegisterResult {
    bool answered;
    DNSServiceErrorType error;
};

void DNSSD_API OnRegistered(DNSServiceRef, DNSServiceFlags, DNSServiceErrorType error, const char*,
                            const char*, const char*, void* context)
{
    RegisterResult* result = (RegisterResult*)context;
    result->answered = true;
    result->error = error;
}

}  // namespace

ServiceAdvert::ServiceAdvert() : ref(nullptr) {}

ServiceAdvert::~ServiceAdvert()
{
    if (ref)
        DNSServiceRefDeallocate((DNSServiceRef)ref);
}

bool ServiceAdvert::Register(uint16_t port, int waitMs)
{
    // The compatibility library otherwise prints a notice on every start.
    setenv("AVAHI_COMPAT_NOWARN", "1", 0);
    RegisterResult result = {false, kDNSServiceErr_NoError};
    DNSServiceRef r = nullptr;
    if (DNSServiceRegister(&r, 0, 0, "mobile", "_ovalix._tcp", "local", nullptr, htons(port), 0,
                           nullptr, OnRegistered, &result) != kDNSServiceErr_NoError)
        return false;
    ref = r;
    pollfd p = {DNSServiceRefSockFD(r), POLLIN, 0};
    if (p.fd < 0 || poll(&p, 1, waitMs) <= 0)
        return false;
    if (DNSServiceProcessResult(r) != kDNSServiceErr_NoError)
        return false;
    return result.answered && result.error == kDNSServiceErr_NoError;
}
