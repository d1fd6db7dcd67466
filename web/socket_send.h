// A non-blocking send on a socket the WebSocket library owns, so that bytes
// from the page go to the service straight from the library's buffer.
#pragma once

#include <stddef.h>

// Bytes sent (0 when the socket would block), or -1 when it failed.
long SendSome(long long socket, const void* data, size_t length);
