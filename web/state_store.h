// Where the bridge keeps its certificate, key and pairing token, readable by
// the service account alone: a folder of the service's state directory.
#pragma once

#include <stddef.h>

enum { STATE_PATH_CHARS = 512 };

// The service's state directory: on Linux $STATE_DIRECTORY (as systemd sets
// it) else /var/lib/ovalix; on Windows the Ovalix folder of ProgramData.
// False when it does not fit.
bool DefaultStateDir(char* out, size_t cap);

// Creates the folder (and its parent) when missing, for the owner alone
// (mode 0700 / an access list of SYSTEM and Administrators, not inherited).
bool MakePrivateDir(const char* path);

// Replaces the file with these bytes atomically (a new file, flushed, then
// renamed over the old one), readable by the owner alone.
bool WritePrivateFile(const char* path, const void* data, size_t length);
