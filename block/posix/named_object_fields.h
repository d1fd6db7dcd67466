#pragma once
// What a POSIX named object keeps beside its descriptor. A name has no
// reference count there: the process that made the object removes the name
// when it closes it, and a holder follows the name to learn whether it still
// leads to the object it holds. Sealed objects have no name (an empty path).

struct NamedMappingFields {
    bool owner;           // made by Create: the name goes away with the owner
    bool inUseElsewhere;  // the last Create met a live creator of the same name
    char path[64];
};

struct NamedSyncFields {
    void* shared;  // the mapped state: a robust mutex, or the event's word
    bool owner;
    char path[64];
};
