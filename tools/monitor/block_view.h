#pragma once
#include <stdio.h>

#include "camera_block.h"

// Prints the block's state: link, requested size, format table, ring and
// retained frame. Reads without the mutex, as a snapshot.
void PrintBlock(FILE* out, const SharedCameraBlock& block);
