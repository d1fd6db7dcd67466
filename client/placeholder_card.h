#pragma once
// The picture a consumer shows while there is nothing live to show: a dark
// card with a crossed-out camera, a message that says why (no service, no
// phone, or a phone that stopped sending) with a hint of what to do, and
// three dots for the steps to a live picture (service, phone, frames): the
// ones reached green, the missing one amber, the rest grey. Drawn into an RGB
// picture, which each consumer turns into what it sends.

#include "bitmap_text.h"
#include "placeholder_pacing.h"

void DrawPlaceholderCard(PlaceholderKind kind, RgbImage& image);
