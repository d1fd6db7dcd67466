// Cost of one 150,000-byte frame from the transport's buffer to its slot,
// delivered in 65,536-byte pieces, next to three plain copies of the frame
// (the copies the path makes: into reassembly, into message, into the slot).

#include <benchmark/benchmark.h>

#include <stdlib.h>
#include <string.h>

#include <mutex>
#include <vector>

#include "link_context.h"
#include "private_block_main.h"
#include "block_writer.h"
#include "stream_protocol.h"

namespace {

const uint32_t FRAME_BYTES = 150000;
const uint32_t PIECE = 65536;

std::vector<uint8_t> FrameMessage()
{
    std::vector<uint8_t> m(STREAM_HEADER_SIZE + FRAME_SUBHEADER_SIZE + FRAME_BYTES);
    uint32_t header[4] = {STREAM_MAGIC, 0, MSG_FRAME, FRAME_SUBHEADER_SIZE + FRAME_BYTES};
    memcpy(m.data(), header, sizeof(header));
    for (size_t i = STREAM_HEADER_SIZE + FRAME_SUBHEADER_SIZE; i < m.size(); ++i)
        m[i] = (uint8_t)(i * 13);
    return m;
}

// One frame through the path; true when it was published.
bool OneFrame(const std::vector<uint8_t>& message)
{
    for (size_t at = 0; at < message.size(); at += PIECE) {
        size_t piece = message.size() - at < PIECE ? message.size() - at : PIECE;
        std::lock_guard<std::mutex> lock(g_linkLock);
        FeedStream(message.data() + at, (uint32_t)piece);
    }
    // The consumer takes the frame, so the next one is not dropped.
    FrameSlot& slot = g_block->slots[g_block->currentSlot];
    bool published = slot.size == FRAME_BYTES;
    slot.size = 0;
    return published;
}

bool FramePath(uint32_t frames)
{
    std::vector<uint8_t> message = FrameMessage();
    g_link.fill = 0;
    SetLinkState(LINK_STREAMING);
    bool ok = true;
    for (uint32_t i = 0; i < frames; ++i)
        ok = OneFrame(message) && ok;
    return ok;
}

void BM_FramePath(benchmark::State& state)
{
    std::vector<uint8_t> message = FrameMessage();
    g_link.fill = 0;
    SetLinkState(LINK_STREAMING);
    uint64_t published = 0;
    for (auto _ : state)
        published += OneFrame(message);
    if (published != (uint64_t)state.iterations())
        state.SkipWithError("a frame was not published");
    state.SetBytesProcessed((int64_t)state.iterations() * FRAME_BYTES);
}
BENCHMARK(BM_FramePath);

void BM_ThreeCopies(benchmark::State& state)
{
    std::vector<uint8_t> source = FrameMessage();
    std::vector<uint8_t> a(LINK_BUFFER_SIZE), b(LINK_BUFFER_SIZE), c(LINK_BUFFER_SIZE);
    for (auto _ : state) {
        memcpy(a.data(), source.data(), FRAME_BYTES);
        benchmark::ClobberMemory();
        memcpy(b.data(), a.data(), FRAME_BYTES);
        benchmark::ClobberMemory();
        memcpy(c.data(), b.data(), FRAME_BYTES);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed((int64_t)state.iterations() * FRAME_BYTES);
}
BENCHMARK(BM_ThreeCopies);

} // namespace

int main(int argc, char** argv)
{
    return RunBenchmarksOnPrivateBlock(argc, argv, "frame path", FramePath);
}
