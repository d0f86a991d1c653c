#include "job/job_pipeline.h"

#include "job/worker_threads.h"

#include <algorithm>
#include <cassert>
#include <atomic>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <new>
#include <thread>

#include "job/test_hooks.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace {

// Chunks each worker owns: one being filled, the others waiting to be
// written. A worker whose chunks all wait stalls until they are written, so
// memory stays bounded whatever the grid. Every work item ends a chunk, so
// several smaller chunks let a worker run ahead of a slower one by several
// items.
constexpr int kChunksPerWorker = 8;
constexpr std::size_t kMinChunkBytes = std::size_t{48} << 10;
// Chunks of 256 KiB write as fast as larger ones, and a job takes and touches
// far less memory up front (4 MiB with 2 workers instead of 16): a 1000 x 1000
// tile converts in two thirds of the time it took with 1 MiB chunks.
constexpr std::size_t kMaxChunkBytes = std::size_t{256} << 10;
// A pass expected to write little gets chunks down to this size: a small
// tile of a batch of thousands takes a fraction of the memory, and of the
// page faults, of a large grid.
constexpr std::size_t kSmallPassChunkBytes = std::size_t{16} << 10;
// The most workers, of 8 chunks of the least size, stay within the budget.
static_assert(kMaxWorkers * kChunksPerWorker * kMinChunkBytes <= kChunkBudgetBytes, "the chunk budget holds");
// A chunk holds the largest reservation, whatever size a test asks for.
constexpr std::size_t kLeastChunkBytes = kMaxReserveBytes;

#ifdef _WIN32
// The system's slim lock and condition variable: the toolchain's pthread
// layer makes every wait and wake-up a kernel event, which costs the
// pipeline dearly with a chunk handed over every few hundred microseconds.
class PipelineLock {
public:
    void lock() { AcquireSRWLockExclusive(&lock_); }
    void unlock() { ReleaseSRWLockExclusive(&lock_); }
    SRWLOCK* native() { return &lock_; }

private:
    SRWLOCK lock_ = SRWLOCK_INIT;
};

class PipelineCondition {
public:
    template <typename Ready>
    void wait(std::unique_lock<PipelineLock>& guard, Ready ready) {
        while (!ready()) SleepConditionVariableSRW(&condition_, guard.mutex()->native(), INFINITE, 0);
    }
    void notify_all() { WakeAllConditionVariable(&condition_); }

private:
    CONDITION_VARIABLE condition_ = CONDITION_VARIABLE_INIT;
};
#else
using PipelineLock = std::mutex;
using PipelineCondition = std::condition_variable;
#endif

}  // namespace

// Set up by the job's thread before the workers start; the fields after the
// locks are guarded as they say.
struct Pipeline {
    const PipelineWork* work = nullptr;
    const PipelineOutput* output = nullptr;
    JobMemory* memory = nullptr;
    bool onJobThread = false;  // one worker: everything runs on the job's thread
    std::size_t chunkBytes = 0;
    std::vector<std::vector<OutputChunk*>> ownChunks;  // per worker, from the job's pool

    PipelineLock readerLock;        // guards the reader's state and nextSequence
    int64_t nextSequence = 0;
    bool readerDone = false;

    PipelineLock lock;  // guards the fields below
    PipelineCondition changed;
    std::map<int64_t, std::deque<OutputChunk*>> ready;  // handed over, by item
    std::vector<std::vector<OutputChunk*>> freeChunks;  // per worker
    int64_t itemCount = -1;                             // known once the reader ran out
    int64_t writeSequence = 0;                          // the item whose chunks are written next
    bool writing = false;                               // a worker holds the writer's role

    std::atomic<bool> stop{false};  // set by any thread when the job stops; read by all
    std::atomic<bool> outOfMemory{false};  // set by a worker whose item did not fit
};

namespace {

bool CancelRequested(const Pipeline& p) { return p.output->cancelRequested(p.output->context); }

bool Stopping(const Pipeline& p) { return p.stop.load(std::memory_order_relaxed) || CancelRequested(p); }

// The writer (the job's thread with one worker, else the worker holding the
// writer's role): hands a chunk's segments to the output in order, the
// output's bytes of consecutive segments together, adding counts, showing
// progress and polling after each. False when the job stops.
bool WriteChunk(Pipeline& p, const OutputChunk& chunk) {
    const PipelineOutput& out = *p.output;
    const char* bytes = chunk.bytes.data();
    std::size_t outputFrom = 0;  // start of the output's bytes not yet written
    std::size_t begin = 0;
    for (const OutputSegment& s : chunk.segments) {
        if (s.target == SegmentTarget::Scratch) {
            if (!out.write(out.context, SegmentTarget::Output, bytes + outputFrom, begin - outputFrom) ||
                !out.write(out.context, SegmentTarget::Scratch, bytes + begin, s.end - begin))
                return false;
            outputFrom = s.end;
        }
        begin = s.end;
        out.addCounts(out.context, s.counts);
        if (s.progress >= 0) out.showProgress(out.context, s.progress);
        if (CancelRequested(p)) {
            out.write(out.context, SegmentTarget::Output, bytes + outputFrom, begin - outputFrom);
            return false;
        }
    }
    return out.write(out.context, SegmentTarget::Output, bytes + outputFrom, begin - outputFrom);
}

void StopAll(Pipeline& p) {
    std::lock_guard<PipelineLock> guard(p.lock);
    p.stop = true;
    p.changed.notify_all();
}

OutputChunk* AcquireChunk(Pipeline& p, int worker) {
    std::unique_lock<PipelineLock> guard(p.lock);
    p.changed.wait(guard, [&] { return !p.freeChunks[worker].empty() || p.stop.load(); });
    if (p.freeChunks[worker].empty()) return nullptr;
    OutputChunk* chunk = p.freeChunks[worker].back();
    p.freeChunks[worker].pop_back();
    return chunk;
}

void ClearChunk(OutputChunk& chunk) {
    chunk.used = 0;
    chunk.segments.clear();
    chunk.lastOfItem = false;
}

// Holding the writer's role, with the lock held: writes the handed-over
// chunks in item order for as long as the next one is there, unlocked while
// writing, and gives each back to its worker. The chunk missing next is
// written by its worker when it hands it over (or by the role's holder, who
// looks again after every chunk), so nothing handed over waits unwritten.
void WriteReadyChunks(Pipeline& p, std::unique_lock<PipelineLock>& guard) {
    while (!p.stop.load()) {
        const auto queue = p.ready.find(p.writeSequence);
        if (queue == p.ready.end() || queue->second.empty()) return;
        OutputChunk* chunk = queue->second.front();
        queue->second.pop_front();
        guard.unlock();
        const bool go = WriteChunk(p, *chunk);
        guard.lock();
        if (chunk->lastOfItem) {
            p.ready.erase(p.writeSequence);
            p.writeSequence += 1;
        }
        ClearChunk(*chunk);
        p.freeChunks[chunk->owner].push_back(chunk);
        if (!go) p.stop = true;
        p.changed.notify_all();
    }
}

// Hands a filled chunk over for writing in item order. The worker that hands
// over the chunk due next takes the writer's role and writes what is ready:
// the workers share the writing, so no thread of its own waits for them and
// every core formats or writes. With one worker the chunk is written at once.
// False when the job stops.
bool HandOver(Pipeline& p, OutputChunk* chunk) {
    if (p.onJobThread) {
        const bool go = WriteChunk(p, *chunk);
        ClearChunk(*chunk);
        if (!go) p.stop = true;
        return go;
    }
    std::unique_lock<PipelineLock> guard(p.lock);
    p.ready[chunk->item].push_back(chunk);
    if (!p.writing) {
        p.writing = true;
        WriteReadyChunks(p, guard);
        p.writing = false;
    }
    return !p.stop.load();
}

bool TakeItem(Pipeline& p, WorkItem& item) {
    std::lock_guard<PipelineLock> guard(p.readerLock);
    if (p.readerDone || Stopping(p)) return false;
    item.sequence = p.nextSequence;
    if (!p.work->readItem(p.work->context, item)) {
        p.readerDone = true;
        std::lock_guard<PipelineLock> inner(p.lock);
        p.itemCount = p.nextSequence;
        p.changed.notify_all();
        return false;
    }
    ++p.nextSequence;
    return true;
}

void RunItems(Pipeline& p, int worker, WorkItem& item) {
    for (;;) {
        if (!TakeItem(p, item)) {
            // The reader ran out, or the job stops: the other workers and
            // the writer must not wait for this worker's items any more.
            if (Stopping(p)) StopAll(p);
            break;
        }
        PipelineSink sink;
        sink.pipeline = &p;
        sink.worker = worker;
        sink.item = item.sequence;
        sink.chunk = p.onJobThread ? p.ownChunks[0][0] : AcquireChunk(p, worker);
        if (sink.chunk == nullptr) break;
        sink.chunk->item = item.sequence;
        p.work->processItem(p.work->context, item, sink);
        if (sink.stopped) {
            StopAll(p);
            break;
        }
        EndSinkSegment(sink);
        sink.chunk->lastOfItem = true;
        if (!HandOver(p, sink.chunk)) break;
    }
}

// Writes the worker's chunks once, in parallel with the other workers, so
// that the job takes all its memory at the start: its footprint is the same
// for a short grid as for a long one, and no page faults interrupt the work.
void TouchOwnChunks(Pipeline& p, int worker) {
    for (OutputChunk* chunk : p.ownChunks[static_cast<std::size_t>(worker)]) {
        assert(chunk->owner == worker);
        if (chunk->touched.load(std::memory_order_relaxed)) continue;
        std::memset(chunk->bytes.data(), 0, chunk->bytes.size());
        chunk->touched.store(true, std::memory_order_relaxed);
    }
}

void RunWorker(Pipeline& p, int worker) {
    TouchOwnChunks(p, worker);
    WorkItem item;
    try {
        RunItems(p, worker, item);
    } catch (const std::bad_alloc&) {
        p.outOfMemory = true;
        StopAll(p);
    }
    p.memory->Note(-static_cast<int64_t>(item.text.capacity()));
}

// The size of each worker's chunks: the budget shared out, at most
// kMaxChunkBytes; for a pass expected to write less than all the chunks
// hold, about its bytes shared out.
std::size_t ChunkBytesFor(std::size_t expectedBytes, int workers) {
    const std::size_t chunks = kChunksPerWorker * static_cast<std::size_t>(workers);
    const std::size_t shared = std::clamp(kChunkBudgetBytes / chunks, kMinChunkBytes, kMaxChunkBytes);
    if (expectedBytes == 0 || expectedBytes / chunks >= shared) return shared;
    return std::max(expectedBytes / chunks, kSmallPassChunkBytes);
}

// `count` chunks of `size` bytes from the pool, made where it has fewer; the
// pool drops chunks of another size (a test's).
void TakeChunks(ChunkPool& pool, std::size_t size, std::size_t count) {
    if (!pool.chunks.empty() && pool.chunks.front()->bytes.size() != size) {
        for (const auto& chunk : pool.chunks) pool.memory->Note(-static_cast<int64_t>(chunk->bytes.size()));
        pool.chunks.clear();
    }
    while (pool.chunks.size() < count) {
        pool.chunks.push_back(std::make_unique<OutputChunk>(size));
        pool.memory->Note(static_cast<int64_t>(size));
    }
}

}  // namespace

char* ReserveSinkBytesInNewChunk(PipelineSink& sink, std::size_t bytes) {
    OutputChunk* chunk = sink.chunk;
    if (chunk->bytes.size() - chunk->used >= bytes) return chunk->bytes.data() + chunk->used;
    Pipeline& p = *sink.pipeline;
    EndSinkSegment(sink);
    if (!HandOver(p, chunk)) {
        sink.stopped = true;
        return nullptr;
    }
    sink.chunk = p.onJobThread ? chunk : AcquireChunk(p, sink.worker);
    if (sink.chunk == nullptr) {
        sink.stopped = true;
        return nullptr;
    }
    sink.chunk->item = sink.item;
    sink.segmentStart = 0;
    return sink.chunk->bytes.data();
}

void EndSinkSegment(PipelineSink& sink) {
    OutputChunk* chunk = sink.chunk;
    if (chunk->used == sink.segmentStart && sink.progress < 0 && sink.counts.IsZero()) return;
    OutputSegment segment;
    segment.end = chunk->used;
    segment.counts = sink.counts;
    segment.progress = sink.progress;
    chunk->segments.push_back(segment);
    sink.segmentStart = chunk->used;
    sink.counts = JobCounts{};
    sink.progress = -1;
}

bool AppendScratchBytes(PipelineSink& sink, const char* data, std::size_t size) {
    EndSinkSegment(sink);
    while (size > 0) {
        OutputChunk* chunk = sink.chunk;
        std::size_t room = chunk->bytes.size() - chunk->used;
        if (room == 0) {
            if (ReserveSinkBytesInNewChunk(sink, 1) == nullptr) return false;
            chunk = sink.chunk;
            room = chunk->bytes.size() - chunk->used;
        }
        const std::size_t part = std::min(room, size);
        std::memcpy(chunk->bytes.data() + chunk->used, data, part);
        chunk->used += part;
        OutputSegment segment;
        segment.end = chunk->used;
        segment.target = SegmentTarget::Scratch;
        chunk->segments.push_back(segment);
        sink.segmentStart = chunk->used;
        data += part;
        size -= part;
    }
    return true;
}

bool SinkStopped(PipelineSink& sink) {
    if (Stopping(*sink.pipeline)) sink.stopped = true;
    return sink.stopped;
}

ChunkPool::~ChunkPool() {
    for (const auto& chunk : chunks) memory->Note(-static_cast<int64_t>(chunk->bytes.size()));
}

PipelineEnd RunPipeline(const PipelineWork& work, const PipelineOutput& output, ChunkPool& pool, int workers) {
    Pipeline p;
    p.work = &work;
    p.output = &output;
    p.memory = pool.memory;
    workers = std::clamp(workers, 1, kMaxWorkers);
    p.onJobThread = workers == 1;
    p.chunkBytes = ChunkBytesFor(pool.expectedBytes, workers);
    const std::size_t testChunkBytes = CurrentTestHooks().chunkBytes;
    if (testChunkBytes != 0) p.chunkBytes = std::max(testChunkBytes, kLeastChunkBytes);
    p.freeChunks.resize(static_cast<std::size_t>(workers));
    p.ownChunks.resize(static_cast<std::size_t>(workers));
    const int chunksPerWorker = p.onJobThread ? 1 : kChunksPerWorker;
    const std::size_t chunkCount = static_cast<std::size_t>(workers * chunksPerWorker);
    TakeChunks(pool, p.chunkBytes, chunkCount);
    for (std::size_t i = 0; i < chunkCount; ++i) {
        OutputChunk* chunk = pool.chunks[i].get();
        ClearChunk(*chunk);
        chunk->owner = static_cast<int>(i) / chunksPerWorker;
        p.ownChunks[static_cast<std::size_t>(chunk->owner)].push_back(chunk);
        p.freeChunks[static_cast<std::size_t>(chunk->owner)].push_back(chunk);
    }

    PipelineEnd end;
    if (p.onJobThread) {
        RunWorker(p, 0);
        end = p.stop.load() || !p.readerDone ? PipelineEnd::Stopped : PipelineEnd::Completed;
    } else {
        // The job's thread is worker 0. A worker whose thread cannot be
        // started takes no item, so the pass runs on the workers it has.
        RunOnWorkers(workers, [&p](int w) { RunWorker(p, w); });
        const bool completed = !p.stop.load() && p.readerDone && p.writeSequence == p.itemCount;
        end = completed ? PipelineEnd::Completed : PipelineEnd::Stopped;
    }
    if (CancelRequested(p)) end = PipelineEnd::Stopped;
    if (p.outOfMemory) end = PipelineEnd::OutOfMemory;
    return end;
}

int JobWorkerCount(int requested) {
    if (requested > 0) return std::min(requested, kMaxWorkers);
    const unsigned cores = std::thread::hardware_concurrency();
    return cores == 0 ? 1 : static_cast<int>(std::min<unsigned>(cores, kMaxWorkers));
}
