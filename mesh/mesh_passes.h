// What the mesh methods share inside a job: the job's record of its passes,
// the methods' entry points, running a pass on the pipeline, the shared row
// loop and the cells the file owed.
#pragma once

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstdio>
#include <string_view>

#include "grid/grid_reader.h"
#include "grid/row_blocks.h"
#include "job/job_counts.h"
#include "job/job_memory.h"
#include "job/job_pipeline.h"
#include "job/job_progress.h"
#include "job/output_file.h"
#include "mesh/conversion_job.h"
#include "mesh/mesh_geometry.h"

// A mesh job's record, made by the job's thread.
struct MeshPass {
    MeshPass(GridStream& gridInput, OutputFile& output, const JobRequest& jobRequest)
        : input(gridInput), out(output), request(jobRequest) {}
    MeshPass(const MeshPass&) = delete;
    MeshPass& operator=(const MeshPass&) = delete;
    ~MeshPass() {
        if (scratch != nullptr) std::fclose(scratch);
    }

    // Set before the passes, then only read.
    GridStream& input;  // read under the pipeline's reader lock
    OutputFile& out;    // written like `counts`
    const JobRequest& request;
    const std::atomic<bool>* cancelRequested = nullptr;  // set by the window's thread
    MeshGeometry geometry;

    // Written during a pass by the worker holding the pipeline's writer role
    // (one at a time, ordered by the pipeline's lock), between passes by the
    // job's thread.
    JobCounts counts;
    JobProgress progress;
    std::FILE* scratch = nullptr;  // a method's scratch file (OpenPassScratch), closed with the record
    bool scratchFailed = false;    // it could not be created or written

    // Written by the job's thread.
    int64_t failedRow = 0;     // the row at which reading failed, 0 when it did not
    bool outOfMemory = false;  // a work item did not fit in memory

    JobMemory memory;          // the job's own buffers
    ChunkPool chunks{memory};  // the pipeline's output chunks, for all passes
};

inline bool CancelRequested(const MeshPass& pass) {
    return pass.cancelRequested != nullptr && pass.cancelRequested->load(std::memory_order_relaxed);
}

// A mesh method: the file name's suffix and the two passes. Each pass sets
// up its work and runs it with RunRowPass or RunFacePass; the job writes the
// header, the count comments and names, commits and sums up.
struct MeshMethodPasses {
    const wchar_t* fileSuffix;
    void (*vertexPass)(MeshPass& pass);
    void (*facePass)(MeshPass& pass);
};
extern const MeshMethodPasses kInterpolatedPasses;
extern const MeshMethodPasses kFloatingPlanesPasses;

// Runs a vertex pass's work (the rows `reader` hands out) on the workers,
// with `textBytes` of the method's tables counted in the job's memory; the
// end of the data is counted when it completes.
PipelineEnd RunRowPass(MeshPass& pass, const PipelineWork& work, const RowBlockReader& reader, int64_t textBytes);
// Runs a face pass's work on the workers; the bar fills the second half over
// the pass's `total` units (rows, faces).
PipelineEnd RunFacePass(MeshPass& pass, const PipelineWork& work, int64_t total);

// A reader of the region's rows for a vertex pass.
RowBlockReader RegionRowReader(MeshPass& pass, int64_t lastRow, bool keepContext);

// Creates the job's scratch file beside the output; false (and
// scratchFailed) when it cannot be created.
bool OpenPassScratch(MeshPass& pass);

// The rows of a vertex pass's block, from `p` (behind its context row, if
// any): rows before the region are only counted; each region row is handed to
// convertRow(row, line), after which the segment ends where the bar moves or
// when it is full, and the stop is polled. False when the job stops.
template <typename ConvertRow>
bool ConvertBlockRows(const MeshPass& pass, const WorkItem& item, const char* p, PipelineSink& sink,
                      ConvertRow convertRow) {
    const RegionWindow& region = pass.request.region;
    const int64_t regionRows = int64_t{region.yMax} - region.yMin + 1;
    const char* end = item.text.data() + item.text.size();
    int64_t row = item.firstRow - 1;
    while (p < end) {
        const std::string_view line = NextGridLine(p, end);
        if (IsBlankLine(line)) continue;
        if (++row < region.yMin) continue;
        if (!convertRow(row, line)) return false;
        sink.progress = row;
        if (ProgressStepsAt(row - region.yMin + 1, regionRows) || SegmentIsFull(sink)) EndSinkSegment(sink);
        if (SinkStopped(sink)) return false;
    }
    return true;
}

// Cells of rows [firstRow, lastRow] from column firstColumn on that lie in
// both the region and the header's grid: what the file owed there.
inline int64_t PromisedCells(const JobRequest& request, int64_t firstRow, int64_t lastRow, int64_t firstColumn) {
    const RegionWindow& region = request.region;
    const int64_t top = std::max({firstRow, int64_t{region.yMin}, int64_t{1}});
    const int64_t bottom = std::min({lastRow, int64_t{region.yMax}, int64_t{request.header.nrows}});
    const int64_t west = std::max({firstColumn, int64_t{region.xMin}, int64_t{1}});
    const int64_t east = std::min(int64_t{region.xMax}, int64_t{request.header.ncols});
    if (top > bottom || west > east) return 0;
    return (bottom - top + 1) * (east - west + 1);
}
