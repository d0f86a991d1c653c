// dunmoor-convert: converts grid files from the command line with the same
// conversion job as the window, one file per worker on all cores.
//
//   dunmoor-convert GRID.asc|PATTERN... [options]      (--help lists them)
//
// Each OBJ is named as the window names it and written beside its grid file
// (or into DIR, made when missing), byte for byte the file the window writes with the same
// settings; the height bitmap (--heightmap, --heightmap-only) likewise. A
// pattern ("tiles/*.asc", "dem_??.asc") names the files of its folder that
// match its last part; the converter expands it itself, as the Windows shell
// does not. A list (--from) names more files, one per line. One line is
// printed per file, then a total.
//
// Batches beyond one run: --slice K/N converts every N-th file of the sorted
// list from the K-th, so N runs anywhere convert each file once;
// --skip-existing leaves a file whose outputs stand complete; --log appends
// a line per file, from which the failed ones are taken for the next run.
//
// Exit status: 0 every file converted; 3 converted with a warning (a grid
// held fewer values than its header promised, the classic geometry
// misplaced vertices or took a centre for the corner, a .prj file beside
// the grid said nothing understood, or a tile's neighbour was not what its
// header says and was taken as not there); 1 some file failed, or the log
// could not be written; 2 bad arguments; 130 interrupted.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cwctype>
#include <filesystem>
#include <map>
#include <mutex>
#include <new>
#include <numeric>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "job/number_format.h"
#include "job/worker_threads.h"
#include "grid/ground_units.h"
#include "grid/grid_reader.h"
#include "grid/tile_set.h"
#include "grid/path_parts.h"
#include "mesh/conversion_job.h"
#include "picture/terrain_preview.h"
#include "tools/convert_batch.h"
#include "tools/convert_console.h"
#include "tools/convert_options.h"

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
constexpr int kExitWarning = 3;
constexpr int kExitInterrupted = 130;

// Text as UTF-8 for printing.
std::string Utf8(const std::wstring& text) { return WidePath(text).u8string(); }

int Usage(const std::string& problem) {
    Print(stderr, "dunmoor-convert: " + problem + "\n" + UsageText());
    return kExitUsage;
}

// A run that cannot go on for a reason of the system's, not the options'.
int Failure(const std::string& problem) {
    Print(stderr, "dunmoor-convert: " + problem + "\n");
    return kExitFailed;
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
    bool converted = false;
    bool skipped = false;      // its outputs stood complete (--skip-existing)
    bool missingCells = false;
    bool misplaced = false;    // converted, but the classic geometry misplaced vertices
    bool georeferenceWarned = false;  // converted, but the georeference was taken other than the file says
    bool neighbourWarned = false;     // converted, a neighbour of its tile set taken as not there
    bool interrupted = false;  // cancelled, or not started after an interruption
    std::string line;          // what is printed for the file, ending with a line feed
    LogEntry log;              // its line in the run log; no outcome: the file never started
};

FileResult Failed(const fs::path& grid, const std::string& why) {
    FileResult result;
    result.line = Shown(grid) + ": " + why + "\n";
    result.log.path = Shown(grid);
    result.log.outcome = "failed";
    result.log.detail = why;
    return result;
}

// The files a grid's conversion writes into its folder: the OBJ, the height
// bitmap and its world file, as asked for; the first names the conversion.
std::vector<fs::path> OutputsOf(const fs::path& grid, const Options& options) {
    std::wstring stem, ext;
    SplitGridPath(PathToWide(grid), stem, ext);
    const fs::path folder = options.outdir.empty() ? grid.parent_path() : options.outdir;
    std::vector<fs::path> outputs;
    if (options.mesh) outputs.push_back(folder / WidePath(OutputFileName(stem, options.method, options.format)));
    if (options.mesh && options.texture != TextureChoice::None && options.format == MeshFormatKind::Obj)
        outputs.push_back(fs::path(outputs.front()).replace_extension(".mtl"));
    if (options.mesh && options.texture == TextureChoice::Relief) outputs.push_back(folder / WidePath(stem + kReliefTextureSuffix));
    if (options.heightBitmap) {
        outputs.push_back(folder / WidePath(stem + kHeightBitmapSuffix));
        outputs.push_back(folder / WidePath(stem + kWorldFileSuffix));
    }
    return outputs;
}

// Why a grid's header could not be read: the file is missing, a folder,
// cannot be opened (the system's reason), or is not a grid.
std::string WhyNotRead(const fs::path& grid) {
    std::error_code error;
    const fs::file_type type = fs::status(grid, error).type();
    if (type == fs::file_type::not_found) return "no such file";
    if (type == fs::file_type::directory) return "is a folder, not a grid file";
    errno = 0;
    std::FILE* file = OpenExistingFile(grid);
    const int reason = errno;
    if (file == nullptr) return "cannot be opened: " + std::generic_category().message(reason);
    std::fclose(file);
    return "Not proper ESRI ARC/INFO ASCII GRID file...";
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

// The input stays open until the job takes it, or the file is refused.
struct InputCloser {
    GridStream& input;
    ~InputCloser() { CloseGridStream(input); }
};

// A grid of this run's tile set: the set, and the grid's place in it.
struct SetPlace {
    const TileSetRun* set = nullptr;  // null: not a tile set
    std::size_t index = 0;
};

// A tile's part of its request: True scale from the set's south-west corner
// (or the origin given) and, for the methods that join it to its
// neighbours, the ring of cells they hold around it. Empty, or why its
// neighbours could not be read.
std::string PlaceTile(JobRequest& request, const Options& options, const SetPlace& place) {
    if (place.set != nullptr) {
        request.origin.kind = TrueScaleOrigin::TileSetCorner;
        request.origin.x = place.set->west;
        request.origin.y = place.set->south;
        request.origin.latitudeGiven = true;
        request.origin.latitude = place.set->middle;
        request.heightRange = {place.set->heightsAny, place.set->lowest, place.set->highest};
    }
    if (options.heightRangeGiven)
        request.heightRange = {true, static_cast<float>(options.heightLow), static_cast<float>(options.heightHigh)};
    if (options.originGiven) {
        request.origin.kind = TrueScaleOrigin::Given;
        request.origin.x = options.originX;
        request.origin.y = options.originY;
    }
    if (place.set == nullptr || !options.mesh || options.method == FloatingPlanes) return "";
    auto ring = std::make_shared<TileRing>();
    std::string problem;
    if (!ReadTileRing(request.header, place.set->NeighboursOf(place.index), *ring, problem, options.workers)) return problem;
    request.tileRing = std::move(ring);
    return "";
}

FileResult ConvertFile(const fs::path& grid, const Options& options, void* progress, const SetPlace& place) {
    if (options.skipExisting) {
        const std::vector<fs::path> outputs = OutputsOf(grid, options);
        if (std::all_of(outputs.begin(), outputs.end(), OutputStandsComplete)) {
            FileResult result;
            result.skipped = true;
            result.log.outcome = "skipped";
            for (const fs::path& output : outputs)
                if (output.extension() != ".pgw")
                    result.log.detail += (result.log.detail.empty() ? "" : ", ") + Shown(output.filename());
            result.log.detail = "complete: " + result.log.detail;
            result.line = Shown(grid) + ": skipped, " + result.log.detail + "\n";
            return result;
        }
    }
    GridStream input;
    const InputCloser closer{input};
    GridHeader header;
    std::string headerProblem;
    if (!ReadGridHeader(grid, input, header, headerProblem))
        return Failed(grid, headerProblem.empty() ? WhyNotRead(grid) : "not converted: " + headerProblem);
    const std::string regionProblem = options.wholeGrid ? "" : RegionProblem(options.region, header);
    if (!regionProblem.empty()) return Failed(grid, "not converted: " + regionProblem);
    JobRequest request;
    request.method = options.method;
    request.format = options.format;
    request.normals = options.normals;
    request.exaggerate = options.exaggerate;
    request.fitMillimetres = options.fitMillimetres;
    request.solid = options.solid;
    request.solidBase = options.solidBase;
    request.texture = options.texture;
    request.texturePath = options.texturePath;
    request.textureWidth = options.textureWidth;
    request.textureHeight = options.textureHeight;
    request.geometry = options.geometry;
    request.up = options.up;
    request.hasProjection = ReadProjectionBeside(grid, request.projection);
    request.header = header;
    request.region = options.wholeGrid ? RegionWindow{1, 1, header.ncols, header.nrows} : options.region;
    request.unitMeters = options.unitMeters;
    request.maxError = options.maxError;
    request.timestamp = options.timestamp;
    request.workers = options.workers;
    request.writeMesh = options.mesh;
    request.writeHeightBitmap = options.heightBitmap;
    std::wstring ext;
    SplitGridPath(PathToWide(grid), request.inputStem, ext);
    request.outputDir = options.outdir.empty() ? grid.parent_path() : options.outdir;
    const std::string tileProblem = PlaceTile(request, options, place);
    if (!tileProblem.empty()) return Failed(grid, "not converted: " + tileProblem);

    JobHooks hooks;
    hooks.cancelRequested = InterruptFlag();
    if (progress != nullptr) {
        hooks.context = progress;
        hooks.progress = ProgressBoard::OnProgress;
    }
    const auto start = std::chrono::steady_clock::now();
    const JobSummary s = RunConversionJob(request, input, hooks);
    // The job times its mesh; with a bitmap too, the file's time is both.
    const double seconds = s.mesh && !s.heightBitmap
                               ? static_cast<double>(s.elapsedSeconds)
                               : std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const std::string stale =
        s.staleFilesRemoved > 0 ? Shown(grid) + ": " + Utf8(StaleFilesText(s.staleFilesRemoved)) + "\n" : "";
    FileResult result;
    result.log.seconds = seconds;
    if (s.outcome == JobOutcome::Cancelled) {
        result.interrupted = true;
        result.line = Shown(grid) + ": interrupted; " + Shown(s.outputPath) + " was not written\n" + stale;
        result.log.outcome = "interrupted";
        return result;
    }
    if (s.outcome != JobOutcome::Finished) {
        result.log.outcome = "failed";
        result.log.detail = OneLine(FormatJobSummary(s).text);
        result.line = Shown(grid) + ": " + result.log.detail + "\n" + stale;
        return result;
    }
    result.converted = true;
    result.line = Shown(grid) + " -> " + (s.mesh ? Shown(s.outputPath) : "") + (s.mesh && s.heightBitmap ? ", " : "") +
                  (s.heightBitmap ? Shown(s.heightBitmapPath) : "");
    char counts[200];
    if (s.mesh)
        std::snprintf(counts, sizeof counts, ": vertices: %lld, triangles: %lld, quads: %lld, no data: %lld",
                      static_cast<long long>(s.counts.vertices),
                      static_cast<long long>(2 * s.counts.quads + s.counts.triangles),
                      static_cast<long long>(s.counts.quads), static_cast<long long>(s.counts.nodata));
    else
        std::snprintf(counts, sizeof counts, ": no data: %lld, holes: %lld", static_cast<long long>(s.counts.nodata),
                      static_cast<long long>(s.counts.missing));
    result.line += counts;
    if (s.heightBitmap)
        result.line += ", heights: " + (s.heightRange.any ? ShortestText(s.heightRange.lowest) + " to " +
                                                               ShortestText(s.heightRange.highest)
                                                         : std::string("none"));
    if (s.method == Simplified && s.mesh) {
        std::snprintf(counts, sizeof counts, ", largest error: %.3f, %.2f %% of %lld vertices", s.maxErrorReached,
                      100.0 * static_cast<double>(s.counts.vertices) / static_cast<double>(std::max<int64_t>(1, s.interpolatedVertices)),
                      static_cast<long long>(s.interpolatedVertices));
        result.line += counts;
    }
    std::snprintf(counts, sizeof counts, ", %.2f s\n", seconds);
    result.line += counts;
    result.log.outcome = "converted";
    result.log.counted = true;
    result.log.mesh = s.mesh;
    result.log.counts = s.counts;
    if (s.counts.missing > 0) {
        result.missingCells = true;
        result.log.outcome = "holes";
        result.log.detail = Utf8(MissingCellsText(s.counts.missing));
        result.line += Shown(grid) + ": " + result.log.detail + "\n";
    }
    const std::wstring geometry = GeometryText(s);
    if (!geometry.empty()) result.line += Shown(grid) + ": " + Utf8(geometry) + "\n";
    if (GeometryWarns(s)) result.log.detail += (result.log.detail.empty() ? "" : " ") + Utf8(geometry);
    const std::wstring solid = SolidText(s);
    if (!solid.empty()) result.line += Shown(grid) + ": " + Utf8(solid) + "\n";
    const std::wstring texture = TextureText(s);
    if (!texture.empty()) result.line += Shown(grid) + ": " + Utf8(texture) + "\n";
    if (TextureWarns(s)) result.log.detail += (result.log.detail.empty() ? "" : " ") + Utf8(texture);
    result.misplaced = s.classicMisplaced;
    // A texture that covers part of the region warns as a georeference does.
    result.georeferenceWarned = (GeometryWarns(s) && !s.classicMisplaced) || TextureWarns(s);
    if (request.tileRing != nullptr) {
        for (const std::string& warning : request.tileRing->warnings) {
            result.line += Shown(grid) + ": " + warning + "\n";
            result.log.detail += (result.log.detail.empty() ? "" : " ") + warning;
            result.neighbourWarned = true;
        }
    }
    result.line += stale;
    return result;
}

// A file's conversion, whatever happens in it: memory or a thread that the
// converter itself cannot have fails the file, not the program. The job has
// removed its temporary file by then.
FileResult ConvertGuarded(const fs::path& grid, const Options& options, ProgressBoard& board, unsigned slot,
                          uint64_t bytes, const SetPlace& place) {
    struct SlotEnd {
        ProgressBoard& board;
        unsigned slot;
        ~SlotEnd() { board.End(slot); }
    };
    const auto start = std::chrono::steady_clock::now();
    FileResult result;
    try {
        void* progress = board.Start(slot, Shown(grid.filename()), bytes);
        const SlotEnd end{board, slot};
        result = ConvertFile(grid, options, progress, place);
    } catch (const std::bad_alloc&) {
        result = Failed(grid, "not converted: there is not enough memory");
    } catch (const std::exception& e) {
        result = Failed(grid, std::string("not converted: ") + e.what());
    }
    result.log.path = Shown(grid);
    if (!result.converted && !result.interrupted)
        result.log.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
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

// The output file that names a grid's conversion, for finding two grids that
// would write one file (the others are named after the same stem).
fs::path OutputOf(const fs::path& grid, const Options& options) { return Place(OutputsOf(grid, options).front()); }

// Converts every file on `workers` threads (fewer when not all can start),
// one file per worker at a time, and prints each file's lines in the order
// the files were given. After an interruption no file starts.
std::vector<FileResult> ConvertAll(const std::vector<fs::path>& grids, const std::vector<uint64_t>& bytes,
                                   const Options& options, unsigned& workers, ProgressBoard& board, RunLog& log,
                                   const std::vector<SetPlace>& places) {
    std::vector<FileResult> results(grids.size());
    std::vector<bool> done(grids.size(), false);
    std::atomic<std::size_t> next{0};
    std::mutex printing;  // guards `done`, `printed` and the order of the output
    std::size_t printed = 0;
    const auto work = [&](unsigned slot) {
        for (std::size_t i = next++; i < grids.size(); i = next++) {
            FileResult result;
            result.interrupted = Interrupted();
            if (!result.interrupted) result = ConvertGuarded(grids[i], options, board, slot, bytes[i], places[i]);
            try {
                if (log.IsOpen() && !result.log.outcome.empty()) log.Append(result.log);
            } catch (const std::exception&) {
                // Out of memory for a line: the total still counts the file.
            }
            std::lock_guard<std::mutex> lock(printing);
            results[i] = std::move(result);
            done[i] = true;
            try {
                for (; printed < grids.size() && done[printed]; ++printed)
                    if (!results[printed].line.empty())
                        board.Lines(results[printed].converted || results[printed].skipped ? stdout : stderr,
                                    results[printed].line);
            } catch (const std::exception&) {
                // Out of memory for a line: the total still counts the file.
            }
        }
    };
    const int ran = RunOnWorkers(static_cast<int>(workers), [&](int slot) { work(static_cast<unsigned>(slot)); });
    if (static_cast<unsigned>(ran) < workers) {
        board.Lines(stderr, "dunmoor-convert: only " + std::to_string(ran) + " of " + std::to_string(workers) +
                                " files could be converted at a time here\n");
        workers = static_cast<unsigned>(ran);
    }
    return results;
}

// --preview: the window's terrain preview of one grid as a PNG.
int WritePreview(const Options& options) {
    if (options.grids.size() != 1 || IsPattern(options.grids[0])) return Usage("--preview takes exactly one grid file");
    const fs::path grid(options.grids[0]);
    GridStream input;
    const InputCloser closer{input};
    GridHeader header;
    std::string problem;
    if (!ReadGridHeader(grid, input, header, problem)) {
        Print(stderr, Shown(grid) + ": " + (problem.empty() ? WhyNotRead(grid) : problem) + "\n");
        return kExitFailed;
    }
    JobRequest request;
    request.header = header;
    request.writeMesh = false;
    request.writePreview = true;
    request.previewPath = options.preview;
    request.previewWidth = options.previewWidth;
    request.previewHeight = options.previewHeight;
    request.workers = options.workers;
    JobHooks hooks;
    hooks.cancelRequested = InterruptFlag();
    const JobSummary s = RunConversionJob(request, input, hooks);
    if (s.outcome == JobOutcome::Cancelled) {
        Print(stderr, Shown(grid) + ": interrupted; " + Shown(options.preview) + " was not written\n");
        return kExitInterrupted;
    }
    if (s.outcome != JobOutcome::Finished) {
        Print(stderr, Shown(grid) + ": " + OneLine(FormatJobSummary(s).text) + "\n");
        return kExitFailed;
    }
    Print(stdout, Shown(grid) + " -> " + Shown(options.preview) + ": terrain preview\n");
    return kExitConverted;
}

int Run(const std::vector<ArgText>& args) {
    Options options;
    std::string problem;
    if (!ParseOptions(args, options, problem)) return Usage(problem);
    if (options.help) {
        Print(stdout, HelpText());
        return kExitConverted;
    }
    if (!options.preview.empty()) return WritePreview(options);
    // Every file named: the command line's, patterns expanded, then the lists'.
    std::vector<fs::path> named;
    std::vector<std::string> refused;
    for (const ArgText& arg : options.grids) {
        const std::vector<fs::path> files = ExpandPattern(arg);
        if (files.empty()) refused.push_back(Shown(fs::path(arg)) + ": no file matches this pattern\n");
        named.insert(named.end(), files.begin(), files.end());
    }
    for (const ArgText& list : options.lists) {
        std::vector<ArgText> paths;
        if (!ReadGridList(list, paths, problem)) return Usage(problem);
        for (const ArgText& path : paths) named.emplace_back(path);
    }
    RunLog log;
    if (!options.log.empty() && !log.Open(options.log, problem)) return Failure(problem);
    CatchInterruptions();  // a list being read is simply left
    // Slices share out the list sorted by full path, so that every run that
    // is given the same files cuts it alike.
    if (options.slices > 1) {
        std::vector<std::pair<ArgText, fs::path>> sorted;
        for (const fs::path& file : named) sorted.emplace_back(Place(file).native(), file);
        std::stable_sort(sorted.begin(), sorted.end(),
                         [](const auto& a, const auto& b) { return NameOrder()(a.first, b.first); });
        for (std::size_t i = 0; i < sorted.size(); ++i) named[i] = sorted[i].second;
    }

    // Each file once, and never two files into one output. Two outputs are
    // one file when their names match as the file system matches them and
    // their folders are one folder; only outputs of matching names are looked
    // at, so a long batch asks the system little. A slice takes every N-th of
    // what remains, files refused here included, so one slice reports each.
    std::vector<fs::path> kept, grids;  // every file once; those of this slice
    std::vector<std::size_t> keptIndex;  // each of this slice's files in `kept`
    std::vector<fs::path> outputs;      // the kept files' outputs
    std::multimap<ArgText, std::size_t, NameOrder> byName;  // output file name -> index in outputs
    std::size_t listed = 0;                                 // files kept or refused so far
    for (const fs::path& file : named) {
        const fs::path output = OutputOf(file, options);
        const ArgText name = output.filename().native();
        std::size_t same = outputs.size();
        for (auto [it, end] = byName.equal_range(name); it != end && same == outputs.size(); ++it)
            if (SameFile(outputs[it->second].parent_path(), output.parent_path())) same = it->second;
        const bool refuse = same < outputs.size() && !SameFile(kept[same], file);
        if (same == outputs.size()) {
            byName.emplace(name, outputs.size());
            outputs.push_back(output);
            kept.push_back(file);
        } else if (!refuse) {
            continue;  // the same file again
        }
        if (listed++ % static_cast<std::size_t>(options.slices) != static_cast<std::size_t>(options.slice - 1))
            continue;  // another slice's
        if (!refuse) {
            grids.push_back(file);
            keptIndex.push_back(kept.size() - 1);
            continue;
        }
        const std::string why = "not converted, its " + std::string(options.mesh ? "OBJ file " : "height bitmap ") +
                                Shown(output) + " is the one of " + Shown(kept[same]);
        refused.push_back(Shown(file) + ": " + why + "\n");
        if (log.IsOpen()) log.Append(Failed(file, why).log);
    }
    for (const std::string& line : refused) Print(stderr, line);

    // A tile set is every file of the list, whichever slice converts it: all
    // slices find the same neighbours and the same origin.
    TileSetRun set;
    std::vector<SetPlace> places(grids.size());
    if (options.tileSet) {
        set = FindTileSet(kept);
        if (options.heightBitmap && !options.heightRangeGiven)
            FindSetHeights(set, static_cast<int>(std::max(1u, std::thread::hardware_concurrency())));
        for (std::size_t i = 0; i < grids.size(); ++i) places[i] = {&set, keptIndex[i]};
    }

    std::error_code ignored;  // a folder that cannot be made fails each file's job with its message
    if (!options.outdir.empty()) fs::create_directories(options.outdir, ignored);

    std::vector<uint64_t> bytes;  // the grid files' sizes, for progress
    for (const fs::path& grid : grids) {
        const uintmax_t size = fs::file_size(grid, ignored);
        bytes.push_back(ignored ? 0 : static_cast<uint64_t>(size));
    }
    const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
    unsigned filesAtOnce = static_cast<unsigned>(
        std::max<std::size_t>(1, std::min<std::size_t>(options.jobs > 0 ? options.jobs : cores, grids.size())));
    if (options.workers == 0) options.workers = static_cast<int32_t>(std::max(1u, cores / filesAtOnce));
    const ProgressMode mode = ErrorIsTerminal() ? ProgressMode::Live
                              : options.progress ? ProgressMode::Plain : ProgressMode::None;
    const auto start = std::chrono::steady_clock::now();
    std::vector<FileResult> results;
    {
        ProgressBoard board(mode, filesAtOnce, grids.size(), std::accumulate(bytes.begin(), bytes.end(), uint64_t{0}));
        results = ConvertAll(grids, bytes, options, filesAtOnce, board, log, places);
    }
    JobsEnded();
    const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
    const bool logWritten = !log.IsOpen() || log.Close(problem);
    if (!logWritten) Print(stderr, "dunmoor-convert: " + problem + "\n");

    std::size_t converted = 0, skipped = 0, missing = 0, misplaced = 0, interrupted = 0, warned = 0;
    for (const FileResult& r : results) {
        converted += r.converted ? 1 : 0;
        skipped += r.skipped ? 1 : 0;
        missing += r.missingCells ? 1 : 0;
        misplaced += r.misplaced ? 1 : 0;
        warned += r.georeferenceWarned || r.neighbourWarned ? 1 : 0;
        interrupted += r.interrupted ? 1 : 0;
    }
    const std::size_t failed = results.size() - converted - skipped - interrupted + refused.size();
    const std::string skips = options.skipExisting ? std::to_string(skipped) + " skipped, " : "";
    char total[300];
    if (Interrupted()) {
        std::snprintf(total, sizeof total, "interrupted: %zu converted, %s%zu failed, %zu not converted, %.2f s\n",
                      converted, skips.c_str(), failed, interrupted, elapsed.count());
        Print(stderr, total);
        return kExitInterrupted;
    }
    std::snprintf(total, sizeof total, "total: %zu converted, %s%zu failed, %zu with holes for missing values, "
                  "%zu with vertices misplaced by the classic geometry, %.2f s, %u file%s at a time\n",
                  converted, skips.c_str(), failed, missing, misplaced, elapsed.count(), filesAtOnce,
                  filesAtOnce == 1 ? "" : "s");
    Print(stdout, total);
    if (failed > 0 || !logWritten) return kExitFailed;
    return missing > 0 || misplaced > 0 || warned > 0 ? kExitWarning : kExitConverted;
}

}  // namespace

#ifdef _WIN32
int wmain(int argc, wchar_t** argv) {
#else
int main(int argc, char** argv) {
#endif
    try {
        return Run(std::vector<ArgText>(argv + 1, argv + argc));
    } catch (const std::exception& e) {
        Print(stderr, std::string("dunmoor-convert: ") +
                          (dynamic_cast<const std::bad_alloc*>(&e) ? "there is not enough memory" : e.what()) + "\n");
        return kExitFailed;
    }
}
