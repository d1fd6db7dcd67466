#include "named_objects.h"

// No object here can shrink, so there is nothing to seal and no descriptor
// is ever handed over.
bool CNamedMapping::CreateSealed(uint32_t)
{
    return false;
}
bool CNamedMapping::Adopt(intptr_t, uint32_t)
{
    return false;
}
bool CNamedSyncObject::CreateSealed()
{
    return false;
}
bool CNamedSyncObject::Adopt(intptr_t)
{
    return false;
}
