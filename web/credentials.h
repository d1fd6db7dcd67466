// The bridge's certificate, key and pairing token: made on first start,
// kept in a private folder of the service's state, reused afterwards. The
// token can be renewed; the certificate stays, so a phone that accepted it
// once is not asked again.
#pragma once

#include <stddef.h>

#include "host_info.h"
#include "link_rules.h"
#include "state_store.h"

enum { CERT_PEM_CHARS = 4096, FINGERPRINT_CHARS = 96 };

struct Credentials {
    char dir[STATE_PATH_CHARS];       // the private folder
    char certPath[STATE_PATH_CHARS];  // PEM files in it, for the TLS library
    char keyPath[STATE_PATH_CHARS];
    char token[TOKEN_CHARS + 1];
    // SHA-256 of the certificate as colon-separated hex pairs, as browsers
    // show it.
    char fingerprint[FINGERPRINT_CHARS];
};

// Loads the credentials from STATE_DIR/web, making whatever is missing or
// unreadable: a self-signed ECDSA P-256 certificate whose subject
// alternative names are the host's name, "localhost", its addresses and
// 127.0.0.1; its key; a token. False with a message on stderr when the
// folder cannot be made or written.
bool LoadCredentials(const char* stateDir, const HostInfo& host, Credentials* out);

// Makes and stores a new token.
bool RenewToken(Credentials* credentials);
