// The data section in blocks of whole lines, as work items for a pass's
// workers: each block holds its rows' text, and optionally starts with the
// rows before it (so a worker knows the heights above its first row) and
// ends with the row after it (which the next block converts).
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
    int contextRows = 0;          // each block starts with up to this many rows before it
    bool lookahead = false;       // each block ends with the row after it, where there is one
    std::vector<std::vector<char>> lastLines;  // the last rows handed out, oldest first
    std::vector<char> carry;      // lookahead: the row read but not handed out yet
    // The text read behind lastRow: a pass that raises lastRow reads on from
    // there (a pass in bands of rows).
    std::vector<char> leftover;
    bool done = false;            // the data ended, or reading failed
};

// The next block, its first row number and row count; false when the rows
// up to lastRow are handed out (a later call with lastRow raised reads on),
// the data ended, or reading failed (a read error, or a line over the
// reader's limit: `input->failed` tells).
bool ReadRowBlock(RowBlockReader& reader, WorkItem& item);
