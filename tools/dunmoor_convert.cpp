// dunmoor-convert: a development tool that runs the program's conversion job
// without the window, with console hooks. Tests and benchmarks use it.
//
//   dunmoor-convert GRID.asc [--method interpolated|floating]
//                   [--region XMIN YMIN XMAX YMAX] [--units U]
//                   [--timestamp "YYYY-MM-DD, HH:MM"] [--outdir DIR] [--progress]
//
// The OBJ is named as the program names it and written beside the grid file
// (or into DIR); the summary counts are printed.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include "grid/grid_reader.h"
#include "grid/path_parts.h"
#include "grid/region_estimates.h"
#include "mesh/conversion_job.h"

namespace {

struct Options {
    std::filesystem::path grid;
    MeshMethod method = Interpolated;
    bool wholeGrid = true;
    RegionWindow region;
    float unitMeters = 1.0f;
    std::string timestamp;
    std::filesystem::path outdir;
    bool progress = false;
};

int Usage(const char* problem) {
    std::fprintf(stderr,
                 "dunmoor-convert: %s\n"
                 "usage: dunmoor-convert GRID.asc [--method interpolated|floating]\n"
                 "       [--region XMIN YMIN XMAX YMAX] [--units U]\n"
                 "       [--timestamp \"YYYY-MM-DD, HH:MM\"] [--outdir DIR] [--progress]\n",
                 problem);
    return 2;
}

bool ParseInt(const char* text, int32_t& value) {
    char* end = nullptr;
    const long long parsed = std::strtoll(text, &end, 10);
    if (end == text || *end != '\0' || parsed < INT32_MIN || parsed > INT32_MAX) return false;
    value = static_cast<int32_t>(parsed);
    return true;
}

bool ParseOptions(int argc, char** argv, Options& o, const char*& problem) {
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const int left = argc - i - 1;
        if (arg == "--method" && left >= 1) {
            const std::string m = argv[++i];
            if (m == "interpolated") o.method = Interpolated;
            else if (m == "floating") o.method = FloatingPlanes;
            else return problem = "unknown method", false;
        } else if (arg == "--region" && left >= 4) {
            if (!ParseInt(argv[i + 1], o.region.xMin) || !ParseInt(argv[i + 2], o.region.yMin) ||
                !ParseInt(argv[i + 3], o.region.xMax) || !ParseInt(argv[i + 4], o.region.yMax))
                return problem = "region limits must be integers", false;
            o.wholeGrid = false;
            i += 4;
        } else if (arg == "--units" && left >= 1) {
            o.unitMeters = static_cast<float>(std::strtod(argv[++i], nullptr));
        } else if (arg == "--timestamp" && left >= 1) {
            o.timestamp = argv[++i];
        } else if (arg == "--outdir" && left >= 1) {
            o.outdir = argv[++i];
        } else if (arg == "--progress") {
            o.progress = true;
        } else if (!arg.empty() && arg[0] != '-' && o.grid.empty()) {
            o.grid = arg;
        } else {
            return problem = "unexpected argument", false;
        }
    }
    if (o.grid.empty()) return problem = "no grid file given", false;
    return true;
}

void PrintProgress(void*, unsigned message, uint64_t wParam, int64_t lParam) {
    std::fprintf(stderr, "progress %u %llu %lld\n", message, static_cast<unsigned long long>(wParam),
                 static_cast<long long>(lParam));
}

std::string Utf8(const std::wstring& text) {
    return WidePath(text).u8string();
}

void PrintSummary(void*, const JobSummary& s) {
    if (s.outcome != JobOutcome::Finished) {
        const SummaryMessage message = FormatJobSummary(s, false);
        std::fprintf(stderr, "%s\n", Utf8(message.text).c_str());
        return;
    }
    std::printf("output: %s\n", s.outputPath.u8string().c_str());
    std::printf("seconds: %.3f\nvertices: %lld\ntriangles: %lld\nquads: %lld\nnodata: %lld\n",
                static_cast<double>(s.elapsedSeconds), static_cast<long long>(s.vertexCount),
                static_cast<long long>(2 * s.quadCount), static_cast<long long>(s.quadCount),
                static_cast<long long>(s.nodataCount));
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    const char* problem = nullptr;
    if (!ParseOptions(argc, argv, options, problem)) return Usage(problem);

    GridStream input;
    GridHeader header;
    if (!ReadGridHeader(options.grid, input, header)) {
        std::fprintf(stderr, "dunmoor-convert: %s: Not proper ESRI ARC/INFO ASCII GRID file...\n",
                     options.grid.u8string().c_str());
        return 1;
    }

    JobRequest request;
    request.method = options.method;
    request.header = header;
    request.region = options.wholeGrid ? RegionWindow{1, 1, header.ncols, header.nrows} : options.region;
    request.unitMeters = options.unitMeters;
    request.timestamp = options.timestamp;
    std::wstring ext;
    SplitGridPath(PathToWide(options.grid), request.inputStem, ext);
    request.outputDir = options.outdir.empty() ? options.grid.parent_path() : options.outdir;

    JobHooks hooks;
    if (options.progress) hooks.progress = PrintProgress;
    hooks.showSummary = PrintSummary;
    const JobSummary summary = RunConversionJob(request, input, hooks);
    return summary.outcome == JobOutcome::Finished ? 0 : 1;
}
