#include "jpeg_decoder.h"

#include <new>

#include "picture_copy.h"
#include "source_logic.h"

CJpegDecoder::CJpegDecoder() : scratch(nullptr) {}

CJpegDecoder::~CJpegDecoder()
{
    delete[] scratch;
}

bool CJpegDecoder::Init()
{
    if (factory)
        return true;
    scratch = new (std::nothrow) uint8_t[(size_t)SCRATCH_MAX_PIXELS * 3 + 4096];
    if (scratch == nullptr)
        return false;
    return SUCCEEDED(CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER,
                                      IID_PPV_ARGS(&factory)));
}

DecodeResult CJpegDecoder::Decode(const uint8_t* data, uint32_t size, uint8_t* sample,
                                  uint32_t width, uint32_t height, uint32_t& frameWidth,
                                  uint32_t& frameHeight)
{
    frameWidth = frameHeight = 0;
    if (!factory)
        return DECODE_BAD;
    ComPtr<IWICStream> stream;
    ComPtr<IWICBitmapDecoder> decoder;
    ComPtr<IWICBitmapFrameDecode> frame;
    ComPtr<IWICFormatConverter> converter;
    if (FAILED(factory->CreateStream(&stream)) ||
        FAILED(stream->InitializeFromMemory(const_cast<BYTE*>(data), size)) ||
        FAILED(factory->CreateDecoder(GUID_ContainerFormatJpeg, nullptr, &decoder)) ||
        FAILED(decoder->Initialize(stream.Get(), WICDecodeMetadataCacheOnDemand)) ||
        FAILED(decoder->GetFrame(0, &frame)))
        return DECODE_BAD;
    UINT w = 0, h = 0;
    if (FAILED(frame->GetSize(&w, &h)) || w == 0 || h == 0 || w > 4096 || h > 4096)
        return DECODE_BAD;
    frameWidth = w;
    frameHeight = h;
    // Colour JPEGs decode as 24-bit BGR already; others (grey) are converted.
    IWICBitmapSource* source = frame.Get();
    WICPixelFormatGUID format;
    if (FAILED(frame->GetPixelFormat(&format)) || !IsEqualGUID(format, GUID_WICPixelFormat24bppBGR)) {
        if (FAILED(factory->CreateFormatConverter(&converter)) ||
            FAILED(converter->Initialize(frame.Get(), GUID_WICPixelFormat24bppBGR,
                                         WICBitmapDitherTypeNone, nullptr, 0.0,
                                         WICBitmapPaletteTypeCustom)))
            return DECODE_BAD;
        source = converter.Get();
    }

    if (w == width && h == height) {
        // Row by row into the bottom-up sample: the decoder decodes the
        // picture once, at the first row asked for.
        uint32_t stride = DibStride(width);
        for (uint32_t y = 0; y < height; ++y) {
            WICRect line = { 0, (INT)y, (INT)width, 1 };
            if (FAILED(source->CopyPixels(&line, stride, stride,
                                          sample + (size_t)(height - 1 - y) * stride)))
                return DECODE_BAD;
        }
        return DECODE_OK;
    }
    if ((uint64_t)w * h > SCRATCH_MAX_PIXELS)
        return DECODE_TOO_LARGE;
    uint32_t srcStride = DibStride(w);
    if (FAILED(source->CopyPixels(nullptr, srcStride, srcStride * h, scratch)))
        return DECODE_BAD;
    ScaleToBottomUp(scratch, w, h, srcStride, sample, width, height, DibStride(width));
    return DECODE_SCALED;
}
