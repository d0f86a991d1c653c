#include "tools/convert_console.h"

#include <algorithm>
#include <filesystem>
#include <system_error>

#include "mesh/conversion_job.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <signal.h>
#include <unistd.h>
#endif

namespace {

std::atomic<bool> g_interrupted{false};
static_assert(std::atomic<bool>::is_always_lock_free, "set by a signal handler");

#ifdef _WIN32
HANDLE g_jobsEnded = nullptr;

// Runs on a thread of its own. Closing the console ends the process as soon
// as this returns (or after some seconds): the jobs get that long to remove
// their temporary files.
BOOL WINAPI OnConsoleEvent(DWORD event) {
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT && event != CTRL_CLOSE_EVENT) return FALSE;
    g_interrupted.store(true);
    if (event == CTRL_CLOSE_EVENT && g_jobsEnded != nullptr) WaitForSingleObject(g_jobsEnded, 4500);
    return TRUE;
}
#else
void OnSignal(int) { g_interrupted.store(true); }
#endif

// "m:ss", or "h:mm:ss" from an hour on.
std::string Duration(double seconds) {
    const long long total = static_cast<long long>(seconds + 0.5);
    char text[32];
    if (total >= 3600) std::snprintf(text, sizeof text, "%lld:%02lld:%02lld", total / 3600, total / 60 % 60, total % 60);
    else std::snprintf(text, sizeof text, "%lld:%02lld", total / 60, total % 60);
    return text;
}

// ", 85.2 MB/s, ETA 0:05" for `done` of `all` bytes in `seconds`.
std::string RateAndEta(double done, double all, double seconds) {
    if (done <= 0 || seconds < 0.2) return "";
    const double rate = done / seconds;
    char text[64];
    std::snprintf(text, sizeof text, ", %.1f MB/s, ETA %s", rate / 1e6,
                  Duration(std::max(0.0, all - done) / rate).c_str());
    return text;
}

// At most `most` characters of a UTF-8 name, its end kept.
std::string Shortened(const std::string& name, std::size_t most) {
    std::size_t characters = 0;
    for (std::size_t i = name.size(); i-- > 0;) {
        if ((static_cast<unsigned char>(name[i]) & 0xC0) == 0x80) continue;
        if (++characters == most) return i == 0 ? name : "..." + name.substr(i);
    }
    return name;
}

}  // namespace

void Print(std::FILE* stream, const std::string& text) {
#ifdef _WIN32
    HANDLE handle = GetStdHandle(stream == stderr ? STD_ERROR_HANDLE : STD_OUTPUT_HANDLE);
    DWORD mode = 0;
    if (GetConsoleMode(handle, &mode)) {
        const std::wstring wide = std::filesystem::u8path(text).native();
        DWORD written = 0;
        WriteConsoleW(handle, wide.data(), static_cast<DWORD>(wide.size()), &written, nullptr);
        return;
    }
#endif
    std::fwrite(text.data(), 1, text.size(), stream);
    std::fflush(stream);
}

std::string Shown(const std::filesystem::path& path) {
#ifdef _WIN32
    return path.u8string();
#else
    return path.native();
#endif
}

bool ErrorIsTerminal() {
#ifdef _WIN32
    DWORD mode = 0;
    return GetConsoleMode(GetStdHandle(STD_ERROR_HANDLE), &mode) != 0;
#else
    return isatty(STDERR_FILENO) == 1;
#endif
}

void CatchInterruptions() {
#ifdef _WIN32
    g_jobsEnded = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
#else
    struct sigaction action {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART | SA_RESETHAND;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
#endif
}

const std::atomic<bool>* InterruptFlag() { return &g_interrupted; }
bool Interrupted() { return g_interrupted.load(); }

void JobsEnded() {
#ifdef _WIN32
    if (g_jobsEnded != nullptr) SetEvent(g_jobsEnded);
#endif
}

ProgressBoard::ProgressBoard(ProgressMode mode, unsigned slots, std::size_t files, uint64_t totalBytes)
    : mode_(mode), files_(files), totalBytes_(totalBytes) {
    for (unsigned i = 0; i < slots; ++i) {
        slots_.push_back(std::make_unique<Slot>());
        slots_.back()->board = this;
    }
    if (mode_ != ProgressMode::Live) return;
    try {
        drawer_ = std::thread([this] { DrawLoop(); });
    } catch (const std::system_error&) {
        mode_ = ProgressMode::None;  // no thread to draw: no progress
    }
}

ProgressBoard::~ProgressBoard() {
    {
        std::lock_guard<std::mutex> lock(lock_);
        stop_ = true;
    }
    wake_.notify_all();
    if (drawer_.joinable()) drawer_.join();
    std::lock_guard<std::mutex> lock(lock_);
    ClearLine();
}

void* ProgressBoard::Start(unsigned slot, const std::string& name, uint64_t bytes) {
    if (mode_ == ProgressMode::None || slot >= slots_.size()) return nullptr;
    Slot& s = *slots_[slot];
    std::lock_guard<std::mutex> lock(lock_);
    s.name = name;
    s.bytes = bytes;
    s.start = std::chrono::steady_clock::now();
    s.percent.store(0);
    s.active = true;
    ++started_;
    return &s;
}

void ProgressBoard::End(unsigned slot) {
    if (mode_ == ProgressMode::None || slot >= slots_.size()) return;
    std::lock_guard<std::mutex> lock(lock_);
    slots_[slot]->active = false;
    endedBytes_ += slots_[slot]->bytes;
}

void ProgressBoard::OnProgress(void* context, JobPhase phase, double fraction) {
    if (phase != JobPhase::Working) return;
    Slot& slot = *static_cast<Slot*>(context);
    // One job calls at a time; the bar only moves forward (its reset at the
    // job's end is no news).
    const int position = std::min(static_cast<int>(fraction * 100.0 + 0.5), 100);
    const int before = slot.percent.load(std::memory_order_relaxed);
    if (position <= before) return;
    slot.percent.store(position, std::memory_order_relaxed);
    if (slot.board->mode_ == ProgressMode::Plain && position / 10 > before / 10)
        slot.board->Lines(stderr, slot.name + ": " + std::to_string(position / 10 * 10) + "%\n");
}

void ProgressBoard::Lines(std::FILE* stream, const std::string& text) {
    std::lock_guard<std::mutex> lock(lock_);
    ClearLine();
    Print(stream, text);
}

// One file at a time: that file, its share and speed; several: all files.
std::string ProgressBoard::LiveText() const {
    const auto now = std::chrono::steady_clock::now();
    std::size_t running = 0;
    double doneBytes = static_cast<double>(endedBytes_);
    const Slot* last = nullptr;
    for (const auto& slot : slots_) {
        if (!slot->active) continue;
        ++running;
        last = slot.get();
        doneBytes += static_cast<double>(slot->bytes) * slot->percent.load(std::memory_order_relaxed) / 100.0;
    }
    if (running == 0) return "";
    const std::string files = files_ > 1 ? " (" + std::to_string(started_) + " of " + std::to_string(files_) + ")" : "";
    if (slots_.size() == 1) {
        const int percent = last->percent.load(std::memory_order_relaxed);
        const std::chrono::duration<double> seconds = now - last->start;
        return Shortened(last->name, 28) + files + ": " + std::to_string(percent) + "%" +
               RateAndEta(last->bytes * percent / 100.0, static_cast<double>(last->bytes), seconds.count());
    }
    const std::chrono::duration<double> seconds = now - start_;
    const int percent = totalBytes_ > 0 ? static_cast<int>(doneBytes * 100 / static_cast<double>(totalBytes_)) : 0;
    return std::to_string(started_ - running) + " of " + std::to_string(files_) + " files done, " +
           std::to_string(running) + " converting: " + std::to_string(percent) + "%" +
           RateAndEta(doneBytes, static_cast<double>(totalBytes_), seconds.count());
}

void ProgressBoard::ClearLine() {
    if (shown_ == 0) return;
    Print(stderr, "\r" + std::string(shown_, ' ') + "\r");
    shown_ = 0;
}

void ProgressBoard::DrawLoop() {
    std::unique_lock<std::mutex> lock(lock_);
    while (!stop_) {
        wake_.wait_for(lock, std::chrono::milliseconds(250));
        if (stop_) break;
        const std::string text = LiveText();
        if (text.empty()) continue;
        std::string line = "\r" + text;
        if (text.size() < shown_) line.append(shown_ - text.size(), ' ');
        Print(stderr, line);
        shown_ = std::max(shown_, text.size());
    }
}
