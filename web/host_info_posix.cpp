#include "host_info.h"

#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#include <string.h>
#include <unistd.h>

void ReadHostInfo(HostInfo* info)
{
    memset(info, 0, sizeof *info);
    if (gethostname(info->name, sizeof info->name - 1) != 0) {
        info->name[0] = 0;
    }
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0) {
        return;
    }
    for (ifaddrs* it = list; it != nullptr; it = it->ifa_next) {
        if (it->ifa_addr == nullptr || it->ifa_addr->sa_family != AF_INET ||
            !(it->ifa_flags & IFF_UP) || (it->ifa_flags & IFF_LOOPBACK)) {
            continue;
        }
        const sockaddr_in* in = reinterpret_cast<const sockaddr_in*>(it->ifa_addr);
        AddHostAddress(info, reinterpret_cast<const unsigned char*>(&in->sin_addr.s_addr));
    }
    freeifaddrs(list);
}
