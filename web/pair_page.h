// The texts a person reads: the pairing page on the PC, what `ovalix-web
// pair` prints, and the page a second phone gets while one is linked.
#pragma once

#include <stddef.h>
#include <stdio.h>

#include "credentials.h"
#include "host_info.h"

// The page's address for a phone: https://ADDRESS:PORT/?t=TOKEN.
void PhoneUrl(char* out, size_t cap, const char* address, int port, const char* token);

// The pairing page: a QR code and the address for each of the PC's
// addresses, the certificate's fingerprint, whether a phone is linked (and
// from where), and the button that renews the token. False when it does not
// fit cap.
bool BuildPairPage(const Credentials& credentials, const HostInfo& host, int port,
                   const char* linkedAddress, char* out, size_t cap);

// What `ovalix-web pair` prints: the first address's QR code and URL, the
// others' URLs, and the fingerprint.
void PrintPairing(const Credentials& credentials, const HostInfo& host, int port, int pairPort,
                  FILE* stream);

// The page a phone gets while another phone is linked; it looks again by
// itself every few seconds.
extern const char kInUsePage[];
