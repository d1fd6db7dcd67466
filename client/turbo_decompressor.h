#pragma once
// A libjpeg-turbo decompressor handle for the consumers that decode or probe
// phone frames. Header-only, so the consumer library itself needs no JPEG
// library; only the consumers that include this link libjpeg-turbo.

#include <turbojpeg.h>

class CTurboDecompressor {
public:
    CTurboDecompressor() : handle(tjInitDecompress()) {}
    ~CTurboDecompressor()
    {
        if (handle != nullptr)
            tjDestroy(handle);
    }
    tjhandle Get() const { return handle; }
    // libjpeg-turbo leaves a handle mid-header after a failed read, and every
    // later read on it fails too, so one damaged frame would end the live
    // picture: after a failure, start from a fresh handle.
    void Reset()
    {
        if (handle != nullptr)
            tjDestroy(handle);
        handle = tjInitDecompress();
    }

private:
    CTurboDecompressor(const CTurboDecompressor&);
    CTurboDecompressor& operator=(const CTurboDecompressor&);
    tjhandle handle;
};
