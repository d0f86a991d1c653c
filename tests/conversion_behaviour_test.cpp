// The job frame: progress messages and statuses as the window receives them,
// cancellation in either pass, failures, names and the summary texts.
#include <gtest/gtest.h>

#include <array>
#include <climits>
#include <cmath>
#include <map>
#include <set>
#include <cstdio>
#include <fstream>

#include "grid/path_parts.h"
#include "job_harness.h"
#include "mesh/obj_writer.h"

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

int64_t RangeOf(int64_t maximum) { return (maximum & 0xFFFF) << 16; }

// The bar's positions during a job, checked to run forward: the job sets the
// range 0 to 100 and position 0 first and position 0 again at its end.
std::vector<uint64_t> Positions(const JobRecord& r) {
    const std::vector<ProgressCall> frame = {{kPbmSetRange, 0, RangeOf(100)}, {kPbmSetPos, 0, 0}};
    EXPECT_GE(r.progress.size(), 3u);
    if (r.progress.size() < 3) return {};
    EXPECT_EQ(std::vector<ProgressCall>(r.progress.begin(), r.progress.begin() + 2), frame);
    EXPECT_EQ(r.progress.back(), (ProgressCall{kPbmSetPos, 0, 0}));
    std::vector<uint64_t> positions;
    for (auto call = r.progress.begin() + 2; call + 1 != r.progress.end(); ++call) {
        EXPECT_EQ(call->message, kPbmSetPos);
        EXPECT_TRUE(positions.empty() || call->wParam > positions.back()) << "went back to " << call->wParam;
        positions.push_back(call->wParam);
    }
    return positions;
}

std::vector<uint64_t> OneToHundred() {
    std::vector<uint64_t> all(100);
    for (uint64_t i = 0; i < 100; ++i) all[i] = i + 1;
    return all;
}

TEST(JobProgress, RunsForwardOnceOverTheRowsOfBothPasses) {
    JobHarness harness("progress");
    // 250 rows with empty lines between them: empty lines are not rows.
    std::string text = ColumnGrid(250, 2);
    for (std::size_t at = text.find("5 5\n"); at != std::string::npos; at = text.find("5 5\n", at + 6))
        text.insert(at, "\n");
    const auto grid = harness.WriteGrid("g.asc", text);
    for (MeshMethod method : {FloatingPlanes, Interpolated}) {
        const JobRecord& r = harness.Run(grid, method);
        EXPECT_EQ(Positions(r), OneToHundred()) << method;
        EXPECT_EQ(r.statuses, (std::vector<std::wstring>{L"Calculating vertices...", L"Calculating quads..."}));
        EXPECT_EQ(r.enableCalls, std::vector<bool>{false});
        EXPECT_EQ(r.summaryCalls, 1);
    }
}

TEST(JobProgress, CountsFromYMinToYMax) {
    JobHarness harness("progress-region");
    const auto grid = harness.WriteGrid("g.asc", ColumnGrid(400, 1));
    // Rows 150 to 199 of 400: one step per row from row 150 on, never wrapping.
    EXPECT_EQ(Positions(harness.Run(grid, FloatingPlanes, {1, 150, 1, 199})), OneToHundred());
    // One row; and 2^32 rows over a short file, the missing ones done at once.
    EXPECT_EQ(Positions(harness.Run(grid, Interpolated, {1, 7, 1, 7})), (std::vector<uint64_t>{50, 100}));
    for (MeshMethod method : {FloatingPlanes, Interpolated}) {
        const std::vector<uint64_t> p = Positions(harness.Run(grid, method, {1, INT_MIN, 1, INT_MAX}));
        ASSERT_FALSE(p.empty());
        EXPECT_EQ(p.back(), 100u);
    }
}

TEST(JobCancel, DuringTheVertexPassLeavesVerticesAndNoFaces) {
    for (MeshMethod method : {FloatingPlanes, Interpolated}) {
        JobHarness harness("cancel-vertices");
        const auto grid = harness.WriteGrid("g.asc", ColumnGrid(1000, 1));
        harness.onProgress = [&](const JobRecord& r) {
            if (r.progress.back().wParam == 5) harness.cancel = true;  // after row 100 of 1000
        };
        const JobRecord& r = harness.Run(grid, method);
        EXPECT_EQ(r.summary.quadCount, 100);
        const std::string body = BodyOf(r.file);
        EXPECT_EQ(CountLinesStartingWith(body, "v "), static_cast<std::size_t>(r.summary.vertexCount));
        EXPECT_EQ(CountLinesStartingWith(body, "f "), 0u);
        const std::string name = method == Interpolated ? "grid__interpolated.obj" : "grid__floating_planes.obj";
        const std::string tail = "o " + name + "\r\ng " + name + "\r\n# 100 quads";
        EXPECT_EQ(body.substr(body.size() - tail.size()), tail) << method;
        EXPECT_EQ(FormatJobSummary(r.summary, true).caption, L"Converting cancelled...");
    }
}

TEST(JobCancel, DuringTheFacePassKeepsAllVerticesAndTheFullQuadCount) {
    JobHarness harness("cancel-faces");
    const auto grid = harness.WriteGrid("g.asc", ColumnGrid(100, 10));
    harness.onProgress = [&](const JobRecord& r) {
        if (r.progress.back().wParam == 51) harness.cancel = true;  // face pass, after face 20 of 1000
    };
    const JobRecord& r = harness.Run(grid, FloatingPlanes);
    const std::string body = BodyOf(r.file);
    EXPECT_EQ(CountLinesStartingWith(body, "v "), 4000u);
    EXPECT_EQ(CountLinesStartingWith(body, "f "), 20u);
    EXPECT_EQ(body.substr(body.size() - 12), "# 1000 quads");
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
    const SummaryMessage message = FormatJobSummary(r.summary, false);
    EXPECT_TRUE(message.failure);
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
    for (MeshMethod method : {Interpolated, FloatingPlanes}) {
        const JobRecord& r = harness.Run(huge, method);
        EXPECT_EQ(r.summary.outcome, JobOutcome::Finished) << method;
        EXPECT_EQ(r.summary.quadCount, 5);
        EXPECT_EQ(r.summary.missingCount, int64_t{100000} * 100000 - 5);
        // Cells outside the header's grid were never promised: not missing.
        for (RegionWindow region : {RegionWindow{1, 1, INT_MAX, INT_MAX}, RegionWindow{1, INT_MIN, 1, INT_MAX},
                                    RegionWindow{INT_MIN, 1, INT_MAX, 2}}) {
            const JobRecord& s = harness.Run(small, method, region);
            EXPECT_EQ(s.summary.outcome, JobOutcome::Finished) << method;
            EXPECT_EQ(s.summary.quadCount, region.xMax == 1 ? 2 : 4);
            EXPECT_EQ(s.summary.missingCount, 0);
        }
    }
}

// The cells of each grid text, row by row: a number, N for no-data, - for a
// missing cell. Floating planes shows every value at its place (each plane's
// first vertex is its cell's north-west corner); Interpolated has a face for
// exactly the valid cells, each on its own four corners.
struct CellCase {
    const char* what;
    std::string text;
    const char* cells;
    float dy = 0.0f;                // a dx/dy header: cellsize is dx
    const char* nodata = nullptr;   // a no-data value that is not whole
};

std::map<std::pair<int, int>, std::string> ExpectedCells(const CellCase& c, int& nodata, int& missing) {
    std::map<std::pair<int, int>, std::string> cells;
    std::istringstream rows(c.cells);
    std::string row;
    for (int r = 1; std::getline(rows, row, '/'); ++r) {
        std::istringstream tokens(row);
        std::string token;
        for (int column = 1; tokens >> token; ++column) {
            if (token == "N") ++nodata;
            else if (token == "-") ++missing;
            else cells[{r, column}] = token + ".00";
        }
    }
    return cells;
}

struct ObjMesh {
    std::vector<std::array<double, 3>> vertices;
    std::vector<std::array<int64_t, 4>> faces;
};

ObjMesh ParseObj(const std::string& file) {
    ObjMesh mesh;
    std::istringstream lines(file);
    std::string line;
    while (std::getline(lines, line)) {
        std::istringstream fields(line.substr(std::min<std::size_t>(2, line.size())));
        if (line.rfind("v ", 0) == 0) {
            std::array<double, 3> v{};
            fields >> v[0] >> v[1] >> v[2];
            mesh.vertices.push_back(v);
        } else if (line.rfind("f ", 0) == 0) {
            std::array<int64_t, 4> f{};
            fields >> f[0] >> f[1] >> f[2] >> f[3];
            mesh.faces.push_back(f);
        }
    }
    return mesh;
}

std::string Height(double z) {
    char text[32];
    std::snprintf(text, sizeof text, "%.2f", z);
    return text;
}

TEST(JobCells, GridTextsGiveTheirCellsAndHoles) {
    const std::string h32 = "ncols 3\nnrows 2\nxllcorner 0\nyllcorner 0\ncellsize 1\nNODATA_value -9999";
    const std::string h32dx = "ncols 3\nnrows 2\nxllcorner 0\nyllcorner 0\ncellsize 2";
    const CellCase cases[] = {
        {"LF", h32 + "\n1 2 3\n4 5 6\n", "1 2 3/4 5 6"},
        {"CR LF, tabs, trailing blanks", h32 + "\r\n1\t2 3 \r\n 4 5\t6\t\r\n", "1 2 3/4 5 6"},
        {"blank after the header", h32 + " \t\n1 2 3\n4 5 6", "1 2 3/4 5 6"},
        {"whitespace-only lines", h32 + "\n\n1 2 3\n  \n\t\r\n4 5 6\n \n", "1 2 3/4 5 6"},
        {"lone CR", h32 + "\r1 2 3\r4 5 6\r", "1 2 3/4 5 6"},
        {"no-data", h32 + "\n1 -9999 3\n-9999 5 6\n", "1 N 3/N 5 6"},
        {"short row", h32 + "\n1 2\n4 5 6\n", "1 2 -/4 5 6"},
        {"row missing at the end", h32 + "\n1 2 3\n", "1 2 3/- - -"},
        {"decimal comma", h32 + "\n1 2,5 3\n4 5 6\n", "1 - -/4 5 6"},
        {"text", h32 + "\n1 2 3\nn/a 5 6\n", "1 2 3/- - -"},
        {"cut mid-row", h32 + "\n1 2 3\n4 5", "1 2 3/4 5 -"},
        {"cut mid-number", h32 + "\n1 2 3\n4 5 6e", "1 2 3/4 5 -"},
        {"dx dy with no-data line", h32dx + "\nNODATA_value -1\n1 -1 3\n4 5 6\n", "1 N 3/4 5 6", 0.5f},
        {"dx dy without no-data line", h32dx + "\n1 -9999 3\n4 5 6\n", "1 N 3/4 5 6", 0.5f},
        {"float no-data", h32 + "\n1 -3.4028234663852886e+38 3\n4 5 6\n", "1 N 3/4 5 6", 0.0f,
         "-3.4028234663852886e+38"},
        {"float no-data, other digits", h32 + "\n1 -3.4028230607370965e+38 3\n4 5 6\n", "1 N 3/4 5 6", 0.0f,
         "-3.4028230607370965e+38"},
        {"-1e+30", h32 + "\n1 -1e+30 3\n-1e30 5 6\n", "1 N 3/N 5 6", 0.0f, "-1e+30"},
        {"nan no-data", h32 + "\n1 nan 3\n-NaN 5 6\n", "1 N 3/N 5 6", 0.0f, "nan"},
        {"double-range no-data", h32 + "\n1 -1.7976931348623157081e+308 3\n4 5 6\n", "1 N 3/4 5 6", 0.0f,
         "-1.7976931348623157e+308"},
        {"nan, inf and 1e39 are holes", h32 + "\n1 nan 3\n-inf 5 1e39\n", "1 N 3/N 5 N"},
    };
    JobHarness harness("cells");
    for (const CellCase& c : cases) {
        SCOPED_TRACE(c.what);
        int nodata = 0, missing = 0;
        const auto expected = ExpectedCells(c, nodata, missing);
        // dx/dy headers and no-data values that are not whole are given to
        // the job as the header reader reads them.
        harness.beforeRun = [&](JobRequest& request, GridStream&) {
            if (c.dy != 0.0f) {
                request.header.nonSquare = true;
                request.header.cellsizeY = c.dy;
            }
            if (c.nodata != nullptr) {
                request.header.nodataWhole = false;
                request.header.nodataValue = std::strtof(c.nodata, nullptr);
            }
        };
        const auto grid = harness.WriteGrid("g.asc", c.text);
        const float dx = c.dy != 0.0f ? 2.0f : 1.0f, dy = c.dy != 0.0f ? c.dy : 1.0f;

        const JobRecord& planes = harness.Run(grid, FloatingPlanes);
        std::map<std::pair<int, int>, std::string> got;
        const ObjMesh mesh = ParseObj(planes.file);
        for (std::size_t k = 0; k + 3 < mesh.vertices.size(); k += 4) {
            const auto& nw = mesh.vertices[k];
            got[{2 - static_cast<int>(std::lround(nw[1] / dy)) + 1, static_cast<int>(std::lround(nw[0] / dx)) + 1}] =
                Height(nw[2] / dx);
            EXPECT_DOUBLE_EQ(mesh.vertices[k + 2][0] - nw[0], dx);
            EXPECT_DOUBLE_EQ(nw[1] - mesh.vertices[k + 2][1], dy);
        }
        EXPECT_EQ(got, expected);
        EXPECT_EQ(planes.summary.nodataCount, nodata);
        EXPECT_EQ(planes.summary.missingCount, missing);

        const JobRecord& joined = harness.Run(grid, Interpolated);
        const ObjMesh corners = ParseObj(joined.file);
        std::set<std::pair<int, int>> faceCells;
        for (const auto& f : corners.faces) {
            for (int64_t index : f) ASSERT_TRUE(index >= 1 && index <= static_cast<int64_t>(corners.vertices.size()));
            const auto& sw = corners.vertices[f[0] - 1];
            const double x[4] = {0, dx, dx, 0}, y[4] = {0, 0, dy, dy};
            for (int i = 1; i < 4; ++i) {
                EXPECT_DOUBLE_EQ(corners.vertices[f[i] - 1][0], sw[0] + x[i]) << "face corner " << i;
                EXPECT_DOUBLE_EQ(corners.vertices[f[i] - 1][1], sw[1] + y[i]) << "face corner " << i;
            }
            faceCells.insert({2 - static_cast<int>(std::lround(sw[1] / dy)), static_cast<int>(std::lround(sw[0] / dx)) + 1});
        }
        std::set<std::pair<int, int>> valid;
        for (const auto& cell : expected) valid.insert(cell.first);
        EXPECT_EQ(faceCells, valid);
        EXPECT_EQ(joined.summary.nodataCount, nodata);
        EXPECT_EQ(joined.summary.missingCount, missing);
    }
}

TEST(JobFailures, EmptyOrInvertedRegionsAndClosedInputWriteAnEmptyMesh) {
    JobHarness harness("empty");
    const auto grid = harness.WriteGrid("g.asc", ColumnGrid(12, 12));
    const RegionWindow inverted[] = {{10, 5, 5, 5}, {5, 10, 5, 5}, {10, 10, 5, 5}};
    for (MeshMethod method : {Interpolated, FloatingPlanes}) {
        for (const RegionWindow& region : inverted) {
            const JobRecord& r = harness.Run(grid, method, region);
            EXPECT_EQ(r.summary.outcome, JobOutcome::Finished);
            EXPECT_EQ(r.summary.vertexCount, 0);
            EXPECT_EQ(r.summary.quadCount, 0);
            EXPECT_EQ(CountLinesStartingWith(BodyOf(r.file), "v "), 0u);
        }
    }
    // An input stream that is closed (a header re-read that failed).
    GridStream closed;
    JobRequest request;
    request.region = {1, 1, 4, 4};
    request.outputDir = harness.folder;
    request.timestamp = "2026-12-07, 14:03";
    const JobRecord& r = harness.Run(request, closed);
    EXPECT_EQ(r.file, ExpectedHeaderBlock() +
                          "# 0 vertices\r\n\r\no __interpolated.obj\r\ng __interpolated.obj\r\n# 0 quads");
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
            EXPECT_EQ(before.summary.quadCount, 8);
            const JobRecord& within = harness.Run(grid, method, {2, 2, 3, 3});
            EXPECT_EQ(within.summary.outcome, JobOutcome::ReadFailed) << method << ioError;
            EXPECT_EQ(within.summary.failedRow, 3);
            EXPECT_EQ(within.summary.quadCount, 2);
            EXPECT_EQ(CountLinesStartingWith(BodyOf(within.file), "f "), 0u);
        }
    }
}

TEST(JobNames, NarrowNameStopsAboveLatin1ButTheFileKeepsItsUnicodeName) {
    EXPECT_EQ(NarrowOutputName(L"h\u00e9", Interpolated), "h\xe9__interpolated.obj");
    EXPECT_EQ(NarrowOutputName(L"ab\u0101cd", FloatingPlanes), "ab__floating_planes.obj");
    EXPECT_EQ(OutputFileName(L"ab\u0101cd", FloatingPlanes), L"ab\u0101cd__floating_planes.obj");

    JobHarness harness("names");
    const auto grid = harness.WriteGrid("g.asc", ColumnGrid(2, 2));
    const std::wstring long_stem(120, L'x');
    for (const std::wstring& stem : {std::wstring(L"\u5c71\u5730"), std::wstring(L"\u6cb3\u5ddd"), long_stem}) {
        const JobRecord& r = harness.Run(grid, Interpolated, {}, 1.0f, stem);
        EXPECT_TRUE(r.fileExists);
        EXPECT_EQ(PathToWide(r.summary.outputPath.filename()), stem + L"__interpolated.obj");
    }
}

TEST(JobSequence, TwoJobsInARowAfterAHeaderReReadGiveTheSameFile) {
    JobHarness harness("twice");
    const auto grid = harness.WriteGrid("g.asc", ColumnGrid(30, 20, "12.345"));
    const std::string first = harness.Run(grid, Interpolated).file;
    EXPECT_EQ(harness.Run(grid, Interpolated).file, first);
}

TEST(JobSummaryText, DoneAndCancelledTextsWithGroupedCounts) {
    JobSummary s;
    s.elapsedSeconds = 1.234f;
    s.vertexCount = 4000;
    s.quadCount = 1000;
    const SummaryMessage done = FormatJobSummary(s, false);
    EXPECT_EQ(done.caption, L"Converting done...");
    EXPECT_EQ(done.text,
              L"Conversion time: 1.23 seconds.\n\nVertices: 4 000\nTriangles: 2 000\nQuads 1 000\n\nNo data value: 0");
    EXPECT_FALSE(done.failure);
    const SummaryMessage cancelled = FormatJobSummary(s, true);
    EXPECT_EQ(cancelled.caption, L"Converting cancelled...");
    EXPECT_EQ(cancelled.text, L"---CANCELLED---\n" + done.text + L"\n---CANCELLED---");

    // Counts beyond 32 bits never wrap.
    s.quadCount = 600000000;
    s.vertexCount = 4 * s.quadCount;
    EXPECT_NE(FormatJobSummary(s, false).text.find(L"Vertices: 2 400 000 000\nTriangles: 1 200 000 000"),
              std::wstring::npos);
}

TEST(JobSummaryText, FaceIndicesBeyondThirtyTwoBits) {
    const int64_t k = 600000000;  // a plane of a region over 536 million cells
    char line[kMaxFaceLineBytes];
    char* end = PutFaceLine(line, 4 * k, 4 * k - 1, 4 * k - 2, 4 * k - 3);
    EXPECT_EQ(std::string(line, end), "f 2400000000 2399999999 2399999998 2399999997\r\n");
}

}  // namespace
