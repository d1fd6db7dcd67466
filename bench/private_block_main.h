#pragma once
// The main of a benchmark that needs the service's block: it opens one in a
// private /dev/shm (no stored table), then runs the registered benchmarks.

#include <benchmark/benchmark.h>

#include <stdio.h>
#include <stdlib.h>

#include "private_shm.h"
#include "block_writer.h"

inline int RunBenchmarksOnPrivateBlock(int argc, char** argv)
{
    setenv("STATE_DIRECTORY", "/nonexistent/ovalix-bench", 1);
    if (!UsePrivateSharedMemory() || !OpenSharedBlock()) {
        fprintf(stderr, "cannot open a private shared block (needs root)\n");
        return 1;
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
