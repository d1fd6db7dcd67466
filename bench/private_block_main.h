#pragma once
// The main of a benchmark that needs the service's block: it opens one in a
// private /dev/shm (no stored table), then runs the registered benchmarks and
// counts the system calls per frame of its loop (syscall_count.h). Started
// with COUNT_FRAMES_FLAG N, it only runs the loop N times.

#include <benchmark/benchmark.h>

#include <stdio.h>
#include <stdlib.h>

#include <string.h>

#include "private_shm.h"
#include "block_writer.h"
#include "syscall_count.h"

inline int RunBenchmarksOnPrivateBlock(int argc, char** argv, const char* loopName,
                                       FrameLoop loop)
{
    setenv("STATE_DIRECTORY", "/nonexistent/ovalix-bench", 1);
    if (!UsePrivateSharedMemory() || !OpenSharedBlock()) {
        fprintf(stderr, "cannot open a private shared block (needs root)\n");
        return 1;
    }
    if (argc == 3 && strcmp(argv[1], COUNT_FRAMES_FLAG) == 0)
        return loop((uint32_t)strtoul(argv[2], nullptr, 10)) ? 0 : 1;
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    PrintSystemCallsPerFrame(loopName);
    return 0;
}
