// Golden files: the worked examples and header cases, converted byte for byte.
// Each golden file was checked by hand against the worked example it shows.
#include <gtest/gtest.h>

#include "job_harness.h"

namespace {

struct GoldenCase {
    const char* grid;  // its stem names the output (fixed here, not split from the path)
    MeshMethod method;
    RegionWindow region;  // all 0: the whole grid
    float unitMeters;
    const char* golden;
};

const GoldenCase kCases[] = {
    // Floating planes: the 2 x 2 example with one no-data cell and the
    // negative-zero lower edges; cellsize 2 scales positions and heights;
    // xllcorner is scaled like a count of cells; a region of columns 3 to 5
    // skips columns 1 and 2 (no-data there is not counted) and column 6.
    {"planes_example.asc", FloatingPlanes, {}, 1.0f, "planes_example__floating_planes.obj"},
    {"planes_cellsize2.asc", FloatingPlanes, {}, 1.0f, "planes_cellsize2__floating_planes.obj"},
    {"planes_xll1000.asc", FloatingPlanes, {}, 1.0f, "planes_xll1000__floating_planes.obj"},
    {"planes_columns3to5.asc", FloatingPlanes, {3, 1, 5, 2}, 1.0f, "planes_columns3to5__floating_planes.obj"},
    // Units of 0 make the scale infinite: non-finite coordinates as inf/nan.
    {"planes_example.asc", FloatingPlanes, {}, 0.0f, "planes_units0.expected"},
    // Interpolated: one cell, one no-data cell, the 2 x 2 square with and
    // without a no-data corner cell, and a region that starts at column 2.
    {"corners_single.asc", Interpolated, {}, 1.0f, "corners_single__interpolated.obj"},
    {"corners_single_nodata.asc", Interpolated, {}, 1.0f, "corners_single_nodata__interpolated.obj"},
    {"corners_square.asc", Interpolated, {}, 1.0f, "corners_square__interpolated.obj"},
    {"corners_square_nodata.asc", Interpolated, {}, 1.0f, "corners_square_nodata__interpolated.obj"},
    {"corners_square.asc", Interpolated, {2, 1, 2, 2}, 1.0f, "corners_square_column2.expected"},
    // Headers: the standard 4 x 3 file with CR LF and an empty line between
    // rows; no no-data line (the sixth position is row 1's first value); a
    // fractional no-data value; all six pairs and row 1 on one line.
    {"header_standard.asc", Interpolated, {}, 1.0f, "header_standard__interpolated.obj"},
    {"header_without_nodata.asc", Interpolated, {}, 1.0f, "header_without_nodata__interpolated.obj"},
    {"header_fractional_nodata.asc", Interpolated, {}, 1.0f, "header_fractional_nodata__interpolated.obj"},
    {"header_one_line.asc", Interpolated, {}, 1.0f, "header_one_line__interpolated.obj"},
};

TEST(GoldenFiles, EveryWorkedExampleByteForByte) {
    const std::filesystem::path data = std::filesystem::path(DUNMOOR_TESTDATA) / "golden";
    JobHarness harness("golden");
    for (const GoldenCase& c : kCases) {
        const std::string grid = c.grid;
        const std::wstring stem(grid.begin(), grid.end() - 4);  // without ".asc"
        const JobRecord& record = harness.Run(data / c.grid, c.method, c.region, c.unitMeters, stem);
        // The output lands in the harness's folder, never beside the golden files.
        EXPECT_EQ(record.summary.outputPath.parent_path(), harness.folder) << c.grid;
        const std::string expected = JobHarness::ReadFile(data / c.golden);
        ASSERT_FALSE(expected.empty()) << c.golden;
        EXPECT_TRUE(SameText(record.file, expected)) << c.grid << " -> " << c.golden;
    }
}

TEST(GoldenFiles, WorkedExampleCounts) {
    const std::filesystem::path data = std::filesystem::path(DUNMOOR_TESTDATA) / "golden";
    JobHarness harness("golden-counts");
    const JobSummary planes = harness.Run(data / "planes_example.asc", FloatingPlanes).summary;
    EXPECT_EQ(planes.counts, (JobCounts{12, 3, 1, 0}));
    const JobSummary single = harness.Run(data / "corners_single_nodata.asc", Interpolated).summary;
    EXPECT_EQ(single.counts, (JobCounts{0, 0, 1, 0}));
    const JobSummary square = harness.Run(data / "corners_square_nodata.asc", Interpolated).summary;
    EXPECT_EQ(square.counts, (JobCounts{8, 3, 1, 0}));
}

}  // namespace
