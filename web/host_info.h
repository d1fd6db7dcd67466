// The PC as a phone on the network reaches it: its host name and its IPv4
// addresses, best first.
#pragma once

enum { HOST_NAME_CHARS = 256, HOST_ADDRESS_CHARS = 46, HOST_ADDRESSES = 8 };

struct HostInfo {
    char name[HOST_NAME_CHARS];
    int addressCount;
    char addresses[HOST_ADDRESSES][HOST_ADDRESS_CHARS];
};

// Fills info with the host name and the addresses of the interfaces that are
// up, loopback left out; private-network addresses first, link-local last.
void ReadHostInfo(HostInfo* info);

// Puts an address into its place in the list: private ranges (10/8,
// 172.16/12, 192.168/16) first, then others, link-local (169.254/16) last;
// loopback and duplicates are skipped. Shared by both platforms.
void AddHostAddress(HostInfo* info, const unsigned char address[4]);
