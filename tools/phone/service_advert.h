#pragma once
// Advertises the listening phone as instance "mobile" of "_ovalix._tcp" in
// domain "local" through the DNS-SD client library, for as long as the
// object lives.

#include <stdint.h>

class ServiceAdvert {
public:
    ServiceAdvert();
    ~ServiceAdvert();
    // Registers the port and waits up to waitMs for the daemon's answer.
    // Returns true once the registration is confirmed.
    bool Register(uint16_t port, int waitMs);

private:
    ServiceAdvert(const ServiceAdvert&);
    ServiceAdvert& operator=(const ServiceAdvert&);
    void* ref;
};
