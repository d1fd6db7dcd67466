// What one stand-in frame (1280 x 720, quality 80, moving) costs to become an
// I420 sample: the consumers' converter against libjpeg-turbo's own decode
// into YUV planes, the least any consumer of raw video can spend on it. The
// "core_pct_at_30fps" counter is that cost as a share of one core at 30
// frames a second. Never fails on timing.
#include <benchmark/benchmark.h>

#include <turbojpeg.h>

#include <chrono>
#include <vector>

#include "picture_convert.h"
#include "test_pattern.h"

namespace {

const uint32_t WIDTH = 1280, HEIGHT = 720, FRAMES = 30;
const int QUALITY = 80;

struct StandInFrames {
    StandInFrames()
    {
        TestPattern pattern;
        pattern.Resize(WIDTH, HEIGHT);
        std::vector<uint8_t> out(WIDTH * HEIGHT * 3);
        for (uint32_t i = 0; i < FRAMES; ++i) {
            uint32_t n = pattern.Encode(i, QUALITY, out.data(), (uint32_t)out.size());
            frames.emplace_back(out.begin(), out.begin() + n);
        }
    }
    std::vector<std::vector<uint8_t>> frames;
};

const StandInFrames& Frames()
{
    static StandInFrames f;
    return f;
}

// The time per frame as a share of one core at 30 frames a second.
void Report(benchmark::State& state, std::chrono::steady_clock::time_point began)
{
    double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count();
    state.counters["core_pct_at_30fps"] = seconds / (double)state.iterations() * 30 * 100;
    state.counters["frame_bytes"] = (double)Frames().frames[0].size();
}

void LibraryDecode(benchmark::State& state)
{
    const StandInFrames& f = Frames();
    std::vector<uint8_t> sample(PictureBytes(PICTURE_I420, WIDTH, HEIGHT));
    unsigned char* planes[3] = {sample.data(), sample.data() + WIDTH * HEIGHT,
                                sample.data() + WIDTH * HEIGHT * 5 / 4};
    int strides[3] = {(int)WIDTH, (int)WIDTH / 2, (int)WIDTH / 2};
    tjhandle h = tjInitDecompress();
    uint32_t i = 0;
    auto began = std::chrono::steady_clock::now();
    for (auto _ : state) {
        const std::vector<uint8_t>& jpeg = f.frames[i++ % FRAMES];
        if (tjDecompressToYUVPlanes(h, jpeg.data(), (unsigned long)jpeg.size(), planes, (int)WIDTH,
                                    strides, (int)HEIGHT, TJFLAG_FASTDCT) != 0)
            state.SkipWithError("the library refused a stand-in frame");
    }
    Report(state, began);
    tjDestroy(h);
}

void ConverterI420(benchmark::State& state)
{
    const StandInFrames& f = Frames();
    PictureTarget target = {PICTURE_I420, WIDTH, HEIGHT, WIDTH, HEIGHT, false, true};
    CPictureConverter converter;
    std::vector<uint8_t> sample(PictureBytes(PICTURE_I420, WIDTH, HEIGHT));
    if (!converter.Start(target))
        state.SkipWithError("no memory for the converter");
    uint32_t i = 0, written = 0;
    auto began = std::chrono::steady_clock::now();
    for (auto _ : state) {
        const std::vector<uint8_t>& jpeg = f.frames[i++ % FRAMES];
        if (converter.FromJpeg(jpeg.data(), (uint32_t)jpeg.size(), sample.data(),
                               (uint32_t)sample.size(), written) != CONVERT_OK)
            state.SkipWithError("the converter refused a stand-in frame");
    }
    Report(state, began);
}

}  // namespace

BENCHMARK(LibraryDecode)->Unit(benchmark::kMillisecond);
BENCHMARK(ConverterI420)->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
