#pragma once
// Identity of the capture source as applications and the registry see it.

#include <windows.h>

// {5E75F4EE-128D-4972-8CD9-5B82DF38EB55}
const CLSID CLSID_OvalixCaptureFilter = {
    0x5e75f4ee, 0x128d, 0x4972, {0x8c, 0xd9, 0x5b, 0x82, 0xdf, 0x38, 0xeb, 0x55}};

const wchar_t FILTER_NAME[] = L"Ovalix filter";
const wchar_t FRIENDLY_NAME[] = L"Ovalix Camera";
const wchar_t PIN_NAME[] = L"Capture";
