#include "picture_file.h"

#include <windows.h>
#include <wincodec.h>
#include <wrl/client.h>

#include <stdio.h>
#include <string.h>

using Microsoft::WRL::ComPtr;

namespace {

uint32_t Stride(uint32_t width)
{
    return (width * 3 + 3) & ~3u;
}

bool SaveBmp(const char* path, const uint8_t* pixels, uint32_t width, uint32_t height)
{
    uint32_t image = Stride(width) * height;
    BITMAPFILEHEADER file;
    BITMAPINFOHEADER info;
    memset(&file, 0, sizeof file);
    memset(&info, 0, sizeof info);
    file.bfType = 0x4D42;
    file.bfOffBits = sizeof file + sizeof info;
    file.bfSize = file.bfOffBits + image;
    info.biSize = sizeof info;
    info.biWidth = (LONG)width;
    info.biHeight = (LONG)height;
    info.biPlanes = 1;
    info.biBitCount = 24;
    info.biCompression = BI_RGB;
    info.biSizeImage = image;
    FILE* f = fopen(path, "wb");
    if (f == nullptr)
        return false;
    bool ok = fwrite(&file, sizeof file, 1, f) == 1 && fwrite(&info, sizeof info, 1, f) == 1 &&
              fwrite(pixels, 1, image, f) == image;
    return fclose(f) == 0 && ok;
}

bool SavePng(const char* path, const uint8_t* pixels, uint32_t width, uint32_t height)
{
    wchar_t wide[MAX_PATH];
    if (MultiByteToWideChar(CP_ACP, 0, path, -1, wide, MAX_PATH) == 0)
        return false;
    ComPtr<IWICImagingFactory> factory;
    ComPtr<IWICStream> stream;
    ComPtr<IWICBitmapEncoder> encoder;
    ComPtr<IWICBitmapFrameEncode> frame;
    if (FAILED(CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER,
                                IID_PPV_ARGS(&factory))) ||
        FAILED(factory->CreateStream(&stream)) ||
        FAILED(stream->InitializeFromFilename(wide, GENERIC_WRITE)) ||
        FAILED(factory->CreateEncoder(GUID_ContainerFormatPng, nullptr, &encoder)) ||
        FAILED(encoder->Initialize(stream.Get(), WICBitmapEncoderNoCache)) ||
        FAILED(encoder->CreateNewFrame(&frame, nullptr)) || FAILED(frame->Initialize(nullptr)) ||
        FAILED(frame->SetSize(width, height)))
        return false;
    WICPixelFormatGUID format = GUID_WICPixelFormat24bppBGR;
    if (FAILED(frame->SetPixelFormat(&format)) || !IsEqualGUID(format, GUID_WICPixelFormat24bppBGR))
        return false;
    // The sample is bottom-up; PNG rows go top-down.
    uint32_t stride = Stride(width);
    for (uint32_t y = 0; y < height; ++y) {
        const uint8_t* row = pixels + (size_t)(height - 1 - y) * stride;
        if (FAILED(frame->WritePixels(1, stride, stride, const_cast<BYTE*>(row))))
            return false;
    }
    return SUCCEEDED(frame->Commit()) && SUCCEEDED(encoder->Commit());
}

}  // namespace

bool SavePicture(const char* path, const uint8_t* pixels, uint32_t width, uint32_t height)
{
    size_t n = strlen(path);
    if (n > 4 && _stricmp(path + n - 4, ".png") == 0)
        return SavePng(path, pixels, width, height);
    return SaveBmp(path, pixels, width, height);
}
