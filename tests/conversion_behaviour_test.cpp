// The job frame: progress messages and statuses as the window receives them,
// cancellation in either pass, failures, names and the summary texts.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <chrono>
#include <climits>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <map>
#include <random>
#include <set>
#include <thread>

#include "grid/path_parts.h"
#include "job_harness.h"
#include "job/job_pipeline.h"
#include "job/scratch_store.h"
#include "job/test_hooks.h"

namespace {

std::string ColumnGrid(int rows, int cols, const char* value = "5") {
    std::string text = "ncols " + std::to_string(cols) + "\nnrows " + std::to_string(rows) +
                       "\nxllcorner 0\nyllcorner 0\ncellsize 1\nNODATA_value -9999\n";
    for (int r = 0; r < rows; ++r) {
        for (int c = 0; c < cols; ++c) text += std::string(c ? " " : "") + value;
        text += "\n";
    }
    return text;
}

// A job's progress calls: started, then the percentages from..to (the bar
// only moves forward), and ended.
std::vector<ProgressCall> ExpectedProgress(std::vector<std::pair<int, int>> runs) {
    std::vector<ProgressCall> calls = {{JobPhase::Started, 0}};
    for (const auto& [from, to] : runs)
        for (int p = from; p <= to; ++p) calls.push_back({JobPhase::Working, p});
    calls.push_back({JobPhase::Ended, 0});
    return calls;
}

TEST(JobProgress, RunsForwardOnceOverTheRowsOfBothPasses) {
    JobHarness harness("progress");
    // 250 rows with empty lines between them: empty lines are not rows.
    std::string text = ColumnGrid(250, 2);
    for (std::size_t at = text.find("5 5\n"); at != std::string::npos; at = text.find("5 5\n", at + 6))
        text.insert(at, "\n");
    const auto grid = harness.WriteGrid("g.asc", text);
    // The same steps whatever the workers and however small their work items.
    for (int workers : {1, 7}) {
        harness.workers = workers;
        SetTestHooks(workers == 1 ? TestHooks{} : TestHooks{0, 16, 2048});
        for (MeshMethod method : {FloatingPlanes, Interpolated}) {
            const JobRecord& r = harness.Run(grid, method);
            EXPECT_EQ(r.progress, ExpectedProgress({{1, 100}})) << method << " workers " << workers;
            EXPECT_EQ(r.statuses, (std::vector<std::wstring>{L"Calculating vertices...", L"Calculating quads..."}));
            EXPECT_EQ(r.summaryCalls, 1);
        }
    }
    SetTestHooks({});
}

TEST(JobProgress, CountsFromYMinToYMax) {
    JobHarness harness("progress-region");
    const auto grid = harness.WriteGrid("g.asc", ColumnGrid(400, 1));
    // Rows 150 to 199 of 400: one step per row from row 150 on, never wrapping.
    EXPECT_EQ(harness.Run(grid, FloatingPlanes, {1, 150, 1, 199}).progress, ExpectedProgress({{1, 100}}));
    EXPECT_EQ(harness.Run(grid, Interpolated, {1, 7, 1, 7}).progress, ExpectedProgress({{50, 50}, {100, 100}}));
    // 2^32 rows over 400: row 1 is half way down the first half, the rows
    // after the file's end are done at once.
    const RegionWindow tall = {1, INT_MIN, 1, INT_MAX};
    EXPECT_EQ(harness.Run(grid, FloatingPlanes, tall).progress, ExpectedProgress({{25, 25}, {50, 100}}));
    EXPECT_EQ(harness.Run(grid, Interpolated, tall).progress, ExpectedProgress({{25, 25}, {50, 50}, {100, 100}}));
}

// A re-conversion that is cancelled, fails to write (a full disk) or cannot
// read its input leaves the earlier file byte for byte and no temporary file.
constexpr int64_t kOneByteShort = -2;  // the disk holds all of the file but its last byte
constexpr int64_t kScratchFails = -3;  // the scratch file beside the output cannot be created

struct KeptFileCase {
    const char* situation;
    MeshMethod method;
    uint64_t cancelAt;       // cancel when the bar reaches this position (0: never)
    int64_t writableBytes;   // the disk is full after this many bytes (-1: never)
    bool closedInput;
    JobOutcome outcome;
    int64_t vertices, quads;  // the counts the summary shows
};

TEST(JobKeepsTheEarlierFile, CancelledFullDiskOrUnreadableInput) {
    // 1000 rows of one value: position 5 comes after row 100. 100 rows of 10:
    // position 51 comes in the face pass, after face 20 of 1000.
    const KeptFileCase cases[] = {
        {"cancel in the vertex pass", FloatingPlanes, 5, -1, false, JobOutcome::Cancelled, 400, 100},
        {"cancel in the vertex pass", Interpolated, 5, -1, false, JobOutcome::Cancelled, 200, 100},
        {"cancel in the face pass", FloatingPlanes, 51, -1, false, JobOutcome::Cancelled, 4000, 1000},
        {"disk full at once", Interpolated, 0, 0, false, JobOutcome::OutputNotWritten, 0, 0},
        {"disk full mid-file", FloatingPlanes, 0, 5000, false, JobOutcome::OutputNotWritten, 0, 0},
        {"disk full at the last byte", Interpolated, 0, kOneByteShort, false, JobOutcome::OutputNotWritten, 0, 0},
        {"input closed", Interpolated, 0, -1, true, JobOutcome::ReadFailed, 0, 0},
        {"no scratch file", Interpolated, 0, kScratchFails, false, JobOutcome::ScratchNotWritten, 0, 0},
    };
    for (const KeptFileCase& c : cases) {
        JobHarness harness("kept");
        const auto grid = harness.WriteGrid("g.asc", c.cancelAt == 51 ? ColumnGrid(100, 10) : ColumnGrid(1000, 1));
        const std::filesystem::path earlier = harness.folder / OutputFileName(L"grid", c.method);
        harness.onProgress = [&](const JobRecord& record) {
            if (c.cancelAt != 0 && static_cast<uint64_t>(record.progress.back().percent) == c.cancelAt) harness.cancel = true;
        };
        TestHooks writer;
        writer.writableBytes = c.writableBytes == kScratchFails ? -1 : c.writableBytes;
        writer.scratchFails = c.writableBytes == kScratchFails;
        if (c.writableBytes == kOneByteShort)
            writer.writableBytes = static_cast<int64_t>(harness.Run(grid, c.method).file.size()) - 1;
        std::ofstream(earlier, std::ios::binary) << "an earlier good file\r\n# 7 quads";
        SetTestHooks(writer);
        JobRecord* r = nullptr;
        if (c.closedInput) {
            GridStream closed;
            JobRequest request;
            request.region = {1, 1, 1, 1000};
            request.inputStem = L"grid";
            request.outputDir = harness.folder;
            r = &harness.Run(request, closed);
        } else {
            r = &harness.Run(grid, c.method);
        }
        SetTestHooks(TestHooks{});
        const std::string label = std::string(c.situation) + ", method " + std::to_string(c.method);
        EXPECT_EQ(r->summary.outcome, c.outcome) << label;
        EXPECT_EQ(r->file, "an earlier good file\r\n# 7 quads") << label;
        EXPECT_EQ(r->temporaryFiles, 0) << label;
        const SummaryMessage message = FormatJobSummary(r->summary);
        if (c.outcome == JobOutcome::Cancelled) {
            EXPECT_EQ(r->summary.counts.vertices, c.vertices) << label;
            EXPECT_EQ(r->summary.counts.quads, c.quads) << label;
            EXPECT_EQ(message.caption, L"Converting cancelled...");
            EXPECT_NE(message.text.find(L"No file was written."), std::wstring::npos);
        } else {
            EXPECT_TRUE(message.warning) << label;
            EXPECT_NE(message.text.find(PathToWide(earlier)), std::wstring::npos) << label;
            const bool namesScratch = message.text.find(L"working file") != std::wstring::npos;
            EXPECT_EQ(namesScratch, c.outcome == JobOutcome::ScratchNotWritten) << label;
        }
    }
}

// A file or link already standing at a temporary name (a leftover, or one
// planted there) is never written through: the job takes the next free name.
TEST(JobKeepsTheEarlierFile, NeverWritesThroughWhatStandsAtATemporaryName) {
    JobHarness harness("planted");
    const auto grid = harness.WriteGrid("g.asc", ColumnGrid(3, 3));
    std::string seen;  // "<final>.part-<process>-<n>" of the first job; the next one takes n + 1
    harness.onProgress = [&](const JobRecord&) {
        for (const auto& entry : std::filesystem::directory_iterator(harness.folder))
            if (entry.path().string().find(".part-") != std::string::npos) seen = entry.path().string();
    };
    const std::string whole = harness.Run(grid, FloatingPlanes).file;
    harness.onProgress = nullptr;
    ASSERT_FALSE(seen.empty());
    const std::string prefix = seen.substr(0, seen.rfind('-') + 1);
    const int n = std::stoi(seen.substr(prefix.size()));
    const auto victim = harness.WriteGrid("victim", "victim");
    std::ofstream(prefix + std::to_string(n + 1)) << "planted";
#ifndef _WIN32
    std::filesystem::create_symlink(victim, prefix + std::to_string(n + 2));
#endif
    const JobRecord& r = harness.Run(grid, FloatingPlanes);
    EXPECT_EQ(r.summary.outcome, JobOutcome::Finished);
    EXPECT_TRUE(r.file == whole);
    EXPECT_EQ(JobHarness::ReadFile(victim), "victim");
    EXPECT_EQ(JobHarness::ReadFile(prefix + std::to_string(n + 1)), "planted");
}

// A cancel from the window's thread at any moment, while workers are busy
// with later rows: the job ends cancelled with nothing left on disk, or (a
// cancel after its last poll) finished with the whole file.
TEST(JobCancel, AtRandomMomentsEveryWorkerStopsAndNothingIsLeft) {
    JobHarness harness("cancel-random");
    const auto grid = harness.WriteGrid("g.asc", ColumnGrid(500, 80, "12.5"));
    std::map<MeshMethod, JobRecord> whole;
    for (MeshMethod method : {Interpolated, FloatingPlanes}) whole[method] = harness.Run(grid, method);
    std::mt19937 rng(11);
    for (int i = 0; i < 24; ++i) {
        const MeshMethod method = i % 2 ? FloatingPlanes : Interpolated;
        harness.workers = 1 + (i / 2) % 3 * 3;  // 1, 4 and 7 workers
        SetTestHooks(i % 4 < 2 ? TestHooks{} : TestHooks{0, 512, 4096});
        for (const auto& run : whole) std::filesystem::remove(run.second.summary.outputPath);
        harness.cancel = false;
        const auto delay = std::chrono::microseconds(rng() % 8000);
        std::thread canceller([&] {
            std::this_thread::sleep_for(delay);
            harness.cancel = true;
        });
        const JobRecord& r = harness.Run(grid, method);
        canceller.join();
        const std::string label = "run " + std::to_string(i);
        EXPECT_EQ(r.temporaryFiles, 0) << label;
        EXPECT_EQ(std::distance(std::filesystem::directory_iterator(harness.folder),
                                std::filesystem::directory_iterator()), r.fileExists ? 2 : 1) << label;
        if (r.summary.outcome == JobOutcome::Cancelled) {
            EXPECT_FALSE(r.fileExists) << label;
            EXPECT_LE(r.summary.counts.vertices, whole[method].summary.counts.vertices) << label;
        } else {
            EXPECT_EQ(r.summary.outcome, JobOutcome::Finished) << label;
            EXPECT_TRUE(r.file == whole[method].file) << label;
        }
    }
    SetTestHooks({});
}

TEST(JobFailures, AnOutputThatCannotBeCreatedIsReportedNotSummarisedAsDone) {
    JobHarness harness("unwritable");
    GridStream input;
    JobRequest request;
    ASSERT_TRUE(ReadGridHeader(harness.WriteGrid("g.asc", ColumnGrid(3, 3)), input, request.header));
    request.region = {1, 1, 3, 3};
    request.inputStem = L"terrain";
    request.outputDir = harness.folder / "no such folder";
    const JobRecord& r = harness.Run(request, input);
    EXPECT_EQ(r.summary.outcome, JobOutcome::OutputNotWritten);
    EXPECT_EQ(r.summaryCalls, 1);
    EXPECT_FALSE(IsGridStreamOpen(input));
    const SummaryMessage message = FormatJobSummary(r.summary);
    EXPECT_TRUE(message.warning);
    EXPECT_NE(message.text.find(L"terrain__interpolated.obj"), std::wstring::npos);
    EXPECT_NE(message.caption, L"Converting done...");
}

// Time and memory follow the values read, not the header's promise: a header
// of 10^10 cells over a few values, or a region of 2^32 rows, ends at once.
TEST(JobBounds, HugeHeaderOrRegionOverATinyBody) {
    JobHarness harness("huge-header");
    const auto huge = harness.WriteGrid(
        "huge.asc", "ncols 100000\nnrows 100000\nxllcorner 0\nyllcorner 0\ncellsize 1\nNODATA_value -9999\n1 2 3\n4 5\n");
    const auto small = harness.WriteGrid("small.asc", ColumnGrid(2, 2));
    harness.workers = 1000000;  // capped: no more threads, chunks or memory than a sane count
    for (MeshMethod method : {Interpolated, FloatingPlanes}) {
        const JobRecord& r = harness.Run(huge, method);
        EXPECT_EQ(r.summary.outcome, JobOutcome::Finished) << method;
        EXPECT_EQ(r.summary.counts.quads, 5);
        EXPECT_EQ(r.summary.counts.missing, int64_t{100000} * 100000 - 5);
        // Cells outside the header's grid were never promised: not missing.
        for (RegionWindow region : {RegionWindow{1, 1, INT_MAX, INT_MAX}, RegionWindow{1, INT_MIN, 1, INT_MAX},
                                    RegionWindow{INT_MIN, 1, INT_MAX, 2}}) {
            const JobRecord& s = harness.Run(small, method, region);
            EXPECT_EQ(s.summary.outcome, JobOutcome::Finished) << method;
            EXPECT_EQ(s.summary.counts.quads, region.xMax == 1 ? 2 : 4);
            EXPECT_EQ(s.summary.counts.missing, 0);
        }
    }
}

// A tall narrow grid: the job's own buffers (work items, chunks, texts, rows)
// peak at the same size for 50 000 rows and for 200 000, and the scratch file
// of the cell bytes is gone afterwards. (Below some 100 000 cells a job takes
// smaller chunks: there, memory follows the work.)
TEST(JobBounds, MemoryDoesNotGrowWithTheRows) {
    JobHarness harness("memory");
    harness.workers = 2;
    for (MeshMethod method : {Interpolated, FloatingPlanes, Simplified}) {
        int64_t peak[2] = {0, 0};
        for (int tall = 0; tall < 2; ++tall) {
            const auto grid = harness.WriteGrid("g.asc", ColumnGrid(tall ? 200000 : 50000, 3, "7.25"));
            const JobCounts& counts = harness.Run(grid, method).summary.counts;
            if (method != Simplified) {
                EXPECT_EQ(counts.quads, tall ? 600000 : 150000);
            }
            peak[tall] = harness.record.summary.peakBufferBytes;
            EXPECT_EQ(std::distance(std::filesystem::directory_iterator(harness.folder),
                                    std::filesystem::directory_iterator()), 2);
            std::filesystem::remove(harness.record.summary.outputPath);
        }
        // 450 000 cells more: the cell states held in memory up to their budget.
        EXPECT_LE(peak[1], peak[0] + static_cast<int64_t>(kScratchMemoryBytes) + (int64_t{512} << 10)) << method;
        EXPECT_LE(peak[1], int64_t{64} << 20) << method;
    }
    // A small tile takes chunks for its own work, not a large grid's.
    const auto tile = harness.WriteGrid("t.asc", ColumnGrid(100, 3, "7.25"));
    harness.Run(tile, Interpolated);
    EXPECT_LE(harness.record.summary.peakBufferBytes, int64_t{1} << 20);
}

// Jobs side by side (the converter's --jobs) each keep to the chunk budget and
// count their own buffers only.
TEST(JobBounds, JobsSideBySideEachKeepToTheChunkBudget) {
    JobHarness a("budget-a"), b("budget-b");
    const auto gridA = a.WriteGrid("g.asc", ColumnGrid(3000, 40, "7.25"));
    const auto gridB = b.WriteGrid("g.asc", ColumnGrid(3000, 40, "7.25"));
    a.workers = b.workers = 2;
    std::thread other([&] { b.Run(gridB, FloatingPlanes); });
    a.Run(gridA, Interpolated);
    other.join();
    for (const JobHarness* h : {&a, &b}) {
        EXPECT_EQ(h->record.summary.outcome, JobOutcome::Finished);
        EXPECT_GT(h->record.summary.peakBufferBytes, 0);
        EXPECT_LE(h->record.summary.peakBufferBytes, static_cast<int64_t>(kChunkBudgetBytes) + (int64_t{4} << 20));
    }
}

// The cells of small grid texts (3 columns, 2 rows), row by row: a number,
// N for no-data, - for a missing cell. Floating planes puts each value at its
// place (a plane's first vertex is its cell's north-west corner); Interpolated
// writes a face for exactly the valid cells, each on its own four corners.
struct CellCase {
    const char* what;
    std::string text;
    std::string cells;
    float dy = 0.0f;               // a dx/dy header: cellsize 2 is dx
    const char* nodata = nullptr;  // a no-data value that is not whole
};

// "a b c/d e f" with the text `put` gives the cell whose south-west corner is
// at (x, y) in cell units; "." elsewhere.
template <typename Put>
std::string CellText(Put put) {
    std::string cells[2][3] = {{".", ".", "."}, {".", ".", "."}};
    put([&cells](double x, double y, const std::string& text) {
        const long row = 1 - std::lround(y), column = std::lround(x);
        if (row >= 0 && row < 2 && column >= 0 && column < 3) cells[row][column] = text;
    });
    return cells[0][0] + " " + cells[0][1] + " " + cells[0][2] + "/" + cells[1][0] + " " + cells[1][1] + " " + cells[1][2];
}

TEST(JobCells, GridTextsGiveTheirCellsAndHoles) {
    const std::string h = "ncols 3\nnrows 2\nxllcorner 0\nyllcorner 0\ncellsize 1\nNODATA_value -9999";
    const std::string hdx = "ncols 3\nnrows 2\nxllcorner 0\nyllcorner 0\ncellsize 2";
    const CellCase cases[] = {
        {"LF", h + "\n1 2 3\n4 5 6\n", "1 2 3/4 5 6"},
        {"CR LF, tabs, trailing blanks", h + "\r\n1\t2 3 \r\n 4 5\t6\t\r\n", "1 2 3/4 5 6"},
        {"blank after the header", h + " \t\n1 2 3\n4 5 6", "1 2 3/4 5 6"},
        {"whitespace-only lines", h + "\n\n1 2 3\n  \n\t\r\n4 5 6\n \n", "1 2 3/4 5 6"},
        {"lone CR", h + "\r1 2 3\r4 5 6\r", "1 2 3/4 5 6"},
        {"no-data", h + "\n1 -9999 3\n-9999 5 6\n", "1 N 3/N 5 6"},
        {"short row", h + "\n1 2\n4 5 6\n", "1 2 -/4 5 6"},
        {"row missing at the end", h + "\n1 2 3\n", "1 2 3/- - -"},
        {"decimal comma", h + "\n1 2,5 3\n4 5 6\n", "1 - -/4 5 6"},
        {"text", h + "\n1 2 3\nn/a 5 6\n", "1 2 3/- - -"},
        {"cut mid-row", h + "\n1 2 3\n4 5", "1 2 3/4 5 -"},
        {"cut mid-number", h + "\n1 2 3\n4 5 6e", "1 2 3/4 5 -"},
        {"dx dy with no-data line", hdx + "\nNODATA_value -1\n1 -1 3\n4 5 6\n", "1 N 3/4 5 6", 0.5f},
        {"dx dy without no-data line", hdx + "\n1 -9999 3\n4 5 6\n", "1 N 3/4 5 6", 0.5f},
        {"float no-data", h + "\n1 -3.4028234663852886e+38 3\n4 5 6\n", "1 N 3/4 5 6", 0.0f,
         "-3.4028234663852886e+38"},
        {"float no-data, other digits", h + "\n1 -3.4028230607370965e+38 3\n4 5 6\n", "1 N 3/4 5 6", 0.0f,
         "-3.4028230607370965e+38"},
        {"-1e+30", h + "\n1 -1e+30 3\n-1e30 5 6\n", "1 N 3/N 5 6", 0.0f, "-1e+30"},
        {"nan no-data", h + "\n1 nan 3\n-NaN 5 6\n", "1 N 3/N 5 6", 0.0f, "nan"},
        {"double-range no-data", h + "\n1 -1.7976931348623157081e+308 3\n4 5 6\n", "1 N 3/4 5 6", 0.0f,
         "-1.7976931348623157e+308"},
        {"nan, inf and 1e39 are holes", h + "\n1 nan 3\n-inf 5 1e39\n", "1 N 3/N 5 N"},
    };
    JobHarness harness("cells");
    for (const CellCase& c : cases) {
        SCOPED_TRACE(c.what);
        // dx/dy and no-data values that are not whole reach the job in its header.
        harness.beforeRun = [&](JobRequest& request, GridStream&) {
            request.header.nonSquare = c.dy != 0.0f;
            request.header.cellsizeY = c.dy;
            request.header.nodataWhole = c.nodata == nullptr;
            if (c.nodata != nullptr) request.header.nodataValue = std::strtof(c.nodata, nullptr);
        };
        const auto grid = harness.WriteGrid("g.asc", c.text);
        const double dx = c.dy != 0.0f ? 2.0 : 1.0, dy = c.dy != 0.0f ? c.dy : 1.0;
        std::string values = c.cells, valid = c.cells;
        for (char& ch : values) ch = ch == 'N' || ch == '-' ? '.' : ch;
        for (char& ch : valid) ch = std::isdigit(static_cast<unsigned char>(ch)) ? '#' : ch == 'N' || ch == '-' ? '.' : ch;

        const JobRecord& planes = harness.Run(grid, FloatingPlanes);
        const ObjMesh p = ParseObj(planes.file);
        const std::string planeCells = CellText([&](auto put) {
            for (std::size_t k = 0; k + 3 < p.v.size(); k += 4)
                if (p.v[k + 2][0] - p.v[k][0] == dx && p.v[k][1] - p.v[k + 2][1] == dy)
                    put(p.v[k][0] / dx, p.v[k][1] / dy - 1, std::to_string(std::lround(p.v[k][2] / dx)));
        });
        EXPECT_EQ(planeCells, values);
        EXPECT_EQ(planes.summary.counts.nodata, std::count(c.cells.begin(), c.cells.end(), 'N'));
        EXPECT_EQ(planes.summary.counts.missing, std::count(c.cells.begin(), c.cells.end(), '-'));

        const JobRecord& joined = harness.Run(grid, Interpolated);
        const ObjMesh m = ParseObj(joined.file);
        const std::string faceCells = CellText([&](auto put) {
            for (const auto& f : m.f) {
                for (int64_t i : f) ASSERT_TRUE(i >= 1 && i <= static_cast<int64_t>(m.v.size()));
                const auto &sw = m.v[f[0] - 1], &se = m.v[f[1] - 1], &ne = m.v[f[2] - 1], &nw = m.v[f[3] - 1];
                const bool own = se[0] == sw[0] + dx && se[1] == sw[1] && ne[0] == se[0] &&
                                 ne[1] == sw[1] + dy && nw[0] == sw[0] && nw[1] == ne[1];
                put(sw[0] / dx, sw[1] / dy, own ? "#" : "foreign corners");
            }
        });
        EXPECT_EQ(faceCells, valid);
        EXPECT_EQ(joined.summary.counts.nodata, std::count(c.cells.begin(), c.cells.end(), 'N'));
        EXPECT_EQ(joined.summary.counts.missing, std::count(c.cells.begin(), c.cells.end(), '-'));
    }
}

TEST(JobFailures, EmptyOrInvertedRegionsWriteAnEmptyMesh) {
    JobHarness harness("empty");
    const auto grid = harness.WriteGrid("g.asc", ColumnGrid(12, 12));
    const RegionWindow inverted[] = {{10, 5, 5, 5}, {5, 10, 5, 5}, {10, 10, 5, 5}};
    for (MeshMethod method : {Interpolated, FloatingPlanes}) {
        for (const RegionWindow& region : inverted) {
            const JobRecord& r = harness.Run(grid, method, region);
            EXPECT_EQ(r.summary.outcome, JobOutcome::Finished);
            EXPECT_EQ(r.summary.counts.vertices, 0);
            EXPECT_EQ(r.summary.counts.quads, 0);
            EXPECT_EQ(CountLinesStartingWith(BodyOf(r.file), "v "), 0u);
        }
    }
}

// Reading fails at row 3 (a line over the limit, or an I/O error once the
// buffered bytes are used up): a job whose region ends before it finishes,
// one that needs row 3 fails there and writes no face.
TEST(JobFailures, AReadFailureBeforeTheRegionsLastRowFailsTheJob) {
    JobHarness harness("read-failure");
    const auto overLong = harness.WriteGrid("long.asc", ColumnGrid(2, 4) + std::string(300, '7') + "\n5 5 5 5\n");
    const auto shortFile = harness.WriteGrid("short.asc", ColumnGrid(2, 4));
    const auto unreadable = harness.folder / "unreadable";
    std::ofstream(unreadable).put('x');
    // Also with 7 workers taking a line at a time: the rows before the failure
    // are still converted, those after it never.
    for (int workers : {1, 7}) {
        harness.workers = workers;
        SetTestHooks(workers == 1 ? TestHooks{} : TestHooks{0, 1, 2048});
        for (MeshMethod method : {Interpolated, FloatingPlanes}) {
            for (bool ioError : {false, true}) {
                harness.beforeRun = [&](JobRequest&, GridStream& input) {
                    input.maxLineBytes = 100;
                    if (!ioError) return;
#ifdef _WIN32
                    input.failed = true;  // the C runtime reports no error for the trick below
#else
                    std::fclose(input.file);  // reads from a write-only file fail
                    input.file = std::fopen(unreadable.string().c_str(), "ab");
#endif
                };
                const auto grid = ioError ? shortFile : overLong;
                const JobRecord& before = harness.Run(grid, method, {1, 1, 4, 2});
                EXPECT_EQ(before.summary.outcome, JobOutcome::Finished) << method << ioError;
                EXPECT_EQ(before.summary.counts.quads, 8);
                const std::string earlier = before.file;
                const JobRecord& within = harness.Run(grid, method, {2, 2, 3, 3});
                EXPECT_EQ(within.summary.outcome, JobOutcome::ReadFailed) << method << ioError;
                EXPECT_EQ(within.summary.failedRow, 3);
                EXPECT_EQ(within.summary.counts.quads, 2);
                EXPECT_EQ(within.file, earlier);  // the failed job leaves the earlier file
            }
        }
    }
    SetTestHooks({});
}

TEST(JobNames, NarrowNameStopsAboveLatin1ButTheFileKeepsItsUnicodeName) {
    EXPECT_EQ(NarrowOutputName(L"h\u00e9", Interpolated), "h\xe9__interpolated.obj");
    EXPECT_EQ(NarrowOutputName(L"ab\u0101cd", FloatingPlanes), "ab__floating_planes.obj");
    EXPECT_EQ(OutputFileName(L"ab\u0101cd", FloatingPlanes), L"ab\u0101cd__floating_planes.obj");

#ifndef _WIN32
    // A byte of a Linux name that is not UTF-8 keeps its value in the names.
    EXPECT_EQ(NarrowOutputName(L"caf\xdce9", Interpolated), "caf\xe9__interpolated.obj");
#endif

    // Up to the longest name a folder takes: the temporary names fit too.
    JobHarness harness("names");
    const auto grid = harness.WriteGrid("g.asc", ColumnGrid(2, 2));
    for (const std::wstring& stem : {std::wstring(L"\u5c71\u5730"), std::wstring(L"\u6cb3\u5ddd"), std::wstring(120, L'x'),
                                     std::wstring(235, L'x')}) {
        const JobRecord& r = harness.Run(grid, Interpolated, {}, 1.0f, stem);
        EXPECT_TRUE(r.fileExists) << stem.size();
        EXPECT_EQ(PathToWide(r.summary.outputPath.filename()), stem + L"__interpolated.obj");
    }
}

// Temporary files of the same output left by a process that has ended are
// removed, and the summary says so; a running process's are kept.
TEST(JobNames, TemporaryFilesOfEndedProcessesAreRemoved) {
    JobHarness harness("stale");
    const auto grid = harness.WriteGrid("g.asc", ColumnGrid(2, 2));
    const auto stale = harness.WriteGrid("grid__interpolated.obj.part-2147483646-7", "left by a crash");
#ifndef _WIN32
    const auto running = harness.WriteGrid("grid__interpolated.obj.part-1-7", "of process 1, still running");
#endif
    const JobRecord& r = harness.Run(grid, Interpolated);
    EXPECT_EQ(r.summary.staleFilesRemoved, 1);
    EXPECT_FALSE(std::filesystem::exists(stale));
    EXPECT_NE(FormatJobSummary(r.summary).text.find(L"Removed 1 temporary file of this output"), std::wstring::npos);
#ifndef _WIN32
    EXPECT_TRUE(std::filesystem::exists(running));
#endif
}

TEST(JobSequence, TwoJobsInARowAfterAHeaderReReadGiveTheSameFile) {
    JobHarness harness("twice");
    const auto grid = harness.WriteGrid("g.asc", ColumnGrid(30, 20, "12.345"));
    const std::string first = harness.Run(grid, Interpolated).file;
    EXPECT_TRUE(SameText(harness.Run(grid, Interpolated).file, first));
}

TEST(JobSummaryText, DoneAndCancelledTextsWithGroupedCounts) {
    JobSummary s;
    s.elapsedSeconds = 1.234f;
    s.counts.vertices = 4000;
    s.counts.quads = 1000;
    s.outputPath = WidePath(L"terrain__floating_planes.obj");
    const std::wstring counts =
        L"Conversion time: 1.23 seconds.\n\nVertices: 4 000\nTriangles: 2 000\nQuads 1 000\n\nNo data value: 0";
    const SummaryMessage done = FormatJobSummary(s);
    EXPECT_EQ(done.caption, L"Converting done...");
    EXPECT_EQ(done.text, counts + L"\n\nFile: terrain__floating_planes.obj");
    EXPECT_FALSE(done.warning);
    s.outcome = JobOutcome::Cancelled;
    const SummaryMessage cancelled = FormatJobSummary(s);
    EXPECT_EQ(cancelled.caption, L"Converting cancelled...");
    EXPECT_EQ(cancelled.text, L"---CANCELLED---\n" + counts + L"\n---CANCELLED---\n\nNo file was written.");

    // Cells the file did not supply: a warning line before the file's name.
    s.outcome = JobOutcome::Finished;
    s.counts.missing = 1234;
    const SummaryMessage holes = FormatJobSummary(s);
    EXPECT_TRUE(holes.warning);
    EXPECT_EQ(holes.caption, L"Converting done...");
    EXPECT_EQ(holes.text, counts + L"\n\nThe grid file held 1 234 fewer values than its header promised; "
                                   L"those cells are holes.\n\nFile: terrain__floating_planes.obj");

    // A read that failed names the row and the file not written.
    s.outcome = JobOutcome::ReadFailed;
    s.failedRow = 17;
    const SummaryMessage failed = FormatJobSummary(s);
    EXPECT_EQ(failed.caption, L"Converting failed...");
    EXPECT_EQ(failed.text.rfind(L"The grid file could not be read at row 17, so the file "
                                L"\"terrain__floating_planes.obj\" was not written.", 0), 0u);

    // Any other format than a plain OBJ is named before the file.
    s.outcome = JobOutcome::Finished;
    s.counts.missing = 0;
    s.format = MeshFormatKind::Ply;
    s.normals = true;
    EXPECT_EQ(FormatJobSummary(s).text, counts + L"\n\nFormat: PLY, with vertex normals\n\nFile: terrain__floating_planes.obj");
    s.format = MeshFormatKind::Obj;
    s.normals = false;

    // Counts beyond 32 bits never wrap.
    s.outcome = JobOutcome::Finished;
    s.counts.quads = 600000000;
    s.counts.vertices = 4 * s.counts.quads;
    EXPECT_NE(FormatJobSummary(s).text.find(L"Vertices: 2 400 000 000\nTriangles: 1 200 000 000"),
              std::wstring::npos);
}

}  // namespace
