// Differential tests: the fast core (block reader, hand-written scanner and
// formatter, workers formatting blocks of rows, one byte per Interpolated cell
// with recomputed vertex numbers) against the plain reference (getline,
// istringstream, snprintf, corner records), on random grids with no-data,
// short, empty, blank and broken rows, random regions and units, with 1, 2 and
// 7 workers and with work items and chunks so small that every row crosses
// their edges. Fixed seeds; failures name the seed and case.
#include <gtest/gtest.h>

#include <random>
#include <sstream>

#include "job_harness.h"
#include "job/test_hooks.h"
#include "reference_converter.h"

namespace {

#ifdef _WIN32
constexpr int kRandomCases = 400;  // files are slow to create under Wine
#else
constexpr int kRandomCases = 1500;
#endif

struct RandomGrid {
    GridHeader header;
    std::string text;
};

std::string Value(std::mt19937_64& rng, int nodata, double nodataChance) {
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    if (unit(rng) < nodataChance) return std::to_string(nodata);
    char text[64];
    if (rng() % 50 == 0) return (const char* []){"nan", "-inf", "1e39", "INF"}[rng() % 4];  // holes
    switch (rng() % 5) {
        case 0:  // eighths give exact ties in the means
            std::snprintf(text, sizeof text, "%.3f", static_cast<double>(int64_t(rng() % 8001) - 4000) / 8.0);
            break;
        case 1:
            std::snprintf(text, sizeof text, "%lld", static_cast<long long>(rng() % 3000) - 100);
            break;
        case 2:
            std::snprintf(text, sizeof text, "%.2f", 100.0 + unit(rng) * 900.0);
            break;
        case 3:
            std::snprintf(text, sizeof text, "%.7g", (unit(rng) - 0.5) * 1e4);
            break;
        default:
            std::snprintf(text, sizeof text, "%.1f", static_cast<double>(nodata) - 0.5 + unit(rng));
            break;
    }
    return text;
}

RandomGrid MakeGrid(std::mt19937_64& rng) {
    RandomGrid g;
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    g.header.ncols = 1 + static_cast<int32_t>(rng() % 9);
    g.header.nrows = 1 + static_cast<int32_t>(rng() % 9);
    g.header.xllcorner = static_cast<float>((rng() % 2) ? 0.0 : 1000.25 * static_cast<double>(rng() % 5));
    g.header.yllcorner = static_cast<float>((rng() % 2) ? 0.0 : -37.5);
    g.header.cellsize = static_cast<float>((rng() % 3 == 0) ? 0.5 : (rng() % 2 ? 1.0 : 2.5));
    g.header.nodata = (rng() % 4 == 0) ? 0 : -9999;
    const double nodataChance = std::vector<double>{0.0, 0.15, 0.5, 0.9}[rng() % 4];

    std::ostringstream t;
    char number[64];
    t << "ncols " << g.header.ncols << "\nnrows " << g.header.nrows << "\n";
    std::snprintf(number, sizeof number, "%.9g", static_cast<double>(g.header.xllcorner));
    t << "xllcorner " << number << "\n";
    std::snprintf(number, sizeof number, "%.9g", static_cast<double>(g.header.yllcorner));
    t << "yllcorner " << number << "\n";
    std::snprintf(number, sizeof number, "%.9g", static_cast<double>(g.header.cellsize));
    t << "cellsize " << number << "\nNODATA_value " << g.header.nodata << "\n";
    const bool crlf = rng() % 2;
    const int rows = g.header.nrows + static_cast<int>(rng() % 3) - 1;
    for (int r = 0; r < rows; ++r) {
        const double shape = unit(rng);
        if (shape < 0.05) t << (crlf ? "\r\n" : "\n");  // an empty line, not a row
        int cols = g.header.ncols;
        if (shape > 0.9) cols = static_cast<int>(rng() % (g.header.ncols + 2));  // short or long row
        for (int c = 0; c < cols; ++c) {
            t << (c == 0 ? (rng() % 3 == 0 ? "  " : "") : (rng() % 5 == 0 ? "\t" : " "));
            t << Value(rng, g.header.nodata, nodataChance);
        }
        if (shape > 0.97) t << (rng() % 2 ? " junk 5" : " 2,5 5");  // a token that ends the row
        if (shape < 0.03) t << (crlf ? "\r\n \t" : "\n ");  // a blank line
        if (r + 1 < rows || rng() % 2) t << (crlf ? "\r\n" : rng() % 8 ? "\n" : "\r");
    }
    g.text = t.str();
    return g;
}

RegionWindow MakeRegion(std::mt19937_64& rng, const GridHeader& h) {
    switch (rng() % 4) {
        case 0:
            return {1, 1, h.ncols, h.nrows};
        case 1: {  // inside the grid
            const int32_t x0 = 1 + static_cast<int32_t>(rng() % h.ncols);
            const int32_t y0 = 1 + static_cast<int32_t>(rng() % h.nrows);
            return {x0, y0, x0 + static_cast<int32_t>(rng() % (h.ncols - x0 + 1)),
                    y0 + static_cast<int32_t>(rng() % (h.nrows - y0 + 1))};
        }
        case 2:  // beyond the grid
            return {1, 1, h.ncols + 2, h.nrows + 2};
        default:  // anything, inverted included
            return {1 + static_cast<int32_t>(rng() % 10), 1 + static_cast<int32_t>(rng() % 10),
                    1 + static_cast<int32_t>(rng() % 10), 1 + static_cast<int32_t>(rng() % 10)};
    }
}

// Workers and work sizes of a case: the program's own, or tiny blocks (one
// line per work item) and chunks (a few planes each).
struct PipelineShape {
    int workers;
    bool tiny;
};
const PipelineShape kShapes[] = {{1, false}, {2, true}, {7, false}, {1, true}, {2, false}, {7, true}};

void UseShape(JobHarness& harness, const PipelineShape& shape) {
    harness.workers = shape.workers;
    SetTestHooks(shape.tiny ? TestHooks{0, 1, 2048} : TestHooks{});
}

void ExpectSameAsReference(JobHarness& harness, const RandomGrid& grid, MeshMethod method,
                           const RegionWindow& region, float units, const std::string& label) {
    const auto path = harness.WriteGrid("grid.asc", grid.text);
    const JobRecord& record = harness.Run(path, method, region, units);

    std::istringstream in(grid.text);
    GridHeader header;
    ASSERT_TRUE(ReferenceReadHeader(in, header)) << label;
    const std::string name = method == Interpolated ? "grid__interpolated.obj" : "grid__floating_planes.obj";
    std::ostringstream body;
    const JobCounts expected =
        ReferenceConvert(in, header, method, region, units, name, ReferenceRounding::TiesAway, body);

    ASSERT_EQ(record.summary.outcome, JobOutcome::Finished) << label;
    EXPECT_TRUE(SameText(record.file, ExpectedHeaderBlock() + body.str()))
        << label << "\ngrid:\n" << grid.text.substr(0, 4000);
    EXPECT_EQ(record.summary.counts, expected) << label << "\ngrid:\n" << grid.text;
}

TEST(MeshReference, RandomGridsMatchThePlainImplementation) {
    JobHarness harness("reference");
    std::mt19937_64 rng(20261207);
    const float unitChoices[] = {1.0f, 0.5f, 3.0f, 0.3048f};
    for (int i = 0; i < kRandomCases; ++i) {
        const RandomGrid grid = MakeGrid(rng);
        const RegionWindow region = MakeRegion(rng, grid.header);
        const float units = unitChoices[rng() % 4];
        const PipelineShape& shape = kShapes[i % 6];
        UseShape(harness, shape);
        for (MeshMethod method : {Interpolated, FloatingPlanes}) {
            std::ostringstream label;
            label << "case " << i << " method " << method << " region " << region.xMin << "," << region.yMin
                  << ".." << region.xMax << "," << region.yMax << " units " << std::hexfloat << units
                  << " workers " << shape.workers << (shape.tiny ? " tiny blocks" : "");
            ExpectSameAsReference(harness, grid, method, region, units, label.str());
            if (HasFailure()) break;
        }
        if (HasFailure()) break;
    }
    SetTestHooks({});
}

TEST(MeshReference, LargerGridAcrossReadBlocks) {
    // Several MiB of data, so rows straddle the reader's block boundaries.
    JobHarness harness("reference-large");
    std::mt19937_64 rng(7);
    RandomGrid grid;
    grid.header = {700, 400, 500000.0f, 6200000.0f, 1.0f, -9999};
    std::ostringstream t;
    t << "ncols 700\nnrows 400\nxllcorner 500000\nyllcorner 6200000\ncellsize 1\nNODATA_value -9999\n";
    for (int r = 0; r < 400; ++r) {
        for (int c = 0; c < 700; ++c) t << (c ? " " : "") << Value(rng, -9999, 0.05);
        t << "\r\n";
    }
    grid.text = t.str();
    // The same bytes for every number of workers, with the program's own work
    // sizes and with tiny ones.
    struct Conversion {
        MeshMethod method;
        RegionWindow region;
        float units;
    };
    for (const Conversion& c : {Conversion{Interpolated, {1, 1, 700, 400}, 1.0f},
                                Conversion{FloatingPlanes, {35, 20, 600, 390}, 2.0f}}) {
        UseShape(harness, kShapes[0]);
        ExpectSameAsReference(harness, grid, c.method, c.region, c.units, "large, method " + std::to_string(c.method));
        const std::string first = harness.record.file;
        for (const PipelineShape& shape : kShapes) {
            UseShape(harness, shape);
            const JobRecord& r = harness.Run(harness.folder / "grid.asc", c.method, c.region, c.units);
            EXPECT_TRUE(r.file == first) << "method " << c.method << " workers " << shape.workers
                                         << (shape.tiny ? " tiny blocks" : "");
        }
    }
    SetTestHooks({});
}

}  // namespace
