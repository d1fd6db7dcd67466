#pragma once
// The three named objects shared with consumer processes: a shared-memory
// mapping, a cross-process mutex and a manual-reset event. Names are given
// without the platform's namespace prefix ("OvalixSvcMemory"); each platform
// adds its own ("Global\" on Windows, "/" for POSIX shared memory).
// Create opens an object of the same name that another process made first.
// On POSIX a name has no reference count, so the side that called Create
// removes the name when it closes the object; consumers that still hold it
// keep a working object, and the next Create makes a fresh one. A consumer
// asks NameReplaced() to learn that the name no longer leads to the object it
// holds (the service stopped, or a new run made new objects), so that it can
// open the name again. On Windows the held objects keep the name alive, so a
// restarted service opens the very objects the consumer holds.
// On POSIX the creator of a mapping holds a lock on it for as long as it has
// it open, and a second Create of the same name fails without touching the
// object or the name while that creator lives (InUseByAnotherCreator()).
// MappedRegion() gives the memory that an object maps into this process (none
// for a Windows mutex or event), for a caller that guards its accesses.
// Shrunk() tells a consumer that another process has cut the object below
// what this process mapped (POSIX objects are files any user may truncate),
// so that it lets go instead of touching memory that would fault.
// A name that is gone is not a replacement: a reader keeps the objects it
// holds while their creator still publishes into them (NameReplaced() is
// true once the creator of the mapping has let go of it), and the creator,
// asking NameLeadsHere(), makes new objects behind the names.
//
// Sealed objects (POSIX only) have no name: CreateSealed() makes memory that
// nobody can shrink or grow once it is initialised, and Adopt() maps such
// memory from a descriptor that another process handed over, refusing any
// descriptor that could still shrink. So a reader of sealed objects cannot be
// made to fault by anyone. On Windows both return false: a mapping there
// cannot shrink at all.

#include <stddef.h>
#include <stdint.h>

#include "named_object_fields.h"  // what each platform keeps beside the handle

enum NamedWaitResult {
    NAMED_WAIT_ACQUIRED = 0,  // also when the previous holder died holding it
    NAMED_WAIT_TIMEOUT = 1,
    NAMED_WAIT_FAILED = 2,
    NAMED_WAIT_WOKEN = 3,  // a CWakeSignal ended the wait
};

class CNamedEvent;

// A process-local wake-up for one thread that waits on a named event or
// sleeps: Wake() from any thread makes its current wait, and every later one
// until Clear(), return NAMED_WAIT_WOKEN at once. Waking touches nothing
// another process sees as a state: on Windows the waiter waits on the named
// event and a local event together; on POSIX a futex waits on one word only,
// so Wake() also wakes the named event's word (the other readers it wakes
// look, find nothing new and wait again) and repeats that until the waiter
// has left, which closes the moment between its look at the flag and its
// sleep.
class CWakeSignal {
public:
    CWakeSignal();
    ~CWakeSignal();
    void Wake();
    void Clear();
    bool Woken() const;
    // Sleeps up to timeoutMs unless woken: NAMED_WAIT_TIMEOUT or _WOKEN.
    NamedWaitResult Sleep(uint32_t timeoutMs);

private:
    friend class CNamedEvent;
    CWakeSignal(const CWakeSignal&);
    CWakeSignal& operator=(const CWakeSignal&);
    intptr_t handle;  // Windows: the local event
    void* state;      // the flag; on POSIX also the word being waited on
};

class CNamedMapping {
public:
    CNamedMapping();
    ~CNamedMapping();
    bool Create(const char* name, uint32_t size);  // creator: read/write, open to every user
    bool Open(const char* name, uint32_t size);    // consumer
    void* View() const { return view; }
    void Close();  // unmaps the view, then closes the mapping
    bool NameReplaced() const;
    bool NameLeadsHere() const;
    bool Shrunk() const;
    bool InUseByAnotherCreator() const;
    void* MappedRegion(size_t& length) const;
    bool CreateSealed(uint32_t size);
    bool Adopt(intptr_t descriptor, uint32_t size);  // takes the descriptor in every case
    intptr_t Descriptor() const { return handle; }

private:
    CNamedMapping(const CNamedMapping&);
    CNamedMapping& operator=(const CNamedMapping&);
    void* view;
    uint32_t size;
    intptr_t handle;
    NamedMappingFields platform;
};

// What the named mutex and the named event share: the platform handle, what
// the platform keeps beside it, and what a consumer asks of the objects it
// holds. They differ only in the kind of object made and in their operations.
class CNamedSyncObject {
public:
    void Close();
    bool NameReplaced() const;
    bool NameLeadsHere() const;
    bool Shrunk() const;
    void* MappedRegion(size_t& length) const;
    bool CreateSealed();
    bool Adopt(intptr_t descriptor);  // takes the descriptor in every case
    intptr_t Descriptor() const { return handle; }

protected:
    enum Kind { SYNC_MUTEX, SYNC_EVENT };
    explicit CNamedSyncObject(Kind kind);
    ~CNamedSyncObject();
    bool CreateNamed(const char* name);
    bool OpenNamed(const char* name);
    const Kind kind;
    intptr_t handle;
    NamedSyncFields platform;

private:
    CNamedSyncObject(const CNamedSyncObject&);
    CNamedSyncObject& operator=(const CNamedSyncObject&);
};

class CNamedMutex : public CNamedSyncObject {
public:
    CNamedMutex() : CNamedSyncObject(SYNC_MUTEX) {}
    bool Create(const char* name) { return CreateNamed(name); }
    bool Open(const char* name) { return OpenNamed(name); }
    NamedWaitResult Lock(uint32_t timeoutMs);
    void Unlock();
};

class CNamedEvent : public CNamedSyncObject {
public:
    CNamedEvent() : CNamedSyncObject(SYNC_EVENT) {}
    bool Create(const char* name) { return CreateNamed(name); }  // manual reset, not signalled
    bool Open(const char* name) { return OpenNamed(name); }
    void Set();  // no system call when the event is set already
    void Reset();
    NamedWaitResult Wait(uint32_t timeoutMs);
    // Also returns NAMED_WAIT_WOKEN as soon as wake is woken.
    NamedWaitResult Wait(uint32_t timeoutMs, CWakeSignal& wake);
};

extern const char* const SHARED_MEMORY_NAME;  // "OvalixSvcMemory"
extern const char* const SHARED_MUTEX_NAME;   // "OvalixSvcMutex"
extern const char* const READY_EVENT_NAME;    // "OvalixReadyEvent"
