#pragma once
// The service's operations on the shared camera block: creating it with its
// named objects, the format table and its stored copy, and the writer's side
// of the frame ring.

#include "camera_block.h"

const uint32_t PUBLISH_MUTEX_WAIT_MS = 1000;

// The mapped block; null outside OpenSharedBlock .. CloseServiceResources.
extern SharedCameraBlock* g_block;

bool OpenSharedBlock();
void CloseServiceResources();

void LoadFormatTable();
void SetDefaultFormats();
void SaveFormatTable();

void PublishFrame(const uint8_t* bytes, uint32_t size, uint32_t flags, uint32_t stamp);
void RetainFrame(const uint8_t* bytes, uint32_t size, uint32_t flags, uint32_t stamp);
void ClearFrameRing();
