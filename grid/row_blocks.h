// The data section in blocks of whole lines, as work items for a pass's
// workers: each block holds its rows' text, and optionally starts with the
// row before it, so a worker knows the heights above its first row.
#pragma once

#include <cstdint>
#include <vector>

#include "grid/grid_reader.h"
#include "job/job_pipeline.h"

// Used under the pipeline's reader lock only.
struct RowBlockReader {
    GridStream* input = nullptr;
    JobMemory* memory = nullptr;  // the job's, for the items' text
    int64_t rowsRead = 0;         // rows (non-blank lines) handed out so far
    int64_t lastRow = 0;          // the pass reads rows up to this one
    bool keepContext = false;     // each block starts with the row before it
    std::vector<char> lastLine;
    bool done = false;
};

// The next block, its first row number and row count; false when the rows
// up to lastRow are handed out, the data ended, or reading failed (a read
// error, or a line over the reader's limit: `input->failed` tells).
bool ReadRowBlock(RowBlockReader& reader, WorkItem& item);
