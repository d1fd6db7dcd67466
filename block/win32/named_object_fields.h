#pragma once
// A Windows named object is its handle alone: the kernel keeps the name alive
// while any handle to it is open, and holds the mutex's and event's state.

struct NamedMappingFields {};

struct NamedSyncFields {};
