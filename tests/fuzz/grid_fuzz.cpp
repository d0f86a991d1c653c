// libFuzzer target: any bytes as a grid file. The header is read, and when it
// is accepted both mesh methods convert a bounded region of it, under the
// address and undefined-behaviour sanitizers. Built with
//   cmake -DDUNMOOR_FUZZ=ON -DCMAKE_CXX_COMPILER=clang++ (see scripts/fuzz).
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include "grid/float_scan.h"
#include "grid/grid_reader.h"
#include "mesh/conversion_job.h"

namespace {

const std::filesystem::path& Folder() {
    static const std::filesystem::path folder = [] {
        auto f = std::filesystem::temp_directory_path() / ("dunmoor-fuzz-" + std::to_string(getpid()));
        std::filesystem::create_directories(f);
        return f;
    }();
    return folder;
}

// The scanner agrees with formatted extraction on where a number ends and
// whether it is one (values may differ only in the misrounded corners of the
// C libraries, which the unit tests cover).
void CheckScanner(const char* data, std::size_t size) {
    const FloatScan scan = ScanFloat(data, data + size);
    if (scan.next < data || scan.next > data + size) std::abort();
    std::istringstream stream(std::string(data, size));
    float value = 0;
    const bool ok = static_cast<bool>(stream >> value);
    if (ok != scan.ok) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, std::size_t size) {
    const char* data = reinterpret_cast<const char*>(bytes);
    CheckScanner(data, size < 64 ? size : 64);

    const std::filesystem::path grid = Folder() / "fuzz.asc";
    {
        std::ofstream out(grid, std::ios::binary);
        out.write(data, static_cast<std::streamsize>(size));
    }
    GridStream input;
    JobRequest request;
    if (!ReadGridHeader(grid, input, request.header)) return 0;
    CloseGridStream(input);

    request.region = {1, 1, std::min(request.header.ncols, 40), std::min(request.header.nrows, 40)};
    request.inputStem = L"fuzz";
    request.outputDir = Folder();
    request.timestamp = "2026-12-07, 14:03";
    for (MeshMethod method : {Interpolated, FloatingPlanes}) {
        request.method = method;
        if (!ReadGridHeader(grid, input, request.header)) std::abort();
        const JobSummary summary = RunConversionJob(request, input, JobHooks{});
        if (summary.outcome != JobOutcome::Finished) std::abort();
    }
    return 0;
}
