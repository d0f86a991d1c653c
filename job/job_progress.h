// The progress bar of a job: it runs once from 0 to 100 over the job's two
// passes, the first pass filling the first half, the second the other half,
// and it only moves forward. At most 50 positions are sent a pass.
#pragma once

#include <algorithm>
#include <cstdint>

constexpr int kProgressHalf = 50;

struct JobProgress {
    // Sends a new position (0 to 100).
    void* context = nullptr;
    void (*setPosition)(void* context, int position) = nullptr;
    // Written by the job's thread between passes, and during a pass by the
    // worker holding the pipeline's writer role (one at a time).
    int base = 0;        // position at the start of this pass (0 or 50)
    int position = 0;    // last position sent
    int64_t total = 0;   // units of work in this pass (rows, faces)
    int64_t next = 0;    // units done at which the position next moves
};

// Sends the position for `done` of the pass's units when it has moved on.
inline void UpdateProgress(JobProgress& progress, int64_t done) {
    const int64_t total = progress.total;
    const int64_t clamped = std::min(std::max(done, int64_t{0}), total);
    const int position =
        progress.base + (total > 0 ? static_cast<int>(clamped * kProgressHalf / total) : kProgressHalf);
    if (position > progress.position) {
        progress.position = position;
        if (progress.setPosition != nullptr) progress.setPosition(progress.context, position);
    }
    // The first count of units that gives the next position.
    const int64_t step = position + 1 - progress.base;
    progress.next = total > 0 ? (step * total + kProgressHalf - 1) / kProgressHalf : 0;
}

inline void StartProgressPass(JobProgress& progress, int base, int64_t total) {
    progress.base = base;
    progress.total = std::max(total, int64_t{0});
    progress.next = 0;
    UpdateProgress(progress, 0);
}

inline void AdvanceProgress(JobProgress& progress, int64_t done) {
    if (done >= progress.next) UpdateProgress(progress, done);
}

// True when `done` of a pass's `total` units moves the bar. Workers end their
// segments there, so a cancel seen at that step stops the pass right there.
inline bool ProgressStepsAt(int64_t done, int64_t total) {
    return done >= 1 && done <= total && done * kProgressHalf / total != (done - 1) * kProgressHalf / total;
}

// The first count of units after `done` at which the bar moves (past `total`
// when it moves no more): a loop over many small units compares with it
// instead of dividing for each.
inline int64_t NextProgressStep(int64_t done, int64_t total) {
    if (total <= 0 || done >= total) return total + 1;
    const int64_t step = std::max<int64_t>(done, 0) * kProgressHalf / total + 1;  // the next position
    return (step * total + kProgressHalf - 1) / kProgressHalf;
}
