// Runs the conversion core on grid text in a temporary folder and records
// every hook call, so tests can check files, counts, ticks and statuses.
#pragma once

#include <algorithm>
#include <array>
#include <atomic>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#ifdef _WIN32
#include <process.h>
#else
#include <unistd.h>
#endif

#include "grid/grid_reader.h"
#include "mesh/conversion_job.h"

inline std::ostream& operator<<(std::ostream& out, const JobCounts& c) {
    return out << "{vertices " << c.vertices << ", quads " << c.quads << ", nodata " << c.nodata << ", missing "
               << c.missing << ", triangles " << c.triangles << "}";
}

struct ProgressCall {
    JobPhase phase;
    int percent;
    bool operator==(const ProgressCall& o) const { return phase == o.phase && percent == o.percent; }
};

struct JobRecord {
    JobSummary summary;
    std::vector<ProgressCall> progress;
    std::vector<std::wstring> statuses;
    int summaryCalls = 0;
    std::string file;  // the output file's bytes ("" when none was written)
    bool fileExists = false;
    int temporaryFiles = 0;  // ".part-" files left in the folder
};

struct JobHarness {
    std::filesystem::path folder;
    std::atomic<bool> cancel{false};
    // Called after every progress call; may set `cancel`.
    std::function<void(const JobRecord&)> onProgress;
    // Called once the grid's header is read, before the job: may change the
    // header (dx/dy, no-data values) or the open stream (line limit, errors).
    std::function<void(JobRequest&, GridStream&)> beforeRun;
    int workers = 0;  // the job's formatting threads; 0: one per core
    JobRecord record;

    explicit JobHarness(const std::string& name) {
        // Per process: test programs running side by side never share one.
        folder = std::filesystem::temp_directory_path() /
                 ("dunmoor-test-" + name + "-" + std::to_string(ProcessNumber()));
        std::filesystem::remove_all(folder);
        std::filesystem::create_directories(folder);
    }
    ~JobHarness() {
        std::error_code ignored;
        std::filesystem::remove_all(folder, ignored);
    }

    std::filesystem::path WriteGrid(const std::string& fileName, const std::string& text) {
        const std::filesystem::path path = folder / fileName;
        std::ofstream(path, std::ios::binary) << text;
        return path;
    }

    static std::string ReadFile(const std::filesystem::path& path) {
        std::ifstream in(path, std::ios::binary);
        std::ostringstream bytes;
        bytes << in.rdbuf();
        return bytes.str();
    }

    // Reads the header of `grid` and runs the job; `region` defaults to the
    // whole grid when all its limits are 0.
    JobRecord& Run(const std::filesystem::path& grid, MeshMethod method, RegionWindow region = {},
                   float unitMeters = 1.0f, const std::wstring& stem = L"grid") {
        GridStream input;
        JobRequest request;
        if (!ReadGridHeader(grid, input, request.header)) {
            ADD_FAILURE() << "header not read: " << grid;
            return record;
        }
        if (region.xMin == 0 && region.yMin == 0 && region.xMax == 0 && region.yMax == 0)
            region = {1, 1, request.header.ncols, request.header.nrows};
        request.method = method;
        request.region = region;
        request.unitMeters = unitMeters;
        request.inputStem = stem;
        request.outputDir = folder;
        request.timestamp = "2026-12-07, 14:03";
        if (beforeRun) beforeRun(request, input);
        request.workers = workers;
        return Run(request, input);
    }

    JobRecord& Run(const JobRequest& request, GridStream& input) {
        record = JobRecord{};
        JobHooks hooks;
        hooks.context = this;
        hooks.cancelRequested = &cancel;
        hooks.progress = [](void* c, JobPhase phase, double fraction) {
            auto* self = static_cast<JobHarness*>(c);
            self->record.progress.push_back({phase, static_cast<int>(fraction * 100.0 + 0.5)});
            if (self->onProgress) self->onProgress(self->record);
        };
        hooks.setStatus = [](void* c, const wchar_t* text) {
            static_cast<JobHarness*>(c)->record.statuses.push_back(text);
        };
        hooks.showSummary = [](void* c, const JobSummary&) {
            static_cast<JobHarness*>(c)->record.summaryCalls += 1;
        };
        record.summary = RunConversionJob(request, input, hooks);
        record.fileExists = std::filesystem::exists(record.summary.outputPath);
        if (record.fileExists) record.file = ReadFile(record.summary.outputPath);
        for (const auto& entry : std::filesystem::directory_iterator(folder))
            if (entry.path().filename().string().find(".part-") != std::string::npos) record.temporaryFiles += 1;
        return record;
    }

    static int ProcessNumber() {
#ifdef _WIN32
        return _getpid();
#else
        return getpid();
#endif
    }
};

// Compares two OBJ texts line by line and reports only the first line that
// differs: a whole multi-megabyte text in a failure message is useless.
inline ::testing::AssertionResult SameText(const std::string& actual, const std::string& expected) {
    std::size_t at = 0;
    for (int line = 1;; ++line) {
        const std::size_t endA = actual.find('\n', at), endE = expected.find('\n', at);
        const std::string a = actual.substr(at, endA == std::string::npos ? std::string::npos : endA - at + 1);
        const std::string e = expected.substr(at, endE == std::string::npos ? std::string::npos : endE - at + 1);
        if (a != e)
            return ::testing::AssertionFailure() << "line " << line << " differs: got \"" << a.substr(0, 200)
                                                 << "\", expected \"" << e.substr(0, 200) << "\" (" << actual.size()
                                                 << " bytes, expected " << expected.size() << ")";
        if (endA == std::string::npos) return ::testing::AssertionSuccess();
        at = endA + 1;
    }
}

// An OBJ file's vertices and faces (a triangle's fourth index is -1).
struct ObjMesh {
    std::vector<std::array<double, 3>> v;
    std::vector<std::array<int64_t, 4>> f;
};

inline ObjMesh ParseObj(const std::string& file) {
    ObjMesh mesh;
    std::istringstream lines(file);
    for (std::string line; std::getline(lines, line);) {
        std::istringstream fields(line.substr(std::min<std::size_t>(2, line.size())));
        if (line.rfind("v ", 0) == 0) fields >> mesh.v.emplace_back()[0] >> mesh.v.back()[1] >> mesh.v.back()[2];
        if (line.rfind("f ", 0) != 0) continue;
        auto& f = mesh.f.emplace_back();
        f = {0, 0, 0, -1};
        fields >> f[0] >> f[1] >> f[2];
        if (!(fields >> f[3])) f[3] = -1;
    }
    return mesh;
}

// The fixed header block every file starts with (timestamp 2026-12-07, 14:03).
inline std::string ExpectedHeaderBlock() {
    return "# Dunmoor v0.2\r\n"
           "# Terrain mesh converter, (c) 2018 Dunmoor, https://dunmoor.example\r\n"
           "#\r\n"
           "# File conversion started at: 2026-12-07, 14:03\r\n\r\n\r\n";
}

// The file's bytes after the header block.
inline std::string BodyOf(const std::string& file) {
    const std::string marker = "\r\n\r\n\r\n";
    const std::size_t at = file.find(marker);
    return at == std::string::npos ? file : file.substr(at + marker.size());
}

inline std::size_t CountLinesStartingWith(const std::string& text, const std::string& prefix) {
    std::size_t count = 0;
    std::size_t at = 0;
    while (at < text.size()) {
        if (text.compare(at, prefix.size(), prefix) == 0) ++count;
        const std::size_t next = text.find('\n', at);
        if (next == std::string::npos) break;
        at = next + 1;
    }
    return count;
}
