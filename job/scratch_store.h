// A job's scratch store: bytes a pass writes for a later pass to read back in
// order (Interpolated's cell states). They stay in memory up to a budget and
// spill to a scratch file beside the output beyond it, so a small region
// costs no file at all and a large one no more memory than the budget.
#pragma once

#include <cstddef>
#include <cstdio>
#include <vector>

#include "job/byte_buffer.h"
#include "job/job_memory.h"
#include "job/output_file.h"

// Bytes held in memory before the store spills to its file.
constexpr std::size_t kScratchMemoryBytes = std::size_t{4} << 20;

// Written by the worker holding the pipeline's writer role (one at a time),
// read back by the reader of a later pass (under its lock).
struct ScratchStore {
    const OutputFile* beside = nullptr;  // the file is made beside its temporary file
    JobMemory* memory = nullptr;         // the job's, for the bytes held
    std::vector<char> held;
    std::FILE* file = nullptr;  // the bytes beyond `held`, once it is full
    ByteBuffer fileBuffer;  // the file's stdio buffer, closed with it
    std::size_t readAt = 0;     // reading back: the next byte of `held`
    bool failed = false;        // the file could not be created, written or read
    ScratchStore() = default;
    ScratchStore(const ScratchStore&) = delete;
    ScratchStore& operator=(const ScratchStore&) = delete;
    ~ScratchStore();
};

// Appends bytes; false (and `failed`) when they could not be kept.
bool AppendScratch(ScratchStore& store, const char* data, std::size_t size);
// Turns the store to reading from its first byte; false when it failed.
bool RewindScratch(ScratchStore& store);
// Reads exactly `size` bytes; false at the end of the bytes or on failure.
bool ReadScratch(ScratchStore& store, char* to, std::size_t size);
