// dunmoor-convert: converts grid files from the command line with the same
// conversion job as the window, one file per worker on all cores.
//
//   dunmoor-convert GRID.asc|PATTERN... [--method interpolated|floating]
//                   [--region XMIN YMIN XMAX YMAX] [--units U]
//                   [--timestamp "YYYY-MM-DD, HH:MM"] [--outdir DIR]
//                   [--jobs N] [--workers N] [--progress]
//
// Each OBJ is named as the window names it and written beside its grid file
// (or into DIR, made when missing), byte for byte the file the window writes with the same
// settings. A pattern ("tiles/*.asc", "dem_??.asc") names the files of its
// folder that match its last part; the converter expands it itself, as the
// Windows shell does not. One line is printed per file, then a total.
//
// Exit status: 0 every file converted; 3 converted, but some grid held fewer
// values than its header promised; 1 some file failed; 2 bad arguments.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cwctype>
#include <filesystem>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "grid/grid_reader.h"
#include "grid/path_parts.h"
#include "grid/region_estimates.h"
#include "mesh/conversion_job.h"

#ifdef _WIN32
#include <windows.h>
// Arguments arrive as they are typed: the runtime does not expand wildcards,
// the converter does (so it does the same under every runtime).
extern "C" {
int _dowildcard = 0;
}
#endif

namespace {

namespace fs = std::filesystem;

constexpr int kExitConverted = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;
constexpr int kExitMissingCells = 3;

// An argument as the system hands it over: wide text on Windows, the bytes of
// the name on Linux (never re-encoded, so any file name keeps its bytes).
using ArgText = fs::path::string_type;

struct Options {
    std::vector<ArgText> grids;  // file names and patterns, as given
    MeshMethod method = Interpolated;
    bool wholeGrid = true;
    RegionWindow region;
    float unitMeters = 1.0f;
    std::string timestamp;
    fs::path outdir;
    unsigned jobs = 0;  // 0: one worker per core
    bool progress = false;
    int32_t workers = 0;  // threads formatting each file's job; 0: the cores shared among the jobs
};

// Text as UTF-8 for printing; a Linux path is printed as its own bytes.
std::string Utf8(const std::wstring& text) { return WidePath(text).u8string(); }
#ifdef _WIN32
std::string Shown(const fs::path& path) { return path.u8string(); }
#else
std::string Shown(const fs::path& path) { return path.native(); }
#endif

// Writes UTF-8 text; a Windows console gets it as wide characters, so every
// name shows whatever the console's code page.
void Print(std::FILE* stream, const std::string& text) {
#ifdef _WIN32
    HANDLE handle = GetStdHandle(stream == stderr ? STD_ERROR_HANDLE : STD_OUTPUT_HANDLE);
    DWORD mode = 0;
    if (GetConsoleMode(handle, &mode)) {
        const std::wstring wide = fs::u8path(text).native();
        DWORD written = 0;
        WriteConsoleW(handle, wide.data(), static_cast<DWORD>(wide.size()), &written, nullptr);
        return;
    }
#endif
    std::fwrite(text.data(), 1, text.size(), stream);
    std::fflush(stream);
}

int Usage(const std::string& problem) {
    Print(stderr, "dunmoor-convert: " + problem +
                      "\nusage: dunmoor-convert GRID.asc|PATTERN... [--method interpolated|floating]\n"
                      "       [--region XMIN YMIN XMAX YMAX] [--units U]\n"
                      "       [--timestamp \"YYYY-MM-DD, HH:MM\"] [--outdir DIR] [--jobs N] [--workers N]\n"
                      "       [--progress]\n");
    return kExitUsage;
}

// An option's text as plain characters (anything beyond ASCII becomes '?').
std::string Ascii(const ArgText& arg) {
    std::string text;
    for (auto c : arg) text.push_back(static_cast<uint32_t>(c) < 0x80 ? static_cast<char>(c) : '?');
    return text;
}

bool ParseInt(const std::string& text, int32_t& value) {
    char* end = nullptr;
    const long long parsed = std::strtoll(text.c_str(), &end, 10);
    if (text.empty() || *end != '\0' || parsed < INT32_MIN || parsed > INT32_MAX) return false;
    value = static_cast<int32_t>(parsed);
    return true;
}

// The units exactly as the window reads its units field (a decimal comma is
// a point; nothing may follow the number), and usable as the window demands.
bool ParseUnits(const std::string& text, float& unitMeters) {
    const std::optional<float> units = UnitsFromText(std::wstring(text.begin(), text.end()));
    if (!units || !UnitsAreUsable(*units)) return false;
    unitMeters = *units;
    return true;
}

bool ParseOptions(const std::vector<ArgText>& args, Options& o, std::string& problem) {
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string arg = Ascii(args[i]);
        const std::size_t left = args.size() - i - 1;
        if (arg == "--method" && left >= 1) {
            const std::string m = Ascii(args[++i]);
            if (m == "interpolated") o.method = Interpolated;
            else if (m == "floating") o.method = FloatingPlanes;
            else return problem = "unknown method " + m, false;
        } else if (arg == "--region" && left >= 4) {
            if (!ParseInt(Ascii(args[i + 1]), o.region.xMin) || !ParseInt(Ascii(args[i + 2]), o.region.yMin) ||
                !ParseInt(Ascii(args[i + 3]), o.region.xMax) || !ParseInt(Ascii(args[i + 4]), o.region.yMax))
                return problem = "region limits must be integers", false;
            o.wholeGrid = false;
            i += 4;
        } else if (arg == "--units" && left >= 1) {
            const std::string units = Ascii(args[++i]);
            if (!ParseUnits(units, o.unitMeters))
                return problem = "units must be a positive number of meters, not \"" + units + "\"", false;
        } else if (arg == "--timestamp" && left >= 1) {
            o.timestamp = Ascii(args[++i]);
        } else if (arg == "--outdir" && left >= 1) {
            o.outdir = fs::path(args[++i]);
        } else if (arg == "--jobs" && left >= 1) {
            int32_t jobs = 0;
            if (!ParseInt(Ascii(args[++i]), jobs) || jobs < 1) return problem = "--jobs needs a count of 1 or more", false;
            o.jobs = static_cast<unsigned>(jobs);
        } else if (arg == "--workers" && left >= 1) {
            if (!ParseInt(Ascii(args[++i]), o.workers) || o.workers < 1)
                return problem = "--workers needs a count of 1 or more", false;
        } else if (arg == "--progress") {
            o.progress = true;
        } else if (!arg.empty() && arg[0] != '-') {
            o.grids.push_back(args[i]);
        } else {
            return problem = "unexpected argument " + arg, false;
        }
    }
    if (o.grids.empty()) return problem = "no grid file given", false;
    return true;
}

// `*` any run of characters, `?` one character; letters in any case on
// Windows, where file names are compared that way.
bool MatchesPattern(const ArgText& name, std::size_t n, const ArgText& pattern, std::size_t p) {
    for (; p < pattern.size(); ++p, ++n) {
        if (pattern[p] == '*') {
            for (std::size_t rest = n; rest <= name.size(); ++rest)
                if (MatchesPattern(name, rest, pattern, p + 1)) return true;
            return false;
        }
        if (n == name.size()) return false;
#ifdef _WIN32
        if (pattern[p] != '?' && towlower(pattern[p]) != towlower(name[n])) return false;
#else
        if (pattern[p] != '?' && pattern[p] != name[n]) return false;
#endif
    }
    return n == name.size();
}

bool IsPattern(const ArgText& arg) {
    return arg.find('*') != ArgText::npos || arg.find('?') != ArgText::npos;
}

// The files a pattern names: those of its folder whose names match its last
// part, sorted. A name that is an existing file is taken as it is.
std::vector<fs::path> ExpandPattern(const ArgText& arg) {
    const fs::path given(arg);
    std::error_code error;
    if (!IsPattern(arg) || fs::exists(given, error)) return {given};
    const fs::path folder = given.parent_path();
    const ArgText pattern = given.filename().native();
    std::vector<fs::path> matches;
    for (fs::directory_iterator it(folder.empty() ? fs::path(".") : folder, error), end; !error && it != end;
         it.increment(error)) {
        if (!it->is_directory(error) && MatchesPattern(it->path().filename().native(), 0, pattern, 0))
            matches.push_back(folder / it->path().filename());
    }
    std::sort(matches.begin(), matches.end());
    return matches;
}

struct FileResult {
    fs::path grid;
    bool converted = false;
    bool missingCells = false;
    std::string line;  // what is printed for the file, ending with a line feed
};

void PrintProgress(void*, unsigned message, uint64_t wParam, int64_t lParam) {
    std::fprintf(stderr, "progress %u %llu %lld\n", message, static_cast<unsigned long long>(wParam),
                 static_cast<long long>(lParam));
}

// The summary's message on one line.
std::string OneLine(const std::wstring& text) {
    std::string line = Utf8(text);
    std::replace(line.begin(), line.end(), '\n', ' ');
    std::string joined;
    for (char c : line)
        if (!(c == ' ' && !joined.empty() && joined.back() == ' ')) joined.push_back(c);
    return joined;
}

FileResult ConvertFile(const fs::path& grid, const Options& options) {
    FileResult result;
    result.grid = grid;
    GridStream input;
    GridHeader header;
    if (!ReadGridHeader(grid, input, header)) {
        result.line = Shown(grid) + ": Not proper ESRI ARC/INFO ASCII GRID file...\n";
        return result;
    }
    JobRequest request;
    request.method = options.method;
    request.header = header;
    request.region = options.wholeGrid ? RegionWindow{1, 1, header.ncols, header.nrows} : options.region;
    request.unitMeters = options.unitMeters;
    request.timestamp = options.timestamp;
    request.workers = options.workers;
    std::wstring ext;
    SplitGridPath(PathToWide(grid), request.inputStem, ext);
    request.outputDir = options.outdir.empty() ? grid.parent_path() : options.outdir;

    JobHooks hooks;
    if (options.progress) hooks.progress = PrintProgress;
    const JobSummary s = RunConversionJob(request, input, hooks);
    if (s.outcome != JobOutcome::Finished) {
        result.line = Shown(grid) + ": " + OneLine(FormatJobSummary(s).text) + "\n";
        return result;
    }
    result.converted = true;
    char counts[200];
    std::snprintf(counts, sizeof counts, ": vertices: %lld, triangles: %lld, quads: %lld, no data: %lld, %.2f s\n",
                  static_cast<long long>(s.counts.vertices), static_cast<long long>(2 * s.counts.quads),
                  static_cast<long long>(s.counts.quads), static_cast<long long>(s.counts.nodata),
                  static_cast<double>(s.elapsedSeconds));
    result.line = Shown(grid) + " -> " + Shown(s.outputPath) + counts;
    if (s.counts.missing > 0) {
        result.missingCells = true;
        result.line += Shown(grid) + ": " + Utf8(MissingCellsText(s.counts.missing)) + "\n";
    }
    return result;
}

// One spelling per place: "a.asc", "./a.asc" and its full path are the same
// file. On Windows the full path as the system makes it (both slashes, "."
// and "..", trailing dots and spaces of a name).
fs::path Place(const fs::path& path) {
#ifdef _WIN32
    const DWORD size = GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
    if (size > 0) {
        std::wstring full(size, L'\0');
        const DWORD length = GetFullPathNameW(path.c_str(), size, full.data(), nullptr);
        if (length > 0 && length < size) return fs::path(full.substr(0, length));
    }
#endif
    std::error_code ignored;
    return fs::absolute(path, ignored).lexically_normal();
}

// Names in the order the file system tells them apart: on Windows letters in
// any case (ordinal upper-casing, as NTFS compares), elsewhere bytes.
struct NameOrder {
    bool operator()(const ArgText& a, const ArgText& b) const {
#ifdef _WIN32
        return CompareStringOrdinal(a.data(), static_cast<int>(a.size()), b.data(), static_cast<int>(b.size()),
                                    TRUE) == CSTR_LESS_THAN;
#else
        return a < b;
#endif
    }
};

bool SameName(const ArgText& a, const ArgText& b) { return !NameOrder()(a, b) && !NameOrder()(b, a); }

// Whether two names reach one file or folder: the system says so (links, case,
// any spelling); where it cannot tell (neither exists yet, like a folder
// --outdir will make), by their full paths.
bool SameFile(const fs::path& a, const fs::path& b) {
    std::error_code error;
    const bool same = fs::equivalent(a, b, error);
    return error ? SameName(Place(a).native(), Place(b).native()) : same;
}

// The output file of a grid, for finding two grids that would write one file.
fs::path OutputOf(const fs::path& grid, const Options& options) {
    std::wstring stem, ext;
    SplitGridPath(PathToWide(grid), stem, ext);
    const fs::path folder = options.outdir.empty() ? grid.parent_path() : options.outdir;
    return Place(folder / WidePath(OutputFileName(stem, options.method)));
}

// Converts every file on `workers` threads, one file per worker at a time,
// and prints each file's line in the order the files were given.
std::vector<FileResult> ConvertAll(const std::vector<fs::path>& grids, const Options& options, unsigned workers) {
    std::vector<FileResult> results(grids.size());
    std::vector<bool> done(grids.size(), false);
    std::atomic<std::size_t> next{0};
    std::mutex printing;  // guards `done`, `printed` and the output
    std::size_t printed = 0;
    const auto work = [&] {
        for (std::size_t i = next++; i < grids.size(); i = next++) {
            FileResult result = ConvertFile(grids[i], options);
            std::lock_guard<std::mutex> lock(printing);
            results[i] = std::move(result);
            done[i] = true;
            for (; printed < grids.size() && done[printed]; ++printed)
                Print(results[printed].converted ? stdout : stderr, results[printed].line);
        }
    };
    std::vector<std::thread> threads;
    for (unsigned w = 1; w < workers; ++w) threads.emplace_back(work);
    work();
    for (std::thread& t : threads) t.join();
    return results;
}

int Run(const std::vector<ArgText>& args) {
    Options options;
    std::string problem;
    if (!ParseOptions(args, options, problem)) return Usage(problem);

    // Patterns expanded, each file once, and never two files into one OBJ.
    // Two outputs are one file when their names match as the file system
    // matches them and their folders are one folder; only outputs of matching
    // names are looked at, so a long batch asks the system little.
    std::vector<fs::path> grids;
    std::vector<fs::path> outputs;
    std::multimap<ArgText, std::size_t, NameOrder> byName;  // output file name -> index in grids
    std::vector<std::string> refused;
    for (const ArgText& arg : options.grids) {
        const std::vector<fs::path> files = ExpandPattern(arg);
        if (files.empty()) refused.push_back(Shown(fs::path(arg)) + ": no file matches this pattern\n");
        for (const fs::path& file : files) {
            const fs::path output = OutputOf(file, options);
            const ArgText name = output.filename().native();
            std::size_t same = grids.size();
            for (auto [it, end] = byName.equal_range(name); it != end && same == grids.size(); ++it)
                if (SameFile(outputs[it->second].parent_path(), output.parent_path())) same = it->second;
            if (same == grids.size()) {
                byName.emplace(name, grids.size());
                grids.push_back(file);
                outputs.push_back(output);
            } else if (!SameFile(grids[same], file)) {
                refused.push_back(Shown(file) + ": not converted, its OBJ file " + Shown(output) + " is the one of " +
                                  Shown(grids[same]) + "\n");
            }
        }
    }
    for (const std::string& line : refused) Print(stderr, line);

    std::error_code ignored;  // a folder that cannot be made fails each file's job with its message
    if (!options.outdir.empty()) fs::create_directories(options.outdir, ignored);

    const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
    const unsigned filesAtOnce = static_cast<unsigned>(
        std::max<std::size_t>(1, std::min<std::size_t>(options.jobs > 0 ? options.jobs : cores, grids.size())));
    if (options.workers == 0) options.workers = static_cast<int32_t>(std::max(1u, cores / filesAtOnce));
    const auto start = std::chrono::steady_clock::now();
    const std::vector<FileResult> results = ConvertAll(grids, options, filesAtOnce);
    const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;

    std::size_t converted = 0, missing = 0;
    for (const FileResult& r : results) {
        converted += r.converted ? 1 : 0;
        missing += r.missingCells ? 1 : 0;
    }
    const std::size_t failed = results.size() - converted + refused.size();
    char total[200];
    std::snprintf(total, sizeof total, "total: %zu converted, %zu failed, %zu with holes for missing values, "
                  "%.2f s, %u file%s at a time\n", converted, failed, missing, elapsed.count(), filesAtOnce,
                  filesAtOnce == 1 ? "" : "s");
    Print(stdout, total);
    if (failed > 0) return kExitFailed;
    return missing > 0 ? kExitMissingCells : kExitConverted;
}

}  // namespace

#ifdef _WIN32
int wmain(int argc, wchar_t** argv) {
#else
int main(int argc, char** argv) {
#endif
    return Run(std::vector<ArgText>(argv + 1, argv + argc));
}
