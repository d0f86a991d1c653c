// A job's passes over a grid's data section, on the job floor: the record a
// job keeps for them, running a pass's work on the pipeline, the shared row
// loop and the cells the file owed. Meshes and pictures build on it.
#pragma once

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstdio>
#include <string_view>

#include "grid/float_scan.h"
#include "grid/grid_reader.h"
#include "grid/grid_types.h"
#include "grid/row_blocks.h"
#include "job/job_counts.h"
#include "job/job_memory.h"
#include "job/job_pipeline.h"
#include "job/job_progress.h"
#include "job/output_file.h"
#include "job/scratch_store.h"

// About the bytes a pass writes for a region: a line of some 35 bytes a
// cell. Only sizes the pipeline's chunks, so a small tile does not take
// (and touch) the memory of a large grid.
constexpr int64_t kPassBytesPerCell = 35;
inline std::size_t ExpectedPassBytes(const RegionWindow& region) {
    const int64_t columns = std::max<int64_t>(int64_t{region.xMax} - region.xMin + 1, 0);
    const int64_t rows = std::max<int64_t>(int64_t{region.yMax} - region.yMin + 1, 0);
    return static_cast<std::size_t>(std::min<int64_t>(columns * rows, int64_t{1} << 40) * kPassBytesPerCell);
}

// Made by the job's thread.
struct GridPass {
    // `output`: null for a pass that writes nothing (it keeps what it reads).
    GridPass(GridStream& gridInput, OutputFile* output, const GridHeader& gridHeader, const RegionWindow& jobRegion,
             int jobWorkers)
        : input(gridInput), out(output), header(gridHeader), region(jobRegion), workers(jobWorkers) {
        scratch.beside = out;
        scratch.memory = &memory;
        chunks.expectedBytes = ExpectedPassBytes(jobRegion);
    }
    GridPass(const GridPass&) = delete;
    GridPass& operator=(const GridPass&) = delete;

    // Set before the passes, then only read.
    GridStream& input;  // read under the pipeline's reader lock
    OutputFile* const out;  // written like `counts`; null: nothing is written
    const GridHeader& header;
    const RegionWindow region;
    const int workers;  // 0: one per core
    const std::atomic<bool>* cancelRequested = nullptr;  // set by another thread (the window's)
    // Where a pass's output bytes go: straight into `out` (null), or through
    // a writer that frames them (a PNG's image data chunks). Set between passes.
    void (*frameOutput)(void* context, OutputFile& out, const char* bytes, std::size_t size) = nullptr;
    void* frameContext = nullptr;

    // Written during a pass by the worker holding the pipeline's writer role
    // (one at a time, ordered by the pipeline's lock), between passes by the
    // job's thread.
    JobCounts counts;
    JobProgress progress;

    // Written by the job's thread.
    int64_t failedRow = 0;     // the row at which reading failed, 0 when it did not
    bool outOfMemory = false;  // a work item did not fit in memory

    JobMemory memory;          // the job's own buffers
    ChunkPool chunks{memory};  // the pipeline's output chunks, for all passes
    // Bytes a pass keeps for a later one (its Scratch segments): written by
    // the writer role, read back under a later pass's reader lock.
    ScratchStore scratch;
};

inline bool CancelRequested(const GridPass& pass) {
    return pass.cancelRequested != nullptr && pass.cancelRequested->load(std::memory_order_relaxed);
}

// Runs a pass's work over the rows `reader` hands out on the workers, with
// `textBytes` of its tables counted in the job's memory. The bar moves with
// the rows from the progress's base; the end of the data is counted when it
// completes.
PipelineEnd RunRowPass(GridPass& pass, const PipelineWork& work, const RowBlockReader& reader, int64_t textBytes);
// Runs a pass's work on the workers; the bar fills the second half over the
// pass's `total` units (faces, stored rows).
PipelineEnd RunFacePass(GridPass& pass, const PipelineWork& work, int64_t total);

// Runs a pass's work on the workers without moving the bar (what it does is
// a small part of the job).
PipelineEnd RunQuietPass(GridPass& pass, const PipelineWork& work);

// A reader of the grid's rows up to `lastRow` for a row pass, each block
// starting with `contextRows` rows before it (0 to 2), and ending with the
// row after it when `lookahead` is set.
RowBlockReader RegionRowReader(GridPass& pass, int64_t lastRow, int contextRows = 0, bool lookahead = false);

// The rows of a row pass's block, from `p` (behind its context rows, if any;
// a lookahead row after them is not one of them):
// rows before the region are only counted; each region row is handed to
// convertRow(row, line), after which the segment ends where the bar moves or
// when it is full, and the stop is polled. False when the job stops.
template <typename ConvertRow>
bool ConvertBlockRows(const GridPass& pass, const WorkItem& item, const char* p, PipelineSink& sink,
                      ConvertRow convertRow) {
    const RegionWindow& region = pass.region;
    const int64_t regionRows = int64_t{region.yMax} - region.yMin + 1;
    const char* end = item.text.data() + item.text.size();
    int64_t row = item.firstRow - 1;
    const int64_t lastRow = item.firstRow + item.rows - 1;
    while (p < end) {
        const std::string_view line = NextGridLine(p, end);
        if (IsBlankLine(line)) continue;
        if (++row > lastRow) break;
        if (row < region.yMin) continue;
        if (!convertRow(row, line)) return false;
        sink.progress = row;
        if (ProgressStepsAt(row - region.yMin + 1, regionRows) || SegmentIsFull(sink)) EndSinkSegment(sink);
        if (SinkStopped(sink)) return false;
    }
    return true;
}

// The values of grid columns [first, last] of a row's line (`first` at
// least 1), handed to take(column, value) in column order, up to the first
// token that is not a number. Returns the last column the line supplied
// (first - 1 or less when none of them; at most `last`), or -1 when take
// returned false (the job stops). The one loop every pass reads its rows'
// values with.
template <typename Take>
inline int64_t ForEachRowValue(std::string_view line, int64_t first, int64_t last, Take take) {
    const char* p = line.data();
    const char* end = p + line.size();
    int64_t column = 1;
    for (; column < first; ++column) {
        const FloatScan scan = ScanGridCell(p, end);
        if (!scan.ok) return column - 1;
        p = scan.next;
    }
    for (; column <= last; ++column) {
        const FloatScan scan = ScanGridCell(p, end);
        if (!scan.ok) break;
        p = scan.next;
        if (!take(column, scan.value)) return -1;
    }
    return column - 1;
}

// Cells of rows [firstRow, lastRow] from column firstColumn on that lie in
// both the region and the header's grid: what the file owed there.
inline int64_t PromisedCells(const GridHeader& header, const RegionWindow& region, int64_t firstRow,
                             int64_t lastRow, int64_t firstColumn) {
    const int64_t top = std::max({firstRow, int64_t{region.yMin}, int64_t{1}});
    const int64_t bottom = std::min({lastRow, int64_t{region.yMax}, int64_t{header.nrows}});
    const int64_t west = std::max({firstColumn, int64_t{region.xMin}, int64_t{1}});
    const int64_t east = std::min(int64_t{region.xMax}, int64_t{header.ncols});
    if (top > bottom || west > east) return 0;
    return (bottom - top + 1) * (east - west + 1);
}
