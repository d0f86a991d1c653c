// Test hooks: sizes that make every row cross the edges of read blocks, work
// items and chunks, and a disk that fills up. Process-wide and set only by
// tests, between jobs; the program never changes them, so a zero (or -1)
// leaves every size and limit the program's own.
#pragma once

#include <cstddef>
#include <cstdint>

struct TestHooks {
    std::size_t readBlockBytes = 0;  // blocks read from a grid file (0: 1 MiB)
    std::size_t rowBlockBytes = 0;   // grid text per work item (0: 128 KiB)
    std::size_t chunkBytes = 0;      // output chunk size (0: from the chunk budget)
    std::size_t gatherBytes = 0;     // an output file's gathering buffer (0: 4 MiB)
    int64_t writableBytes = -1;      // an output file's disk is full after this many bytes (-1: never)
    bool scratchFails = false;       // a job's scratch file cannot be created
};

void SetTestHooks(const TestHooks& hooks);
const TestHooks& CurrentTestHooks();
