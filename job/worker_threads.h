// Work shared out over threads: worker 0 is the calling thread, the others
// threads of their own. A thread that cannot be started is done without (the
// work goes to the workers there are). Whatever a worker throws, every thread
// is joined before the first exception is thrown again on the calling thread:
// an allocation that fails in one worker fails the job, never the program.
#pragma once

#include <exception>
#include <mutex>
#include <thread>
#include <vector>

// Runs work(w) for w in [0, workers) at once; returns how many ran.
template <typename Work>
int RunOnWorkers(int workers, Work work) {
    std::mutex lock;
    std::exception_ptr failure;
    const auto guarded = [&](int w) {
        try {
            work(w);
        } catch (...) {
            const std::lock_guard<std::mutex> guard(lock);
            if (!failure) failure = std::current_exception();
        }
    };
    std::vector<std::thread> threads;
    try {
        threads.reserve(static_cast<std::size_t>(workers > 1 ? workers - 1 : 0));
        for (int w = 1; w < workers; ++w) threads.emplace_back(guarded, w);
    } catch (const std::exception&) {
    }
    guarded(0);
    for (std::thread& t : threads) t.join();
    if (failure) std::rethrow_exception(failure);
    return static_cast<int>(threads.size()) + 1;
}
