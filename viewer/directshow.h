// The platform's media-graph headers in the order they need: dshow.h without
// its safe-string header (it breaks the C string functions), Direct3D before
// the VMR-9 declarations.
#pragma once
#define NO_DSHOW_STRSAFE
#include <windows.h>
#include <dshow.h>
#include <d3d9.h>
#include <vmr9.h>
