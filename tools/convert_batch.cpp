#include "tools/convert_batch.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <system_error>

#include "job/output_file.h"
#include "job/worker_threads.h"
#include "tools/convert_console.h"

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <windows.h>
#endif

namespace {

namespace fs = std::filesystem;

bool ReadAll(std::FILE* file, std::string& bytes) {
    char block[65536];
    for (std::size_t got; (got = std::fread(block, 1, sizeof block, file)) > 0;) bytes.append(block, got);
    return !std::ferror(file);
}

// `count` bytes from `offset`; fewer at the end.
// Writes and flushes a whole line; false with errno set (EIO when the
// system gave no reason) when it is not all written.
bool WriteLine(std::FILE* file, const std::string& line) {
    errno = 0;
    if (std::fwrite(line.data(), 1, line.size(), file) == line.size() && std::fflush(file) == 0) return true;
    if (errno == 0) errno = EIO;
    return false;
}

std::string Field(std::string text) {
    for (char& c : text)
        if (c == '\t' || c == '\n' || c == '\r') c = '?';
    return text;
}

}  // namespace

bool ReadGridList(const ArgText& source, std::vector<ArgText>& paths, std::string& problem) {
    const bool standardInput = source.size() == 1 && source[0] == '-';
    const std::string name = standardInput ? "standard input" : Ascii(source);
    std::string bytes;
    errno = 0;
    if (standardInput) {
#ifdef _WIN32
        _setmode(_fileno(stdin), _O_BINARY);
#endif
        if (!ReadAll(stdin, bytes)) return problem = "--from: standard input could not be read", false;
    } else {
        std::FILE* file = OpenExistingFile(fs::path(source), false);
        if (file == nullptr)
            return problem = "--from: " + name + " cannot be opened: " + std::generic_category().message(errno), false;
        const bool read = ReadAll(file, bytes);
        std::fclose(file);
        if (!read) return problem = "--from: " + name + " could not be read", false;
    }
    if (bytes.compare(0, 3, "\xEF\xBB\xBF") == 0) bytes.erase(0, 3);
    std::size_t number = 0;
    for (std::size_t start = 0; start < bytes.size();) {
        std::size_t end = bytes.find('\n', start);
        if (end == std::string::npos) end = bytes.size();
        std::string line = bytes.substr(start, end - start);
        start = end + 1;
        ++number;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.find('\0') != std::string::npos)
            return problem = "--from: line " + std::to_string(number) + " of " + name + " holds a NUL byte", false;
        if (line.find_first_not_of(" \t") == std::string::npos) continue;
#ifdef _WIN32
        const int size = static_cast<int>(line.size());
        const int wide = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, line.data(), size, nullptr, 0);
        if (wide <= 0)
            return problem = "--from: line " + std::to_string(number) + " of " + name + " is not UTF-8", false;
        std::wstring path(static_cast<std::size_t>(wide), L'\0');
        MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, line.data(), size, path.data(), wide);
        paths.push_back(std::move(path));
#else
        paths.push_back(std::move(line));
#endif
    }
    return true;
}

TileSetRun FindTileSet(const std::vector<fs::path>& grids) {
    TileSetRun set;
    set.grids = grids;
    set.headers.resize(grids.size());
    set.readable.assign(grids.size(), false);
    std::vector<const GridHeader*> headers(grids.size(), nullptr);
    bool any = false;
    double north = 0.0;
    for (std::size_t i = 0; i < grids.size(); ++i) {
        std::string problem;
        if (!ReadGridHeaderOnly(grids[i], set.headers[i], problem)) continue;  // its conversion says why
        const GridHeader& h = set.headers[i];
        set.readable[i] = true;
        headers[i] = &h;
        const double top = h.cornerY + h.nrows * h.cellHeight;
        set.west = any ? std::min(set.west, h.cornerX) : h.cornerX;
        set.south = any ? std::min(set.south, h.cornerY) : h.cornerY;
        north = any ? std::max(north, top) : top;
        any = true;
    }
    set.middle = (set.south + north) / 2.0;
    set.neighbours = FindTileNeighbours(headers);
    return set;
}

void FindSetHeights(TileSetRun& set, int workers) {
    std::atomic<std::size_t> next{0};
    std::mutex lock;
    RunOnWorkers(workers, [&](int) {
        for (std::size_t i = next++; i < set.grids.size(); i = next++) {
            bool any = false;
            float lowest = 0.0f, highest = 0.0f;
            if (!set.readable[i] || !ReadHeightExtremes(set.grids[i], any, lowest, highest) || !any) continue;
            std::lock_guard<std::mutex> hold(lock);
            set.lowest = set.heightsAny ? std::min(set.lowest, lowest) : lowest;
            set.highest = set.heightsAny ? std::max(set.highest, highest) : highest;
            set.heightsAny = true;
        }
    });
}

std::vector<TileNeighbour> TileSetRun::NeighboursOf(std::size_t index) const {
    std::vector<TileNeighbour> found;
    for (const std::size_t j : neighbours[index]) found.push_back({grids[j], headers[j]});
    return found;
}

RunLog::~RunLog() {
    if (file_ != nullptr) std::fclose(file_);
}

bool RunLog::Open(const fs::path& path, std::string& problem) {
    name_ = Shown(path);
    errno = 0;
    file_ = OpenExistingFile(path, true);
    if (file_ == nullptr) {
        problem = "--log: " + name_ + " cannot be opened: " + std::generic_category().message(errno);
        return false;
    }
    static const std::string kHeader = "path\toutcome\tvertices\ttriangles\tquads\tnodata\tmissing\tseconds\tdetail\n";
    std::fseek(file_, 0, SEEK_END);
    if (std::ftell(file_) == 0 && !WriteLine(file_, kHeader)) {
        problem = "--log: " + name_ + " cannot be written: " + std::generic_category().message(errno);
        std::fclose(file_);
        file_ = nullptr;
        return false;
    }
    return true;
}

void RunLog::Append(const LogEntry& e) {
    std::string line = Field(e.path) + "\t" + e.outcome + "\t";
    const auto count = [&](bool applies, int64_t n) { line += (applies ? std::to_string(n) : "") + "\t"; };
    count(e.counted && e.mesh, e.counts.vertices);
    count(e.counted && e.mesh, 2 * e.counts.quads + e.counts.triangles);
    count(e.counted && e.mesh, e.counts.quads);
    count(e.counted, e.counts.nodata);
    count(e.counted, e.counts.missing);
    char seconds[32];
    std::snprintf(seconds, sizeof seconds, "%.2f", e.seconds);
    line += std::string(seconds) + "\t" + Field(e.detail) + "\n";
    std::lock_guard<std::mutex> hold(lock_);
    if (writeError_ == 0 && !WriteLine(file_, line)) writeError_ = errno;
    if (writeError_ != 0) ++lost_;
}

bool RunLog::Close(std::string& problem) {
    errno = 0;
    const bool closed = std::fclose(file_) == 0;
    const int closeError = errno != 0 ? errno : EIO;
    file_ = nullptr;
    if (writeError_ != 0) {
        problem = "--log: " + name_ + " could not be written: " + std::generic_category().message(writeError_) +
                  "; the lines of " + std::to_string(lost_) + (lost_ == 1 ? " file are" : " files are") +
                  " missing from it";
        return false;
    }
    if (!closed) {
        problem = "--log: " + name_ + " could not be closed: " + std::generic_category().message(closeError) +
                  "; its last lines may be missing";
        return false;
    }
    return true;
}
