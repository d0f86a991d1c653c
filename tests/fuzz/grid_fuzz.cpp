// libFuzzer target: any bytes as a grid file, converted with fuzzed settings,
// under the address and undefined-behaviour sanitizers. The last bytes of an
// input choose the method, region, units, the read block, work item, chunk
// and write buffer sizes (small, so every boundary is crossed), one or two
// workers, a cancel and a disk that fills up; the rest is the grid file. Every job must end sound: a finished file
// whose counts agree with its lines and whose faces name existing vertices,
// or else the earlier file untouched; never a temporary file left behind.
// Files live in memory (/dev/shm) where it exists. Built with
//   cmake -DDUNMOOR_FUZZ=ON -DCMAKE_CXX_COMPILER=clang++ (see scripts/fuzz).
#include <fuzzer/FuzzedDataProvider.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>
#include <string>

#include "grid/float_scan.h"
#include "grid/grid_reader.h"
#include "mesh/conversion_job.h"
#include "job/test_hooks.h"

namespace {

// DUNMOOR_FUZZ_DIR (made and removed by scripts/fuzz), else a folder of this
// process in /dev/shm or the temporary folder.
const std::filesystem::path& Folder() {
    static const std::filesystem::path folder = [] {
        if (const char* given = std::getenv("DUNMOOR_FUZZ_DIR")) return std::filesystem::path(given);
        std::error_code ignored;
        const std::filesystem::path memory = "/dev/shm";
        const auto base = std::filesystem::is_directory(memory, ignored) ? memory
                                                                         : std::filesystem::temp_directory_path();
        auto f = base / ("dunmoor-fuzz-" + std::to_string(getpid()));
        std::filesystem::create_directories(f);
        return f;
    }();
    return folder;
}

[[noreturn]] void Fail(const char* what) {
    std::fprintf(stderr, "grid-fuzz: %s\n", what);
    std::abort();
}

std::string ReadAll(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

// The scanner agrees with formatted extraction on where a number ends and
// whether it is one (values may differ only in the misrounded corners of the
// C libraries, which the unit tests cover).
void CheckScanner(const char* data, std::size_t size) {
    const FloatScan scan = ScanFloat(data, data + size);
    if (scan.next < data || scan.next > data + size) Fail("scanner ran outside its text");
    std::istringstream stream(std::string(data, size));
    float value = 0;
    const bool ok = static_cast<bool>(stream >> value);
    if (ok != scan.ok) Fail("scanner and extraction disagree");
}

// A finished file: the vertex comment, the v lines and the summary agree; the
// face lines and the closing count equal the quads; every face index names a
// vertex of the file.
// The file without its normals: no "vn" lines, faces "f a b c" for "f a//a ...".
std::string WithoutNormals(const std::string& file) {
    std::string plain;
    for (std::size_t at = 0; at < file.size();) {
        std::size_t end = file.find('\n', at);
        end = end == std::string::npos ? file.size() : end + 1;
        if (file.compare(at, 3, "vn ") != 0) {
            const bool face = file.compare(at, 2, "f ") == 0;
            for (std::size_t i = at; i < end; ++i) {
                if (face && file[i] == '/' && i + 1 < end && file[i + 1] == '/') {
                    for (i += 2; i < end && file[i] >= '0' && file[i] <= '9';) ++i;
                    --i;
                    continue;
                }
                plain += file[i];
            }
        }
        at = end;
    }
    return plain;
}

void CheckFinishedFile(const std::string& withNormals, const JobSummary& summary) {
    const std::string file = WithoutNormals(withNormals);
    int64_t vertexLines = 0, faceLines = 0, vertexComment = -1, quadComment = -1;
    std::size_t at = 0;
    while (at < file.size()) {
        std::size_t end = file.find('\n', at);
        const std::string line = file.substr(at, end == std::string::npos ? std::string::npos : end - at);
        long long a, b, c, d;
        char tail[16];
        if (line.compare(0, 2, "v ") == 0) {
            ++vertexLines;
        } else if (const int n = std::sscanf(line.c_str(), "f %lld %lld %lld %lld", &a, &b, &c, &d); n >= 3) {
            ++faceLines;
            if (n == 3) d = a;
            for (long long index : {a, b, c, d})
                if (index < 1 || index > vertexLines) Fail("a face names a vertex that is not in the file");
        } else if (std::sscanf(line.c_str(), "# %lld %15s", &a, tail) == 2) {
            if (std::string(tail) == "vertices") vertexComment = a;
            if ((std::string(tail) == "quads" || std::string(tail) == "triangles") && end == std::string::npos)
                quadComment = a;
        }
        if (end == std::string::npos) break;
        at = end + 1;
    }
    if (vertexComment != vertexLines || vertexLines != summary.counts.vertices) Fail("vertex counts disagree");
    const int64_t faces = summary.counts.quads + summary.counts.triangles;
    if (faceLines != faces || quadComment != faces) Fail("face counts disagree");
}

// A solid: each directed edge of its triangles once, and once the other way.
void CheckClosed(const std::string& file) {
    std::map<std::pair<long long, long long>, int> edges;
    for (std::size_t at = file.find("\nf "); at != std::string::npos; at = file.find("\nf ", at + 1)) {
        long long v[3];
        if (std::sscanf(file.c_str() + at + 1, "f %lld %lld %lld", &v[0], &v[1], &v[2]) != 3) Fail("a solid's face not a triangle");
        for (int k = 0; k < 3; ++k) ++edges[{v[k], v[(k + 1) % 3]}];
    }
    for (const auto& [edge, count] : edges) {
        const auto back = edges.find({edge.second, edge.first});
        if (count != 1 || back == edges.end() || back->second != 1) Fail("a solid not closed");
    }
}

bool TemporaryFileLeft() {
    for (const auto& entry : std::filesystem::directory_iterator(Folder()))
        if (entry.path().filename().string().find(".part-") != std::string::npos) return true;
    return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, std::size_t size) {
    CheckScanner(reinterpret_cast<const char*>(bytes), size < 64 ? size : 64);

    // Settings from the end of the input, the grid file from the rest.
    FuzzedDataProvider provider(bytes, size);
    JobRequest request;
    const MeshMethod methods[] = {Interpolated, FloatingPlanes, Simplified};
    request.method = methods[provider.ConsumeIntegralInRange<int>(0, 2)];
    request.maxError = provider.ConsumeIntegralInRange<int>(0, 4) * 0.25;
    request.writeHeightBitmap = provider.ConsumeIntegralInRange<int>(0, 7) == 0;
    request.normals = provider.ConsumeIntegralInRange<int>(0, 3) == 0;
    request.solid = request.method != FloatingPlanes && provider.ConsumeIntegralInRange<int>(0, 5) == 0;
    request.solidBase = 1.5;
    if (provider.ConsumeIntegralInRange<int>(0, 3) == 0) {
        request.geometry = TrueScaleGeometry;
        request.up = provider.ConsumeBool() ? YUp : ZUp;
    }
    const bool wholeGrid = provider.ConsumeBool();
    const int32_t region[4] = {provider.ConsumeIntegralInRange<int32_t>(-2, 42),
                               provider.ConsumeIntegralInRange<int32_t>(-2, 42),
                               provider.ConsumeIntegralInRange<int32_t>(-2, 42),
                               provider.ConsumeIntegralInRange<int32_t>(-2, 42)};
    const float unitChoices[] = {1.0f, 0.5f, 3.0f, 0.3048f, 1e-3f, 1e30f, 0.0f};
    request.unitMeters = unitChoices[provider.ConsumeIntegralInRange<int>(0, 6)];
    TestHooks hooksForRun;
    hooksForRun.readBlockBytes = provider.ConsumeIntegralInRange<std::size_t>(1, 64);
    hooksForRun.gatherBytes = provider.ConsumeIntegralInRange<std::size_t>(1, 256);
    if (provider.ConsumeIntegralInRange<int>(0, 7) == 0)
        hooksForRun.writableBytes = provider.ConsumeIntegralInRange<int64_t>(0, 4096);
    hooksForRun.scratchFails = provider.ConsumeIntegralInRange<int>(0, 63) == 0;
    hooksForRun.rowBlockBytes = provider.ConsumeIntegralInRange<std::size_t>(1, 64);
    hooksForRun.chunkBytes = provider.ConsumeIntegralInRange<std::size_t>(1, 4096);
    // Mostly one worker (the job's own thread): under the sanitizers a job
    // with worker threads and such small work items costs some fifty small
    // jobs, and the differential tests run every worker count anyway.
    request.workers = provider.ConsumeIntegralInRange<int>(0, 255) == 0 ? 2 : 1;
    // Work items of a few lines with workers: a line each would mostly time
    // the hand-overs.
    if (request.workers > 1) hooksForRun.rowBlockBytes *= 16;
    SetTestHooks(hooksForRun);
    std::atomic<bool> cancel{provider.ConsumeIntegralInRange<int>(0, 15) == 0};
    const std::string text = provider.ConsumeRemainingBytesAsString();

    const std::filesystem::path grid = Folder() / "fuzz.asc";
    std::ofstream(grid, std::ios::binary) << text;
    GridStream input;
    if (!ReadGridHeader(grid, input, request.header)) return 0;

    const GridHeader& h = request.header;
    request.region = wholeGrid ? RegionWindow{1, 1, std::min(h.ncols, 40), std::min(h.nrows, 40)}
                               : RegionWindow{region[0], region[1], region[2], region[3]};
    request.inputStem = L"fuzz";
    request.outputDir = Folder();
    request.timestamp = "2026-12-07, 14:03";
    const std::filesystem::path output = Folder() / OutputFileName(request.inputStem, request.method);
    const std::string earlier = "# an earlier file";
    std::ofstream(output, std::ios::binary) << earlier;

    JobHooks hooks;
    hooks.cancelRequested = &cancel;
    const JobSummary summary = RunConversionJob(request, input, hooks);
    if (IsGridStreamOpen(input)) Fail("the job left its input open");
    const std::string file = ReadAll(output);
    if (summary.outcome == JobOutcome::Finished) {
        if (cancel) Fail("a cancelled job finished");
        CheckFinishedFile(file, summary);
        if (request.solid) CheckClosed(WithoutNormals(file));
        // With normals the same mesh as without them, whatever the blocks.
        if (request.normals && !request.writeHeightBitmap) {
            JobRequest plain = request;
            plain.normals = false;
            plain.inputStem = L"plain";
            GridStream again;
            GridHeader header;
            if (ReadGridHeader(grid, again, header)) {
                const JobSummary other = RunConversionJob(plain, again, hooks);
                const std::filesystem::path plainOutput = Folder() / OutputFileName(plain.inputStem, plain.method);
                std::string expected = ReadAll(plainOutput);
                const std::string stem = "plain__";
                for (std::size_t at = expected.find(stem); at != std::string::npos; at = expected.find(stem, at))
                    expected.replace(at, stem.size(), "fuzz__");
                if (other.outcome == JobOutcome::Finished && WithoutNormals(file) != expected)
                    Fail("normals changed the mesh");
                std::filesystem::remove(plainOutput);
            }
        }
    } else if (file != earlier) {
        Fail("a job that did not finish changed the earlier file");
    }
    if (request.solid && summary.outcome == JobOutcome::OutputNotWritten && hooksForRun.writableBytes < 0)
        Fail("a surface was not closed into a solid");
    if (TemporaryFileLeft()) Fail("a temporary file was left behind");
    return 0;
}
