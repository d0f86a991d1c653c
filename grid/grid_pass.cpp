#include "grid/grid_pass.h"

namespace {

GridPass& PassOf(void* context) { return *static_cast<GridPass*>(context); }

bool WritePassBytes(void* context, SegmentTarget target, const char* data, std::size_t size) {
    GridPass& pass = PassOf(context);
    if (target == SegmentTarget::Output) {
        if (pass.out == nullptr) return size == 0;
        if (pass.frameOutput != nullptr) pass.frameOutput(pass.frameContext, *pass.out, data, size);
        else WriteOutputBlock(*pass.out, data, size);
        return !pass.out->failed;
    }
    return AppendScratch(pass.scratch, data, size);
}

void AddPassCounts(void* context, const JobCounts& counts) { PassOf(context).counts += counts; }

bool PassCancelRequested(void* context) { return CancelRequested(PassOf(context)); }

// The vertex pass's units are grid rows: it has worked through `row`.
void ShowRowProgress(void* context, int64_t row) {
    GridPass& pass = PassOf(context);
    AdvanceProgress(pass.progress, row - pass.region.yMin + 1);
}

void ShowFaceProgress(void* context, int64_t done) { AdvanceProgress(PassOf(context).progress, done); }

void ShowNoProgress(void*, int64_t) {}

PipelineEnd RunPassWork(GridPass& pass, const PipelineWork& work, void (*showProgress)(void*, int64_t)) {
    PipelineOutput output;
    output.context = &pass;
    output.write = WritePassBytes;
    output.addCounts = AddPassCounts;
    output.showProgress = showProgress;
    output.cancelRequested = PassCancelRequested;
    const PipelineEnd end = RunPipeline(work, output, pass.chunks, JobWorkerCount(pass.workers));
    if (end == PipelineEnd::OutOfMemory) pass.outOfMemory = true;
    return end;
}

// The rows after the last one read, up to the last the pass was to read: a
// read failure (an I/O error or an over-long line) fails the job at the
// next row; a file that simply ends leaves those region cells missing.
void EndOfData(GridPass& pass, int64_t rowsRead, int64_t yMax) {
    if (rowsRead >= yMax) return;
    if (pass.input.failed) {
        pass.failedRow = rowsRead + 1;
        return;
    }
    pass.counts.missing += PromisedCells(pass.header, pass.region, rowsRead + 1, yMax, 1);
    ShowRowProgress(&pass, yMax);
}

}  // namespace

RowBlockReader RegionRowReader(GridPass& pass, int64_t lastRow, int contextRows, bool lookahead) {
    RowBlockReader reader;
    reader.input = &pass.input;
    reader.memory = &pass.memory;
    reader.lastRow = lastRow;  // reading stops with the region's last row
    reader.contextRows = contextRows;
    reader.lookahead = lookahead;
    return reader;
}

PipelineEnd RunRowPass(GridPass& pass, const PipelineWork& work, const RowBlockReader& reader, int64_t textBytes) {
    pass.memory.Note(textBytes);
    const PipelineEnd end = RunPassWork(pass, work, ShowRowProgress);
    pass.memory.Note(-textBytes);
    if (end == PipelineEnd::Completed) EndOfData(pass, reader.rowsRead, reader.lastRow);
    return end;
}

PipelineEnd RunFacePass(GridPass& pass, const PipelineWork& work, int64_t total) {
    StartProgressPass(pass.progress, kProgressHalf, total);
    const PipelineEnd end = RunPassWork(pass, work, ShowFaceProgress);
    if (end == PipelineEnd::Completed) AdvanceProgress(pass.progress, total);
    return end;
}

PipelineEnd RunQuietPass(GridPass& pass, const PipelineWork& work) { return RunPassWork(pass, work, ShowNoProgress); }
