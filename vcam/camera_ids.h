#pragma once
// Identity of the Media Foundation camera source as the registry, the frame
// server and applications see it, and the sample attributes it adds.

#include <windows.h>

// {4D34993D-67BD-4538-9C88-5F514A70AB14}
const CLSID CLSID_OvalixMediaSource = {
    0x4d34993d, 0x67bd, 0x4538, {0x9c, 0x88, 0x5f, 0x51, 0x4a, 0x70, 0xab, 0x14}};
const wchar_t MEDIA_SOURCE_CLSID_TEXT[] = L"{4D34993D-67BD-4538-9C88-5F514A70AB14}";
const wchar_t MEDIA_SOURCE_NAME[] = L"Ovalix media source";
const wchar_t CAMERA_FRIENDLY_NAME[] = L"Ovalix Camera";

// On every sample, for diagnostics (ovalix-vcam-read, the benchmark): the
// placeholder's kind + 1, or 0 for a live frame (UINT32) ...
const GUID OVALIX_SAMPLE_PLACEHOLDER = {
    0x87622c57, 0x6868, 0x4878, {0xab, 0xde, 0xb2, 0x6b, 0x58, 0x62, 0xca, 0xa6}};
// ... a live frame's stamp from the phone (UINT32, the frame's stamp word) ...
const GUID OVALIX_SAMPLE_PHONE_STAMP = {
    0x36ed00ce, 0xc388, 0x4122, {0x85, 0x0a, 0x3f, 0x6f, 0x11, 0x89, 0x4c, 0x12}};
// ... and how long its conversion took (UINT64, 100-ns units).
const GUID OVALIX_SAMPLE_DECODE_TIME = {
    0x85b02bf7, 0xb8d9, 0x4c11, {0xa7, 0x07, 0xa5, 0x9c, 0xfd, 0xf2, 0xce, 0x39}};
