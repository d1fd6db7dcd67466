// Cost of a consumer's take of one 150,000-byte frame (the event, the mutex,
// one copy out of the slot, freeing older slots) next to one plain copy of the
// same frame.

#include <benchmark/benchmark.h>

#include <stdlib.h>
#include <string.h>

#include <memory>
#include <vector>

#include "camera_client.h"
#include "private_block_main.h"
#include "block_writer.h"

namespace {

const uint32_t FRAME_BYTES = 150000;

std::vector<uint8_t> Frame()
{
    std::vector<uint8_t> f(FRAME_BYTES);
    for (size_t i = 0; i < f.size(); ++i)
        f[i] = (uint8_t)(i * 13);
    return f;
}

// The counted loop: a frame published, then taken (the publisher's system
// calls count too).
bool PublishAndTake(uint32_t frames)
{
    std::vector<uint8_t> source = Frame();
    std::unique_ptr<CameraFrame> frame(new CameraFrame);
    CCameraClient client;
    if (!client.Attach())
        return false;
    bool ok = true;
    for (uint32_t stamp = 1; stamp <= frames; ++stamp) {
        PublishFrame(source.data(), FRAME_BYTES, 0, stamp);
        ok = client.WaitNewest(1000, *frame) == CLIENT_FRAME && ok;
    }
    return ok;
}

void BM_ClientTake(benchmark::State& state)
{
    std::vector<uint8_t> source = Frame();
    std::unique_ptr<CameraFrame> frame(new CameraFrame);
    CCameraClient client;
    if (!client.Attach()) {
        state.SkipWithError("cannot attach");
        return;
    }
    uint32_t stamp = 0;
    uint64_t taken = 0;
    for (auto _ : state) {
        state.PauseTiming();
        PublishFrame(source.data(), FRAME_BYTES, 0, ++stamp);
        state.ResumeTiming();
        taken += client.WaitNewest(1000, *frame) == CLIENT_FRAME;
        benchmark::ClobberMemory();
    }
    if (taken != (uint64_t)state.iterations())
        state.SkipWithError("a frame was not taken");
    state.SetBytesProcessed((int64_t)state.iterations() * FRAME_BYTES);
}
BENCHMARK(BM_ClientTake);

void BM_OneCopy(benchmark::State& state)
{
    std::vector<uint8_t> source = Frame();
    std::unique_ptr<CameraFrame> frame(new CameraFrame);
    for (auto _ : state) {
        state.PauseTiming();
        state.ResumeTiming();
        memcpy(frame->data, source.data(), FRAME_BYTES);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed((int64_t)state.iterations() * FRAME_BYTES);
}
BENCHMARK(BM_OneCopy);

}  // namespace

int main(int argc, char** argv)
{
    return RunBenchmarksOnPrivateBlock(argc, argv, "publish and take", PublishAndTake);
}
