// Runs one pass of a job on all cores. Work items (blocks of whole grid lines,
// ranges of faces, rows of cell states) are taken in order by the workers,
// which format their output into chunks of their own. The chunks are written
// out in item order by one writer at a time: the worker that hands over the
// chunk due next takes the writer's role and hands what is ready to the
// pass's output, segment by segment: bytes, counts, progress, then a cancel
// poll. The job's thread is worker 0. The bytes written are the same for
// every number of workers; with one worker everything runs on the job's
// thread. The pipeline knows nothing of what it formats or where it goes: a
// pass gives it its work (item functions) and its output (an interface).
#pragma once

#include <cassert>
#include <cstddef>
#include <atomic>
#include <cstdint>
#include <memory>
#include <vector>

#include "job/job_counts.h"
#include "job/job_memory.h"

enum class SegmentTarget : uint8_t {
    Output,   // bytes of the output file
    Scratch,  // bytes of the job's scratch file, read back by a later pass
};

// A stretch of a chunk: whole cells, rows or faces. The writer takes
// it as a unit: its bytes, its counts, the progress it reaches, then a
// cancel poll.
struct OutputSegment {
    std::size_t end = 0;  // the segment's bytes end here in the chunk
    JobCounts counts;
    int64_t progress = -1;  // units of the pass done at its end (rows, faces); -1: none
    SegmentTarget target = SegmentTarget::Output;
};

// A chunk's fixed room, allocated without filling: its worker writes it once
// before its first item (see the pipeline), so its pages are taken then, in
// parallel, and not by whoever allocates the pool.
class ChunkBytes {
public:
    explicit ChunkBytes(std::size_t size) : data_(new char[size]), size_(size) {}
    char* data() { return data_.get(); }
    const char* data() const { return data_.get(); }
    std::size_t size() const { return size_; }

private:
    std::unique_ptr<char[]> data_;
    std::size_t size_;
};

// A chunk is filled by its owner, then handed over and read by the worker
// holding the writer's role, then given back: the pipeline's lock orders the
// two, so only one thread uses a chunk at a time.
struct OutputChunk {
    explicit OutputChunk(std::size_t size) : bytes(size) {}
    ChunkBytes bytes;
    std::size_t used = 0;
    std::vector<OutputSegment> segments;
    int64_t item = 0;
    bool lastOfItem = false;
    int owner = 0;  // set before the workers start
    std::atomic<bool> touched{false};  // its pages have been written once, by its owner
};

// One unit of work, filled by the pass's reader under the reader lock.
struct WorkItem {
    int64_t sequence = 0;
    std::vector<char> text;  // whole lines of the grid, or cell-state records
    int64_t firstRow = 0;    // grid row (vertex pass) or region row (faces) of its first row
    int64_t rows = 0;        // rows it holds
    int64_t firstNumber = 0; // the number of its first unit (a vertex, a face, a run's first), as the pass counts them
    int64_t count = 0;       // units it holds, for a pass that hands out runs of them
    int contextRows = 0;     // the text starts with this many rows before its first
    bool lookahead = false;  // the text ends with the row after its last
    bool lastItem = false;   // no grid text follows
};

// A pass's item of the next run of at most `perItem` of `total` units
// (vertices, faces), from `next` on, which it moves; false when none is left.
inline bool TakeRun(int64_t& next, int64_t total, int64_t perItem, WorkItem& item) {
    if (next >= total) return false;
    item.firstNumber = next;
    item.count = total - next < perItem ? total - next : perItem;
    next += item.count;
    return true;
}

struct Pipeline;

// The chunks of a job, made by its first pass and kept for the next, so that
// a pass does not allocate and touch megabytes anew. Used by one pass at a
// time; their bytes are counted in the job's memory.
struct ChunkPool {
    std::vector<std::unique_ptr<OutputChunk>> chunks;
    JobMemory* memory = nullptr;
    std::size_t expectedBytes = 0;  // about what a pass writes, set before the first; 0: not known
    explicit ChunkPool(JobMemory& jobMemory) : memory(&jobMemory) {}
    ChunkPool(const ChunkPool&) = delete;
    ChunkPool& operator=(const ChunkPool&) = delete;
    ~ChunkPool();
};

// Where a worker formats its output: the current chunk and the segment being
// gathered in it.
struct PipelineSink {
    Pipeline* pipeline = nullptr;
    int worker = 0;
    OutputChunk* chunk = nullptr;
    int64_t item = 0;
    std::size_t segmentStart = 0;
    JobCounts counts;
    int64_t progress = -1;
    bool stopped = false;  // the job stops (cancel, failure): drop the item
};

// All chunks of a job together take about this much, whatever the number of
// workers.
constexpr std::size_t kChunkBudgetBytes = std::size_t{24} << 20;

// Bytes a segment gathers before it ends at the next cell, row or face
// boundary, so the writer polls the cancel flag often.
constexpr std::size_t kSegmentBytes = std::size_t{64} << 10;

// The largest reservation: a chunk always holds at least this much, so a
// reservation fits a fresh chunk.
constexpr std::size_t kMaxReserveBytes = std::size_t{2} << 10;

// Room for `bytes` more bytes (at most kMaxReserveBytes); a full chunk is
// handed to the writer first, which may wait for a free one. Returns nullptr
// when the job stops.
char* ReserveSinkBytesInNewChunk(PipelineSink& sink, std::size_t bytes);
inline char* ReserveSinkBytes(PipelineSink& sink, std::size_t bytes) {
    assert(bytes <= kMaxReserveBytes);
    OutputChunk* chunk = sink.chunk;
    if (chunk->bytes.size() - chunk->used >= bytes) return chunk->bytes.data() + chunk->used;
    return ReserveSinkBytesInNewChunk(sink, bytes);
}
inline void CommitSinkBytes(PipelineSink& sink, char* newEnd) {
    assert(newEnd >= sink.chunk->bytes.data() + sink.chunk->used &&
           newEnd <= sink.chunk->bytes.data() + sink.chunk->bytes.size());
    sink.chunk->used = static_cast<std::size_t>(newEnd - sink.chunk->bytes.data());
}
// Ends the segment gathered so far (an empty one only when it shows progress).
void EndSinkSegment(PipelineSink& sink);
inline bool SegmentIsFull(const PipelineSink& sink) {
    return sink.chunk->used - sink.segmentStart >= kSegmentBytes;
}
// Appends bytes for the scratch file as segments of their own.
bool AppendScratchBytes(PipelineSink& sink, const char* data, std::size_t size);
// True once the job stops: workers drop their items at the next poll.
bool SinkStopped(PipelineSink& sink);

// What a pass does: its item functions.
struct PipelineWork {
    void* context = nullptr;
    // Under the reader lock: fills the next item; false when there is none.
    bool (*readItem)(void* context, WorkItem& item) = nullptr;
    // On a worker: formats the item through the sink.
    void (*processItem)(void* context, const WorkItem& item, PipelineSink& sink) = nullptr;
};

// Where a pass's segments go, in item order. Every call comes from the worker
// holding the writer's role, one at a time (with one worker, from the job's
// thread), except cancelRequested, which any worker may call.
struct PipelineOutput {
    void* context = nullptr;
    // A segment's bytes; false when they could not be written.
    bool (*write)(void* context, SegmentTarget target, const char* data, std::size_t size) = nullptr;
    void (*addCounts)(void* context, const JobCounts& counts) = nullptr;
    // `done` units of the pass are done (rows, faces).
    void (*showProgress)(void* context, int64_t done) = nullptr;
    bool (*cancelRequested)(void* context) = nullptr;
};

enum class PipelineEnd { Completed, Stopped, OutOfMemory };

// Runs the pass with `workers` workers (at least 1), with chunks from `pool`.
// Stopped when the output asked to cancel or failed to write; OutOfMemory
// when a work item (a row of some hundred million values) did not fit.
PipelineEnd RunPipeline(const PipelineWork& work, const PipelineOutput& output, ChunkPool& pool, int workers);

// The most workers a pass runs: more only add hand-overs, and the chunk
// budget holds for this many.
constexpr int kMaxWorkers = 64;

// The number of workers a job uses: `requested`, or the machine's cores when
// 0, at most kMaxWorkers.
int JobWorkerCount(int requested);
