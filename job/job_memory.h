// The bytes of one job's own buffers (work items, chunks, text tables, rows),
// so that tests and the bench can check that memory does not grow with the
// grid. One per job: jobs running side by side count apart.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

struct JobMemory {
    // Changed by every worker of the job, and by the job's thread.
    std::atomic<int64_t> bytes{0};
    std::atomic<int64_t> peak{0};

    void Note(int64_t delta) {
        const int64_t now = bytes.fetch_add(delta, std::memory_order_relaxed) + delta;
        int64_t highest = peak.load(std::memory_order_relaxed);
        while (now > highest && !peak.compare_exchange_weak(highest, now, std::memory_order_relaxed)) {
        }
    }
};

// Notes a vector's change of capacity since `before`.
template <typename Vector>
void NoteCapacity(JobMemory& memory, const Vector& v, std::size_t before) {
    memory.Note(static_cast<int64_t>(v.capacity()) - static_cast<int64_t>(before));
}
