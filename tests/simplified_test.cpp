// Simplified against the Interpolated surface of the same grid: every one of
// its vertices within E of the mesh, the triangles covering exactly the valid
// cells, none over a hole, all counter-clockwise; E = 0 gives the surface
// back; the same bytes for any number of workers.
#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <set>
#include <random>
#include <sstream>

#include "job/test_hooks.h"
#include "job_harness.h"

namespace {

// A grid of smooth hills with noise and, unless `clean`, a hole of no-data;
// `scattered` of its cells, as a share, are no-data cells of their own.
std::string MakeGrid(std::mt19937& rng, int cols, int rows, bool clean, double scattered = 0.0) {
    std::string text = "ncols " + std::to_string(cols) + "\nnrows " + std::to_string(rows) +
                       "\nxllcorner 0\nyllcorner 0\ncellsize 1\nNODATA_value -9999\n";
    std::uniform_real_distribution<double> noise(-0.3, 0.3);
    const int holeX = static_cast<int>(rng() % cols), holeY = static_cast<int>(rng() % rows);
    for (int r = 0; r < rows; ++r)
        for (int c = 0; c < cols; ++c) {
            const bool hole = (!clean && std::abs(c - holeX) < 4 && std::abs(r - holeY) < 3) ||
                              std::uniform_real_distribution<double>(0, 1)(rng) < scattered;
            const double h = 100 + 20 * std::sin(c / 9.0) * std::cos(r / 7.0) + noise(rng);
            char value[32];
            std::snprintf(value, sizeof value, "%.2f", h);
            text += (hole ? std::string("-9999") : std::string(value)) + (c + 1 < cols ? " " : "\n");
        }
    return text;
}

TEST(Simplified, KeepsEveryVertexWithinTheErrorAndEveryHoleOpen) {
    JobHarness harness("simplified");
    std::mt19937 rng(17);
    struct Case {
        int cols, rows;
        bool clean;
        double maxError;
        double scattered = 0.0;
    };
    const Case cases[] = {{40, 30, false, 0.5}, {40, 30, false, 0.0}, {37, 23, true, 1.0},
                          {600, 130, false, 0.5}, {70, 70, true, 0.0}, {1, 90, true, 0.5}, {90, 1, true, 0.5},
                          {530, 90, true, 0.5, 0.03}, {40, 1100, false, 0.5, 0.01}};
    for (const Case& c : cases) {
        const std::string label = std::to_string(c.cols) + "x" + std::to_string(c.rows) + " E " + std::to_string(c.maxError);
        const auto grid = harness.WriteGrid("g.asc", MakeGrid(rng, c.cols, c.rows, c.clean, c.scattered));
        harness.beforeRun = nullptr;
        const JobRecord full = harness.Run(grid, Interpolated);
        const ObjMesh surface = ParseObj(full.file);
        std::string first;
        double reached = 0.0;
        for (int workers : {1, 2, 7}) {
            harness.workers = workers;
            harness.beforeRun = [&](JobRequest& request, GridStream&) { request.maxError = c.maxError; };
            const JobRecord& r = harness.Run(grid, Simplified);
            ASSERT_EQ(r.summary.outcome, JobOutcome::Finished) << label;
            if (workers == 1) first = r.file;
            reached = r.summary.maxErrorReached;
            EXPECT_TRUE(r.file == first) << label << ", " << workers << " workers";
        }
        const ObjMesh mesh = ParseObj(first);
        // Counter-clockwise triangles whose area is the valid cells' area, and
        // whose centroids lie on valid cells (the Interpolated quads' south-west corners).
        std::set<std::pair<int64_t, int64_t>> validCells;
        for (const auto& q : surface.f)
            validCells.insert({std::llround(surface.v[q[0] - 1][0]), std::llround(surface.v[q[0] - 1][1])});
        double area = 0;
        for (const auto& f : mesh.f) {
            ASSERT_EQ(f[3], -1);
            const auto &a = mesh.v[f[0] - 1], &b = mesh.v[f[1] - 1], &d = mesh.v[f[2] - 1];
            const double twice = (b[0] - a[0]) * (d[1] - a[1]) - (b[1] - a[1]) * (d[0] - a[0]);
            EXPECT_GT(twice, 0) << label;
            area += twice / 2;
            const double cx = (a[0] + b[0] + d[0]) / 3, cy = (a[1] + b[1] + d[1]) / 3;
            EXPECT_TRUE(validCells.count({static_cast<int64_t>(std::floor(cx)), static_cast<int64_t>(std::floor(cy))}))
                << label << ": a triangle over a hole at " << cx << ", " << cy;
        }
        EXPECT_NEAR(area, static_cast<double>(full.summary.counts.quads), 1e-6) << label;
        // Every vertex of the surface within E of the triangle that holds it
        // (plus the printed heights' rounding); triangles found through the
        // cells their bounding boxes cover.
        std::map<std::pair<int64_t, int64_t>, std::vector<std::size_t>> cells;
        for (std::size_t i = 0; i < mesh.f.size(); ++i) {
            const auto& f = mesh.f[i];
            double x0 = 1e300, x1 = -1e300, y0 = 1e300, y1 = -1e300;
            for (int k = 0; k < 3; ++k) {
                x0 = std::min(x0, mesh.v[f[k] - 1][0]), x1 = std::max(x1, mesh.v[f[k] - 1][0]);
                y0 = std::min(y0, mesh.v[f[k] - 1][1]), y1 = std::max(y1, mesh.v[f[k] - 1][1]);
            }
            for (int64_t x = std::llround(x0); x <= std::llround(x1); ++x)
                for (int64_t y = std::llround(y0); y <= std::llround(y1); ++y) cells[{x, y}].push_back(i);
        }
        int64_t checked = 0;
        double worst = 0.0;
        for (const auto& p : surface.v) {
            for (const std::size_t i : cells[{std::llround(p[0]), std::llround(p[1])}]) {
                const auto& f = mesh.f[i];
                const auto &a = mesh.v[f[0] - 1], &b = mesh.v[f[1] - 1], &d = mesh.v[f[2] - 1];
                const double det = (b[0] - a[0]) * (d[1] - a[1]) - (b[1] - a[1]) * (d[0] - a[0]);
                const double u = ((p[0] - a[0]) * (d[1] - a[1]) - (p[1] - a[1]) * (d[0] - a[0])) / det;
                const double w = ((b[0] - a[0]) * (p[1] - a[1]) - (b[1] - a[1]) * (p[0] - a[0])) / det;
                if (u < -1e-9 || w < -1e-9 || u + w > 1 + 1e-9) continue;
                const double z = a[2] + u * (b[2] - a[2]) + w * (d[2] - a[2]);
                EXPECT_LE(std::fabs(z - p[2]), c.maxError + 0.011) << label << " at " << p[0] << ", " << p[1];
                worst = std::max(worst, std::fabs(z - p[2]));
                ++checked;
                break;
            }
        }
        EXPECT_EQ(checked, static_cast<int64_t>(surface.v.size())) << label;
        // The summary's largest error is the one there is, block edges too.
        EXPECT_NEAR(reached, worst, 0.011) << label;
        if (c.maxError > 0 && c.clean) {
            EXPECT_LT(mesh.v.size(), surface.v.size() / 2) << label;
        }
    }
}

// Holes cost their outline only: a hole in a plane adds its four corners, and
// scattered holes add at most their corners to what the clean grid keeps.
TEST(Simplified, KeepsAHoleToItsOutline) {
    JobHarness harness("simplified-holes");
    for (const bool hole : {false, true}) {
        std::string plane = "ncols 100\nnrows 90\nxllcorner 0\nyllcorner 0\ncellsize 1\nNODATA_value -9999\n";
        for (int r = 0; r < 90; ++r)
            for (int c = 0; c < 100; ++c)
                plane += (hole && r == 40 && c == 50 ? "-9999" : "10") + std::string(c < 99 ? " " : "\n");
        // The region's corners and its sides' piece ends; the hole's corners.
        EXPECT_EQ(harness.Run(harness.WriteGrid("plane.asc", plane), Simplified).summary.counts.vertices, hole ? 12 : 8);
    }
    // A height so large that a plane meets its own corners only to a
    // rounding far beyond E: no corner is taken again (it would never end).
    const std::string spike = "ncols 4\nnrows 2\nxllcorner 0\nyllcorner 0\ncellsize 1\n1 2 3 4\n5 6 262162398566154240 8\n";
    EXPECT_EQ(harness.Run(harness.WriteGrid("spike.asc", spike), Simplified).summary.outcome, JobOutcome::Finished);
    std::mt19937 rng(5), same(5);
    const int64_t clean = harness.Run(harness.WriteGrid("clean.asc", MakeGrid(rng, 300, 200, true)), Simplified).summary.counts.vertices;
    const JobRecord& holes = harness.Run(harness.WriteGrid("holes.asc", MakeGrid(same, 300, 200, true, 0.02)), Simplified);
    EXPECT_LE(holes.summary.counts.vertices, clean * 3 / 2 + 4 * holes.summary.counts.nodata);
}

}  // namespace
