// The height bitmap read back with zlib: its pixels against the mapping
// computed here from the grid's values, the same bytes for any number of
// workers, and an earlier bitmap kept by a cancel or a full disk.
#include <gtest/gtest.h>

#include <array>

#include <zlib.h>

#include "job/test_hooks.h"
#include "job_harness.h"
#include "picture/terrain_preview.h"

namespace {

struct Png {
    uint32_t width = 0, height = 0;
    std::vector<uint16_t> pixels;  // row by row, north first
};

uint32_t BigEndian(const std::string& s, std::size_t at) {
    return static_cast<uint32_t>(static_cast<unsigned char>(s[at])) << 24 |
           static_cast<uint32_t>(static_cast<unsigned char>(s[at + 1])) << 16 |
           static_cast<uint32_t>(static_cast<unsigned char>(s[at + 2])) << 8 | static_cast<unsigned char>(s[at + 3]);
}

// Chunks checked by their CRC, the image data inflated (zlib checks its
// Adler-32) and unfiltered.
Png ReadPng(const std::string& file) {
    Png png;
    std::string data;
    for (std::size_t at = 8; at + 12 <= file.size();) {
        const uint32_t size = BigEndian(file, at);
        const std::string type = file.substr(at + 4, 4), body = file.substr(at + 8, size);
        EXPECT_EQ(crc32(crc32(0, reinterpret_cast<const Bytef*>(type.data()), 4),
                        reinterpret_cast<const Bytef*>(body.data()), size), BigEndian(file, at + 8 + size));
        if (type == "IHDR") png.width = BigEndian(body, 0), png.height = BigEndian(body, 4);
        if (type == "IDAT") data += body;
        at += 12 + size;
    }
    const std::size_t stride = 1 + 2 * std::size_t{png.width};
    std::vector<unsigned char> raw(stride * png.height);
    uLongf rawSize = raw.size();
    EXPECT_EQ(uncompress(raw.data(), &rawSize, reinterpret_cast<const Bytef*>(data.data()), data.size()), Z_OK);
    for (uint32_t r = 0; r < png.height; ++r) {
        unsigned char* line = raw.data() + r * stride;
        EXPECT_EQ(line[0], 1);  // Sub
        for (std::size_t i = 3; i < stride; ++i) line[i] = static_cast<unsigned char>(line[i] + line[i - 2]);
        for (uint32_t c = 0; c < png.width; ++c) png.pixels.push_back(static_cast<uint16_t>(line[1 + 2 * c] << 8 | line[2 + 2 * c]));
    }
    return png;
}

JobRecord& RunBitmap(JobHarness& harness, const std::filesystem::path& grid, RegionWindow region) {
    harness.beforeRun = [](JobRequest& request, GridStream&) {
        request.writeMesh = false;
        request.writeHeightBitmap = true;
    };
    JobRecord& r = harness.Run(grid, Interpolated, region);
    r.file = JobHarness::ReadFile(harness.folder / "grid__heightmap.png");
    return r;
}

TEST(HeightBitmap, PixelsMapTheRegionsHeightsAndHoles) {
    JobHarness harness("bitmap");
    // 4 x 3 with no-data, a text token, a short row and a row missing at the end.
    const auto grid = harness.WriteGrid("g.asc", "ncols 4\nnrows 4\nxllcorner 0\nyllcorner 0\ncellsize 1\n"
                                                 "NODATA_value -9999\n10 20 -9999 40\n50 x 70 80\n90 100\n");
    struct Case {
        RegionWindow region;
        std::vector<uint16_t> pixels;  // 0: hole; else 1 + (v - 10) / 90 * 65534 rounded
    };
    const auto gray = [](double v, double lo, double hi) { return static_cast<uint16_t>(1 + std::lround((v - lo) / (hi - lo) * 65534)); };
    const Case cases[] = {
        {{1, 1, 4, 4}, {1, gray(20, 10, 100), 0, gray(40, 10, 100), gray(50, 10, 100), 0, 0, 0, gray(90, 10, 100),
                        65535, 0, 0, 0, 0, 0, 0}},
        {{0, 0, 2, 1}, {0, 0, 0, 0, 1, 65535}},  // rows and columns before the grid's first are holes
        {{3, 1, 4, 1}, {0, 1}},                  // one height only
    };
    for (const Case& c : cases) {
        for (int workers : {1, 7}) {
            harness.workers = workers;
            SetTestHooks(TestHooks{0, 1, 2048});
            const JobRecord& r = RunBitmap(harness, grid, c.region);
            ASSERT_EQ(r.summary.outcome, JobOutcome::Finished);
            const Png png = ReadPng(r.file);
            EXPECT_EQ(png.width, static_cast<uint32_t>(c.region.xMax - c.region.xMin + 1));
            EXPECT_EQ(png.pixels, c.pixels) << "region " << c.region.xMin << "," << c.region.yMin;
        }
    }
    SetTestHooks({});
    EXPECT_EQ(JobHarness::ReadFile(harness.folder / "grid__heightmap.pgw"), "1\r\n0\r\n0\r\n-1\r\n2.5\r\n3.5\r\n");
}

// A cancel in either pass, a full disk or no scratch file keeps an earlier bitmap.
TEST(HeightBitmap, CancelOrFullDiskKeepsTheEarlierBitmap) {
    JobHarness harness("bitmap-kept");
    std::string text = "ncols 50\nnrows 200\nxllcorner 0\nyllcorner 0\ncellsize 1\nNODATA_value -9999\n";
    for (int r = 0; r < 200; ++r)
        for (int c = 0; c < 50; ++c) text += std::to_string(r * c % 97) + (c < 49 ? " " : "\n");
    const auto grid = harness.WriteGrid("g.asc", text);
    const auto earlier = harness.WriteGrid("grid__heightmap.png", "an earlier bitmap");
    struct Case {
        uint64_t cancelAt;  // 0: never
        TestHooks hooks;
        JobOutcome outcome;
    };
    const Case cases[] = {{20, {}, JobOutcome::Cancelled},
                          {70, {}, JobOutcome::Cancelled},
                          {0, {0, 0, 0, 0, 100}, JobOutcome::OutputNotWritten},
                          {0, {0, 0, 0, 0, -1, true}, JobOutcome::ScratchNotWritten}};
    for (const Case& c : cases) {
        harness.cancel = false;
        harness.onProgress = [&](const JobRecord& record) {
            if (c.cancelAt != 0 && static_cast<uint64_t>(record.progress.back().percent) == c.cancelAt) harness.cancel = true;
        };
        SetTestHooks(c.hooks);
        const JobRecord& r = RunBitmap(harness, grid, {1, 1, 50, 200});
        SetTestHooks({});
        EXPECT_EQ(r.summary.outcome, c.outcome) << c.cancelAt;
        EXPECT_EQ(JobHarness::ReadFile(earlier), "an earlier bitmap") << c.cancelAt;
        EXPECT_EQ(r.temporaryFiles, 0) << c.cancelAt;
    }
}

// Heights beyond what the scratch store holds in memory come back from its file.
TEST(HeightBitmap, HeightsBeyondTheScratchMemoryComeBackFromItsFile) {
    JobHarness harness("bitmap-spilled");
    const int cols = 1100, rows = 1000;  // 4.4 MB of heights
    std::string text = "ncols 1100\nnrows 1000\nxllcorner 0\nyllcorner 0\ncellsize 1\nNODATA_value -9999\n";
    std::vector<uint16_t> pixels;
    for (int r = 0; r < rows; ++r)
        for (int c = 0; c < cols; ++c) {
            text += std::to_string(r * c % 97) + (c + 1 < cols ? " " : "\n");
            pixels.push_back(static_cast<uint16_t>(1 + std::lround(r * c % 97 / 96.0 * 65534)));
        }
    const auto grid = harness.WriteGrid("g.asc", text);
    for (int workers : {1, 2}) {
        harness.workers = workers;
        const JobRecord& r = RunBitmap(harness, grid, {1, 1, cols, rows});
        ASSERT_EQ(r.summary.outcome, JobOutcome::Finished);
        EXPECT_EQ(ReadPng(r.file).pixels, pixels) << workers;
        EXPECT_EQ(r.temporaryFiles, 0);
    }
}

// A tall narrow grid: the job's own buffers peak at about the same size for
// 100 000 rows and for 600 000, whose heights go on to the scratch file.
TEST(HeightBitmap, MemoryDoesNotGrowWithTheRows) {
    JobHarness harness("bitmap-memory");
    harness.workers = 2;
    int64_t peak[2] = {0, 0};
    for (int tall = 0; tall < 2; ++tall) {
        const int rows = tall ? 600000 : 100000;
        std::string text = "ncols 3\nnrows " + std::to_string(rows) + "\nxllcorner 0\nyllcorner 0\ncellsize 1\n";
        for (int r = 0; r < rows; ++r) text += "7.25 7.5 7.25\n";
        const JobRecord& r = RunBitmap(harness, harness.WriteGrid("g.asc", text), {1, 1, 3, rows});
        ASSERT_EQ(r.summary.outcome, JobOutcome::Finished);
        peak[tall] = r.summary.peakBufferBytes;
    }
    EXPECT_LE(peak[1], peak[0] + static_cast<int64_t>(kScratchMemoryBytes) + (int64_t{512} << 10));
}

}  // namespace

namespace {

// The terrain preview, pixel by pixel: fitted with the ground's aspect, north
// up, no-data apart.
TEST(TerrainPreview, FitsTheGridNorthUpWithNoDataApart) {
    JobHarness harness("preview");
    struct Case {
        const char* what;
        std::string grid;
        int width, height;
        double left, top, gridWidth, gridHeight;
    };
    const Case cases[] = {
        // One high cell in the north-east corner, 4 x 4 cells into 40 x 20.
        {"north-east peak", "ncols 4\nnrows 4\nxllcorner 0\nyllcorner 0\ncellsize 1\nNODATA_value -9999\n"
                            "1 1 1 9\n1 1 1 1\n1 1 1 1\n-9999 1 1 1\n", 40, 20, 10, 0, 20, 20},
        // 8 x 2 cells of 1 x 3 (dx, dy): a ground of 8 x 6 into 40 x 40.
        {"dx dy aspect", "ncols 8\nnrows 2\nxllcorner 0\nyllcorner 0\ndx 1\ndy 3\nNODATA_value -9999\n"
                         "1 2 3 4 5 6 7 8\n8 7 6 5 4 3 2 1\n", 40, 40, 0, 5, 40, 30},
    };
    for (const Case& c : cases) {
        GridStream input;
        GridHeader header;
        ASSERT_TRUE(ReadGridHeader(harness.WriteGrid("p.asc", c.grid), input, header)) << c.what;
        TerrainPreview preview, tiny;
        const PreviewColours colours;
        ASSERT_TRUE(RenderTerrainPreview(input, header, c.width, c.height, colours, nullptr, preview, 1));
        // The same picture from 7 workers taking a line at a time.
        ASSERT_TRUE(ReadGridHeader(harness.folder / "p.asc", input, header));
        SetTestHooks(TestHooks{0, 1, 2048});
        ASSERT_TRUE(RenderTerrainPreview(input, header, c.width, c.height, colours, nullptr, tiny, 7));
        SetTestHooks({});
        EXPECT_EQ(tiny.rgb, preview.rgb) << c.what;
        EXPECT_DOUBLE_EQ(preview.left, c.left) << c.what;
        EXPECT_DOUBLE_EQ(preview.top, c.top) << c.what;
        EXPECT_DOUBLE_EQ(preview.gridWidth, c.gridWidth) << c.what;
        EXPECT_DOUBLE_EQ(preview.gridHeight, c.gridHeight) << c.what;
        const auto pixel = [&](int x, int y) {
            const uint8_t* p = &preview.rgb[(static_cast<std::size_t>(y) * preview.width + x) * 3];
            return std::array<int, 3>{p[0], p[1], p[2]};
        };
        const std::array<int, 3> background{240, 240, 240}, nodata{200, 200, 200};
        // A corner of the picture is background where the grid leaves a margin
        // there; the grid's own corner pixels never are.
        const int west = static_cast<int>(c.left), north = static_cast<int>(c.top);
        const int east = static_cast<int>(c.left + c.gridWidth) - 1, south = static_cast<int>(c.top + c.gridHeight) - 1;
        EXPECT_EQ(pixel(0, 0) == background, west > 0 || north > 0) << c.what;
        EXPECT_EQ(pixel(c.width - 1, c.height - 1) == background, east < c.width - 1 || south < c.height - 1) << c.what;
        EXPECT_NE(pixel(west, north), background) << c.what;
        EXPECT_NE(pixel(east, south), background) << c.what;
        if (std::string(c.what) == "north-east peak") {
            // The peak is the brightest (highest) place, at the top right; the
            // no-data cell at the bottom left.
            const auto brightness = [&](int x, int y) { const auto p = pixel(x, y); return p[0] + p[1] + p[2]; };
            EXPECT_GT(brightness(27, 2), brightness(12, 12) + 100) << c.what;
            EXPECT_EQ(pixel(12, 17), nodata) << c.what;
        }
    }
}

}  // namespace

namespace {

// A region's relief: its cells in order, one pixel each, as the preview of a
// grid holding just those cells; no-data beyond the grid; the same bytes
// from any number of workers; no picture of an unbounded size.
TEST(TerrainPreview, RegionReliefIsTheRegionsCellsInOrder) {
    JobHarness harness("relief");
    const std::string head = "xllcorner 0\nyllcorner 0\ncellsize 1\nNODATA_value -9999\n";
    const auto grid = harness.WriteGrid("g.asc", "ncols 5\nnrows 4\n" + head +
                                                     "1 2 3 4 5\n2 3 9 5 6\n3 -9999 5 6 7\n4 5 6 7 8\n");
    const auto cut = harness.WriteGrid("cut.asc", "ncols 3\nnrows 2\n" + head + "3 9 5\n-9999 5 6\n");
    const PreviewColours colours;
    const auto render = [&](RegionWindow region, int width, int height, int workers) {
        GridStream input;
        GridHeader header;
        EXPECT_TRUE(ReadGridHeader(grid, input, header));
        TerrainPreview picture;
        SetTestHooks(TestHooks{0, 1, 2048});  // a line a block
        EXPECT_TRUE(RenderRegionRelief(input, header, region, width, height, colours, nullptr, picture, workers));
        SetTestHooks({});
        return picture.rgb;
    };
    GridStream input;
    GridHeader header;
    ASSERT_TRUE(ReadGridHeader(cut, input, header));
    TerrainPreview preview;
    ASSERT_TRUE(RenderTerrainPreview(input, header, 3, 2, colours, nullptr, preview, 1));
    EXPECT_EQ(render({2, 2, 4, 3}, 3, 2, 1), preview.rgb);
    EXPECT_EQ(std::vector<uint8_t>(&preview.rgb[9], &preview.rgb[12]), std::vector<uint8_t>(colours.nodata, colours.nodata + 3));

    // Columns 4 to 7 and rows 3 to 5 of a grid of 5 x 4: the east two and the
    // south one are no-data.
    const std::vector<uint8_t> beyond = render({4, 3, 7, 5}, 4, 3, 2);
    for (int j = 0; j < 3; ++j)
        for (int i = 0; i < 4; ++i)
            EXPECT_EQ(std::equal(colours.nodata, colours.nodata + 3, &beyond[(j * 4 + i) * 3]), i >= 2 || j == 2) << i << j;
    EXPECT_EQ(render({4, 3, 7, 5}, 4, 3, 1), beyond);
    EXPECT_EQ(render({0, 0, 6, 5}, 5, 3, 2), render({0, 0, 6, 5}, 5, 3, 1));  // cells shared between pixels
    ASSERT_TRUE(ReadGridHeader(grid, input, header));
    EXPECT_FALSE(RenderRegionRelief(input, header, {1, 1, 5, 4}, 16385, 1, colours, nullptr, preview));
}

}  // namespace
