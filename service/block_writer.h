#pragma once
// The service's side of the shared camera block, which it alone writes but for
// the requested size: creating the block with its named objects, the format
// table and its stored copy, and the writer's side of the frame ring.
//
// Readers can write anything into the block, so the service keeps what it
// decides by in its own memory (the link state, the format table, the last
// requested size it read) and only publishes it there. Fields it reads back
// (the requested size, currentSlot, a slot's size) are read once and checked.

#include "camera_block.h"

const uint32_t PUBLISH_MUTEX_WAIT_MS = 1000;

// The mapped block; null outside OpenSharedBlock .. CloseServiceResources and
// while a damaged block could not be replaced yet.
extern SharedCameraBlock* g_block;

// The service's own format table; the block holds a published copy.
extern FormatTable g_formats;

bool OpenSharedBlock();
void CloseServiceResources();

// Replaces the block and its mutex and event when another process has taken
// their memory away (truncated them), and publishes the service's state into
// the new ones. Runs on the loop thread under g_linkLock; a replacement that
// fails is tried again at the next call.
void RepairSharedBlock();

void LoadFormatTable();
void SetDefaultFormats();
void SaveFormatTable();

// Copies g_formats into the block.
void PublishFormats();
// Sets the service's link state and publishes it.
void SetLinkState(uint32_t state);
// Sets the requested size (at start-up) and publishes it.
void SetRequestedSize(uint32_t width, uint32_t height);
// The consumer's requested size, each word read once; without a block, the
// last size read.
void ReadRequestedSize(uint32_t& width, uint32_t& height);

void PublishFrame(const uint8_t* bytes, uint32_t size, uint32_t flags, uint32_t stamp);
void RetainFrame(const uint8_t* bytes, uint32_t size, uint32_t flags, uint32_t stamp);
void ClearFrameRing();
