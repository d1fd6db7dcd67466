#include "host_info.h"

#include <stdio.h>
#include <string.h>

static int Rank(const unsigned char a[4])
{
    if (a[0] == 10 || (a[0] == 172 && (a[1] & 0xF0) == 16) || (a[0] == 192 && a[1] == 168)) {
        return 0;
    }
    return a[0] == 169 && a[1] == 254 ? 2 : 1;
}

void AddHostAddress(HostInfo* info, const unsigned char a[4])
{
    if (a[0] == 127 || a[0] == 0) {
        return;
    }
    char text[HOST_ADDRESS_CHARS];
    snprintf(text, sizeof text, "%u.%u.%u.%u", a[0], a[1], a[2], a[3]);
    for (int i = 0; i < info->addressCount; i++) {
        if (strcmp(info->addresses[i], text) == 0) {
            return;
        }
    }
    // Insertion keeps the list ordered by rank, first seen first within one.
    int rank = Rank(a);
    int at = info->addressCount;
    for (int i = 0; i < info->addressCount; i++) {
        unsigned v[4];
        sscanf(info->addresses[i], "%u.%u.%u.%u", &v[0], &v[1], &v[2], &v[3]);
        unsigned char other[4] = {
            static_cast<unsigned char>(v[0]), static_cast<unsigned char>(v[1]),
            static_cast<unsigned char>(v[2]), static_cast<unsigned char>(v[3])};
        if (Rank(other) > rank) {
            at = i;
            break;
        }
    }
    if (at >= HOST_ADDRESSES) {
        return;
    }
    int last = info->addressCount < HOST_ADDRESSES ? info->addressCount : HOST_ADDRESSES - 1;
    for (int i = last; i > at; i--) {
        memcpy(info->addresses[i], info->addresses[i - 1], HOST_ADDRESS_CHARS);
    }
    memcpy(info->addresses[at], text, HOST_ADDRESS_CHARS);
    if (info->addressCount < HOST_ADDRESSES) {
        info->addressCount++;
    }
}
