// True scale against coordinates computed from the header alone: spacing,
// origin, height scale, the decimals rule and single-precision read-back, for
// both methods and both up axes; and where the classic geometry warns.
#include <gtest/gtest.h>

#include <cmath>
#include <set>
#include <sstream>

#include "job_harness.h"

namespace {

struct TrueScaleCase {
    const char* what;
    std::string header;  // without ncols/nrows: the grid is `cols` x `rows`
    int cols, rows;
    RegionWindow region;   // {0,0,0,0}: the whole grid
    float units;
    const char* prj;       // nullptr: no .prj
    double metresEast, metresNorth, heightMetres;  // per cell and per height unit, as the ground says
    bool classicMisplaced;
};

// Metres per degree at latitude phi on WGS 84: east N cos(phi), north M.
constexpr double kRadian = 3.14159265358979323846 / 180;
double DegreeEast(double phi) {
    const double e2 = 0.00669437999014, s = std::sin(phi * kRadian);
    return 6378137 / std::sqrt(1 - e2 * s * s) * std::cos(phi * kRadian) * kRadian;
}
double DegreeNorth(double phi) {
    const double e2 = 0.00669437999014, s = std::sin(phi * kRadian);
    return 6378137 * (1 - e2) / std::pow(1 - e2 * s * s, 1.5) * kRadian;
}

const char kGeographic[] = "GEOGCS[\"WGS 84\",DATUM[\"WGS_1984\"],UNIT[\"degree\",0.0174532925199433]]";
const char kUsFeet[] =
    "PROJCS[\"NAD83 / Colorado North (ftUS)\",GEOGCS[\"NAD83\",UNIT[\"degree\",0.0174532925199433]],"
    "PROJECTION[\"Lambert_Conformal_Conic_2SP\"],UNIT[\"US survey foot\",0.304800609601219]]";
const char kKilometres[] =
    "PROJCS[\"UTM 32N (km)\",GEOGCS[\"WGS 84\",UNIT[\"degree\",0.0174532925199433]],"
    "PROJECTION[\"Transverse_Mercator\"],UNIT[\"Kilometer\",1000]]";

// Decimals of a number's text.
int DecimalsOf(const std::string& number) {
    const std::size_t point = number.find('.');
    return point == std::string::npos ? 0 : static_cast<int>(number.size() - point - 1);
}

TEST(TrueScale, PlacesEveryVertexFromTheHeaderAlone) {
    const double lat = 47.0 + 0.0008333333 * 3 / 2;  // the degree grid's middle
    const TrueScaleCase cases[] = {
        {"cellsize 1", "xllcorner 0\nyllcorner 0\ncellsize 1\n", 5, 4, {}, 1.0f, nullptr, 1, 1, 1, false},
        {"cellsize 2.5, UTM", "xllcorner 512000\nyllcorner 6234000\ncellsize 2.5\n", 5, 4, {}, 1.0f, nullptr,
         2.5, 2.5, 1, true},
        {"cellsize 0.5, units 0.01", "xllcorner 3\nyllcorner 4\ncellsize 0.5\n", 5, 4, {}, 0.01f, nullptr, 0.5, 0.5,
         1, false},
        {"dx and dy, units 1000", "xllcorner 0\nyllcorner 0\ndx 2\ndy 3\n", 5, 4, {}, 1000.0f, nullptr, 2, 3, 1, true},
        {"region away from the corner", "xllcorner 100\nyllcorner 200\ncellsize 1\n", 5, 4, {2, 2, 4, 3}, 1.0f,
         nullptr, 1, 1, 1, false},
        {"degrees, no .prj", "xllcorner 10\nyllcorner 47\ncellsize 0.0008333333\n", 5, 3, {}, 1.0f, nullptr,
         0.0008333333 * DegreeEast(lat), 0.0008333333 * DegreeNorth(lat), 1, true},
        {"degrees, .prj", "xllcorner 10\nyllcorner 47\ncellsize 0.0008333333\n", 5, 3, {}, 1.0f, kGeographic,
         0.0008333333 * DegreeEast(lat), 0.0008333333 * DegreeNorth(lat), 1, true},
        {"US survey feet", "xllcorner 3000000\nyllcorner 1200000\ncellsize 3\n", 5, 4, {}, 1.0f, kUsFeet,
         3 * 1200.0 / 3937, 3 * 1200.0 / 3937, 1200.0 / 3937, false},
        {"kilometres", "xllcorner 512\nyllcorner 6234\ncellsize 0.5\n", 5, 4, {}, 1.0f, kKilometres, 500, 500, 1000,
         false},
    };
    JobHarness harness("true-scale");
    for (const TrueScaleCase& c : cases) {
        std::string text = "ncols " + std::to_string(c.cols) + "\nnrows " + std::to_string(c.rows) + "\n" + c.header +
                           "NODATA_value -9999\n";
        for (int r = 1; r <= c.rows; ++r)
            for (int k = 1; k <= c.cols; ++k) text += std::to_string(100 + 10 * r + k) + (k < c.cols ? " " : "\n");
        const auto grid = harness.WriteGrid("g.asc", text);
        const RegionWindow region = c.region.xMax != 0 ? c.region : RegionWindow{1, 1, c.cols, c.rows};
        const double stepX = c.metresEast / c.units, stepY = c.metresNorth / c.units;
        const double tolerance = std::min(stepX, stepY) / 1000, heightTolerance = 0.001 / c.units;
        for (MeshMethod method : {FloatingPlanes, Interpolated}) {
            for (UpAxis up : {ZUp, YUp}) {
                const std::string label = std::string(c.what) + (method == Interpolated ? ", interpolated" : ", planes") +
                                          (up == YUp ? ", y up" : ", z up");
                harness.beforeRun = [&](JobRequest& request, GridStream&) {
                    request.geometry = TrueScaleGeometry;
                    request.up = up;
                    request.hasProjection = c.prj != nullptr;
                    request.projection = c.prj != nullptr ? c.prj : "";
                };
                const JobRecord& r = harness.Run(grid, method, region, c.units);
                ASSERT_EQ(r.summary.outcome, JobOutcome::Finished) << label;
                EXPECT_NE(r.file.find("# Geometry: true scale"), std::string::npos) << label;
                std::istringstream lines(r.file);
                std::set<std::pair<double, double>> places;
                int64_t planeVertex = 0;
                for (std::string line; std::getline(lines, line);) {
                    if (line.rfind("v ", 0) != 0) continue;
                    std::istringstream fields(line.substr(2));
                    std::string tx, ty, tz;
                    fields >> tx >> ty >> tz;
                    const double x = std::stod(tx), y = up == YUp ? -std::stod(tz) : std::stod(ty);
                    const double h = std::stod(up == YUp ? ty : tz);
                    places.insert({x, y});
                    // Each position is a whole number of cells from the origin,
                    // also once read back as a float; no decimal is spare.
                    for (double at : {x, static_cast<double>(static_cast<float>(x))})
                        EXPECT_NEAR(at, std::round(x / stepX) * stepX, tolerance) << label << ": " << line;
                    EXPECT_NEAR(y, std::round(y / stepY) * stepY, tolerance) << label << ": " << line;
                    const int decimals = DecimalsOf(tx);
                    EXPECT_TRUE(decimals == 0 || 0.5 * std::pow(10.0, 1 - decimals) > tolerance * 0.404) << label;
                    // A plane's first vertex is its cell's north-west corner, at its height.
                    if (method == FloatingPlanes && planeVertex++ % 4 == 0) {
                        const int col = region.xMin + static_cast<int>(std::lround(x / stepX));
                        const int row = region.yMax + 1 - static_cast<int>(std::lround(y / stepY));
                        EXPECT_NEAR(h, (100 + 10 * row + col) * c.heightMetres / c.units, heightTolerance) << label;
                    }
                }
                // The origin is the region's south-west corner; every vertex has a place of its own.
                EXPECT_EQ(places.begin()->first, 0.0) << label;
                if (method == Interpolated) {
                    EXPECT_EQ(static_cast<int64_t>(places.size()), r.summary.counts.vertices) << label;
                }
                EXPECT_NEAR(places.rbegin()->first, (region.xMax - region.xMin + 1) * stepX, tolerance) << label;
            }
        }
        harness.beforeRun = [&](JobRequest& request, GridStream&) {
            request.hasProjection = c.prj != nullptr;
            request.projection = c.prj != nullptr ? c.prj : "";
        };
        const JobRecord& classic = harness.Run(grid, Interpolated, region, c.units);
        EXPECT_EQ(classic.summary.classicMisplaced, c.classicMisplaced) << c.what;
        EXPECT_EQ(FormatJobSummary(classic.summary).warning, c.classicMisplaced) << c.what;
        harness.beforeRun = nullptr;
    }
}

}  // namespace
