// What the converter shows and hears on its console: lines that go out
// whole, progress (a line kept up to date on a terminal, plain lines when
// asked for elsewhere), and interruptions (Ctrl-C, Ctrl-Break, closing the
// console; SIGINT, SIGTERM), which cancel every running job.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "mesh/conversion_job.h"

// Writes UTF-8 text; a Windows console gets it as wide characters, so every
// name shows whatever the console's code page.
void Print(std::FILE* stream, const std::string& text);

// A path as it is printed: UTF-8 on Windows, its own bytes on Linux.
std::string Shown(const std::filesystem::path& path);

// True when the standard error stream is a terminal (a console on Windows).
bool ErrorIsTerminal();

// From here on an interruption sets the flag the jobs poll instead of ending
// the process; a second one on Linux ends it at once.
void CatchInterruptions();
const std::atomic<bool>* InterruptFlag();
bool Interrupted();
// Every job has ended, its temporary files removed: on Windows, a console
// being closed may now end the process.
void JobsEnded();

enum class ProgressMode {
    None,
    Plain,  // "<file>: 40%" lines, every tenth
    Live,   // one line redrawn in place a few times a second
};

// The progress of the files being converted, one slot per file converted at
// once. The jobs' workers report through OnProgress: it only stores, but for
// a plain line every tenth.
class ProgressBoard {
public:
    ProgressBoard(ProgressMode mode, unsigned slots, std::size_t files, uint64_t totalBytes);
    ~ProgressBoard();
    ProgressBoard(const ProgressBoard&) = delete;
    ProgressBoard& operator=(const ProgressBoard&) = delete;

    // Slot `slot` starts a file of `bytes` shown as `name`: the context for
    // the job's hooks, or nullptr when no progress is shown.
    void* Start(unsigned slot, const std::string& name, uint64_t bytes);
    void End(unsigned slot);
    // JobHooks::progress.
    static void OnProgress(void* context, JobPhase phase, double fraction);
    // Prints whole lines (a file's result), the progress line cleared first.
    void Lines(std::FILE* stream, const std::string& text);

private:
    struct Slot {
        ProgressBoard* board = nullptr;
        std::string name;  // set before the job starts
        uint64_t bytes = 0;
        std::chrono::steady_clock::time_point start;
        std::atomic<int> percent{0};
        bool active = false;
    };
    std::string LiveText() const;
    void ClearLine();
    void DrawLoop();

    ProgressMode mode_;
    std::vector<std::unique_ptr<Slot>> slots_;
    std::size_t files_;
    uint64_t totalBytes_;
    std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
    std::mutex lock_;  // guards everything below, the slots' names and `active`, and the output
    std::condition_variable wake_;
    bool stop_ = false;
    std::size_t started_ = 0;
    uint64_t endedBytes_ = 0;
    std::size_t shown_ = 0;  // characters of the progress line on the screen
    std::thread drawer_;
};
