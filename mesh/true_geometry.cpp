// True scale: the region's south-west corner is the origin, positions and
// heights are metres over the units, computed in double precision, and each
// coordinate gets as few decimals as keep it within its tolerance.
#include <algorithm>
#include <cmath>

#include "mesh/conversion_job.h"
#include "grid/ground_units.h"
#include "job/number_format.h"
#include "mesh/mesh_geometry.h"

namespace {

// WGS 84: the semi-major axis and the first eccentricity squared.
constexpr double kEquatorRadius = 6378137.0;
constexpr double kFlattening = 1.0 / 298.257223563;
constexpr double kEccentricity2 = kFlattening * (2.0 - kFlattening);
constexpr double kPi = 3.14159265358979323846;

// Metres per degree east (N cos phi) and north (M) at latitude `degrees`.
void MetresPerDegree(double degrees, double& east, double& north) {
    const double phi = degrees * kPi / 180.0;
    const double w = 1.0 - kEccentricity2 * std::sin(phi) * std::sin(phi);
    const double n = kEquatorRadius / std::sqrt(w);             // prime vertical radius of curvature
    const double m = kEquatorRadius * (1.0 - kEccentricity2) / (w * std::sqrt(w));  // meridian radius
    east = n * std::cos(phi) * kPi / 180.0;
    north = m * kPi / 180.0;
}

// The fewest decimals (at most kMaxFixedDecimals) whose rounding stays within
// `tolerance`.
int DecimalsWithin(double tolerance) {
    int decimals = 0;
    while (decimals < kMaxFixedDecimals && 0.5 * std::pow(10.0, -decimals) > tolerance) ++decimals;
    return decimals;
}

// Rounding may take a position this share of a cell off its place, and still
// read back as a single-precision float within 1/1000 of a cell of it at
// 10 000 cells from the origin (a float is off by at most 2^-24 of itself).
constexpr double kPositionRoundingShare = 1e-3 - 1e4 * 0x1p-24;

// A number with up to nine decimals, without trailing zeros.
std::string ShortNumber(double value) {
    char text[kMaxFixedChars];
    std::string s(text, FormatFixed(text, value, kMaxFixedDecimals));
    if (s.find('.') != std::string::npos) {
        while (s.back() == '0') s.pop_back();
        if (s.back() == '.') s.pop_back();
    }
    return s;
}

// The cells from `from` to `to`, `cell` apart: a whole number where the
// two lie on one lattice (to a millionth of a cell), so that a tile's
// positions are the whole grid's to the last digit.
double CellsBetween(double from, double to, double cell) {
    const double cells = (to - from) / cell;
    return std::fabs(cells - std::round(cells)) < 1e-6 ? std::round(cells) : cells;
}

std::string GroundUnitName(const GroundUnits& units) {
    switch (units.unit) {
    case GroundUnit::Degrees: return "degrees";
    case GroundUnit::Feet: return "feet";
    case GroundUnit::UsSurveyFeet: return "US survey feet";
    case GroundUnit::OtherLength: return "units of " + ShortestText(units.metresPerUnit) + " m";
    default: return "metres";
    }
}

}  // namespace

void MakeTrueScaleGeometry(const JobRequest& request, MeshGeometry& g) {
    const GridHeader& h = request.header;
    const RegionWindow& region = request.region;
    const double dx = h.cellWidth, dy = h.cellHeight, units = request.unitMeters;
    g.trueScale = true;
    UpAxis up = request.up;
    FormatsOwnUpAxis(request.format, up);
    g.yUp = up == YUp;
    g.ground = GroundUnitsOf(h, request.hasProjection, request.projection);
    g.westColumn = region.xMin;
    g.southRow = region.yMax;
    g.regionX = g.originX = h.cornerX + (static_cast<double>(region.xMin) - 1.0) * dx;
    g.regionY = g.originY = h.cornerY + (static_cast<double>(h.nrows) - region.yMax) * dy;
    const TrueScaleOrigin& origin = request.origin;
    if (origin.kind != TrueScaleOrigin::RegionCorner) {
        g.columnShift = CellsBetween(origin.x, g.regionX, dx);
        g.rowShift = CellsBetween(origin.y, g.regionY, dy);
        g.originX = origin.x;
        g.originY = origin.y;
        g.originKind = origin.kind;
    }

    double metresEast = dx, metresNorth = dy, heightMetres = 1.0;
    if (g.ground.unit == GroundUnit::Degrees) {
        // At the region's middle latitude (a tile set's: the set's); heights are metres already.
        const double northEdge = g.regionY + (static_cast<double>(region.yMax) - region.yMin + 1.0) * dy;
        g.latitude = std::clamp(origin.latitudeGiven ? origin.latitude : (g.regionY + northEdge) / 2.0, -90.0, 90.0);
        double east = 0.0, north = 0.0;
        MetresPerDegree(g.latitude, east, north);
        metresEast = dx * east;
        metresNorth = dy * north;
    } else {
        heightMetres = g.ground.metresPerUnit;
        metresEast = dx * heightMetres;
        metresNorth = dy * heightMetres;
    }
    // Fitted (for a printer, whose units are millimetres), the region's
    // longer side is fitMillimetres units and the heights follow the same
    // scale; exaggerated, the heights are multiplied once more.
    double scale = 1.0 / units;
    if (request.fitMillimetres > 0.0) {
        const double width = std::fabs(metresEast) * (static_cast<double>(region.xMax) - region.xMin + 1.0);
        const double height = std::fabs(metresNorth) * (static_cast<double>(region.yMax) - region.yMin + 1.0);
        if (std::max(width, height) > 0.0) scale = request.fitMillimetres / std::max(width, height);
    }
    g.stepX = metresEast * scale;
    g.stepY = metresNorth * scale;
    g.heightScale = static_cast<float>(heightMetres * scale * request.exaggerate);
    g.positionDecimals = DecimalsWithin(std::min(std::fabs(g.stepX), std::fabs(g.stepY)) * kPositionRoundingShare);
    // A height within a millimetre of the ground's, as the model has it.
    g.heightDecimals = DecimalsWithin(1e-3 * scale * request.exaggerate);
    g.unitsPerMetre = scale;
    g.fitted = request.fitMillimetres > 0.0;
    g.exaggerate = request.exaggerate;
}

std::vector<std::string> GeometryNotes(const MeshGeometry& g, float unitMeters) {
    if (!g.trueScale) return {};
    std::vector<std::string> notes;
    const std::string unit = g.fitted ? ShortestText(1.0 / g.unitsPerMetre) + " m (fitted)" : ShortestText(unitMeters) + " m";
    notes.push_back("Geometry: true scale, 1 unit = " + unit + ", " +
                    (g.yUp ? "x east, y up, z south" : "x east, y north, z up"));
    if (g.exaggerate != 1.0) notes.push_back("Heights exaggerated " + ShortestText(g.exaggerate) + " times");
    const std::string where = " in the grid's coordinates (" + GroundUnitName(g.ground) + ")";
    const auto at = [](double x, double y) { return "at x " + ShortNumber(x) + " y " + ShortNumber(y); };
    if (g.originKind == TrueScaleOrigin::RegionCorner)
        notes.push_back("Origin: the region's south-west corner, " + at(g.originX, g.originY) + where);
    else
        notes.push_back(std::string("Origin: ") +
                        (g.originKind == TrueScaleOrigin::TileSetCorner ? "the tile set's south-west corner, " : "as given, ") +
                        at(g.originX, g.originY) + where + "; the region's south-west corner lies " + at(g.regionX, g.regionY));
    if (g.ground.unit == GroundUnit::Degrees)
        notes.push_back("Degrees turned into metres at latitude " + ShortNumber(g.latitude) + " (WGS 84)");
    return notes;
}
