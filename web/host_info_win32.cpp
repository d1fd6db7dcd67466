#include "host_info.h"

#include <winsock2.h>
#include <ws2tcpip.h>
#include <iphlpapi.h>
#include <string.h>

void ReadHostInfo(HostInfo* info)
{
    memset(info, 0, sizeof *info);
    DWORD size = sizeof info->name - 1;
    if (!GetComputerNameExA(ComputerNameDnsHostname, info->name, &size)) {
        info->name[0] = 0;
    }
    // Enough for the adapters of any ordinary PC; a bigger list is cut.
    static unsigned char buffer[64 * 1024];
    ULONG length = sizeof buffer;
    IP_ADAPTER_ADDRESSES* adapters = reinterpret_cast<IP_ADAPTER_ADDRESSES*>(buffer);
    ULONG flags = GAA_FLAG_SKIP_ANYCAST | GAA_FLAG_SKIP_MULTICAST | GAA_FLAG_SKIP_DNS_SERVER;
    if (GetAdaptersAddresses(AF_INET, flags, nullptr, adapters, &length) != NO_ERROR) {
        return;
    }
    for (IP_ADAPTER_ADDRESSES* a = adapters; a != nullptr; a = a->Next) {
        if (a->OperStatus != IfOperStatusUp || a->IfType == IF_TYPE_SOFTWARE_LOOPBACK) {
            continue;
        }
        for (IP_ADAPTER_UNICAST_ADDRESS* u = a->FirstUnicastAddress; u != nullptr; u = u->Next) {
            if (u->Address.lpSockaddr->sa_family != AF_INET) {
                continue;
            }
            const sockaddr_in* in = reinterpret_cast<const sockaddr_in*>(u->Address.lpSockaddr);
            AddHostAddress(info, reinterpret_cast<const unsigned char*>(&in->sin_addr.s_addr));
        }
    }
}
