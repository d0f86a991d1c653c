// The job frame: progress messages and statuses as the window receives them,
// cancellation in either pass, failures, names and the summary texts.
#include <gtest/gtest.h>

#include <climits>
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

std::vector<ProgressCall> ExpectedProgress(int64_t rangeMax, int rowSteps, int faceSteps) {
    std::vector<ProgressCall> calls = {{kPbmSetStep, 100, 0}, {kPbmSetRange, 0, RangeOf(rangeMax)}};
    for (int i = 0; i < rowSteps; ++i) calls.push_back({kPbmStepIt, 0, 0});
    calls.push_back({kPbmSetPos, 0, 0});
    calls.push_back({kPbmSetRange, 0, RangeOf(100)});
    calls.push_back({kPbmSetStep, 10, 0});
    for (int i = 0; i < faceSteps; ++i) calls.push_back({kPbmStepIt, 0, 0});
    calls.push_back({kPbmSetPos, 0, 0});
    return calls;
}

TEST(JobProgress, TicksEveryHundredthLineAndTenthOfTheFaces) {
    JobHarness harness("progress");
    // 250 rows with empty lines between them: empty lines do not tick.
    std::string text = ColumnGrid(250, 2);
    for (std::size_t at = text.find("5 5\n"); at != std::string::npos; at = text.find("5 5\n", at + 6))
        text.insert(at, "\n");
    const auto grid = harness.WriteGrid("g.asc", text);
    for (MeshMethod method : {FloatingPlanes, Interpolated}) {
        const JobRecord& r = harness.Run(grid, method);
        // 500 quads: threshold 50, ten face steps.
        EXPECT_EQ(r.progress, ExpectedProgress(248, 2, 10)) << method;
        EXPECT_EQ(r.statuses, (std::vector<std::wstring>{L"Calculating vertices...", L"Calculating quads..."}));
        EXPECT_EQ(r.enableCalls, std::vector<bool>{false});
        EXPECT_EQ(r.summaryCalls, 1);
    }
}

TEST(JobProgress, LinesBeforeTheRegionTick) {
    JobHarness harness("progress-region");
    const auto grid = harness.WriteGrid("g.asc", ColumnGrid(400, 1));
    // Rows 150 to 199 are converted; lines 1 to 199 are read: one step.
    // 50 quads: threshold 5.
    EXPECT_EQ(harness.Run(grid, FloatingPlanes, {1, 150, 1, 199}).progress, ExpectedProgress(48, 1, 10));
    // One row: the range's maximum is -1 taken modulo 65536. Fewer than ten
    // quads: every face steps.
    EXPECT_EQ(harness.Run(grid, Interpolated, {1, 7, 1, 7}).progress, ExpectedProgress(65535, 0, 1));
}

TEST(JobCancel, DuringTheVertexPassLeavesVerticesAndNoFaces) {
    for (MeshMethod method : {FloatingPlanes, Interpolated}) {
        JobHarness harness("cancel-vertices");
        const auto grid = harness.WriteGrid("g.asc", ColumnGrid(1000, 1));
        harness.onProgress = [&](const JobRecord& r) {
            if (r.progress.back().message == kPbmStepIt) harness.cancel = true;  // after line 100
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
    bool facePass = false;
    harness.onProgress = [&](const JobRecord& r) {
        const ProgressCall& call = r.progress.back();
        if (call.message == kPbmSetStep && call.wParam == 10) facePass = true;
        if (facePass && call.message == kPbmStepIt) harness.cancel = true;
    };
    const JobRecord& r = harness.Run(grid, FloatingPlanes);
    const std::string body = BodyOf(r.file);
    EXPECT_EQ(CountLinesStartingWith(body, "v "), 4000u);
    EXPECT_EQ(CountLinesStartingWith(body, "f "), 100u);  // threshold 100: cancelled at the first step
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

TEST(JobFailures, AnInterpolatedRegionTooLargeForMemoryTouchesNoFile) {
    JobHarness harness("too-large");
    const auto grid = harness.WriteGrid("g.asc", ColumnGrid(2, 2));
    const JobRecord& r = harness.Run(grid, Interpolated, {1, 1, INT_MAX, INT_MAX});
    EXPECT_EQ(r.summary.outcome, JobOutcome::RegionTooLarge);
    EXPECT_FALSE(r.fileExists);
    EXPECT_TRUE(r.progress.empty());
    EXPECT_TRUE(FormatJobSummary(r.summary, false).failure);
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
                std::fclose(input.file);  // reads from a write-only file fail
                input.file = std::fopen(unreadable.string().c_str(), "ab");
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
