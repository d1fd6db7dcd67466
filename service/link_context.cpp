// The process-wide link record and the lock that guards it.

#include "link_context.h"

LinkContext g_link;
std::mutex g_linkLock;
