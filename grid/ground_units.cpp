#include "grid/ground_units.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "job/number_format.h"

namespace {

constexpr std::size_t kMaxProjectionBytes = std::size_t{64} << 10;
constexpr double kFootMetres = 0.3048;
constexpr double kUsSurveyFootMetres = 1200.0 / 3937.0;
// How far past a pole a degree grid's rows may reach: what adding up the
// rows in double precision may miss the edge by (1e-9 degrees is 0.1 mm).
constexpr double kPoleSlackDegrees = 1e-9;

std::string Upper(std::string text) {
    for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return text;
}

// The unit of length `metresPerUnit` metres long: metres and the two feet
// known by their factor (the digits a .prj writes them with may differ in
// the last places), any other as that factor.
GroundUnits LengthUnits(double metresPerUnit) {
    const auto is = [metresPerUnit](double metres) { return std::fabs(metresPerUnit - metres) <= 1e-9 * metres; };
    GroundUnits units;
    units.unit = GroundUnit::OtherLength;
    units.metresPerUnit = metresPerUnit;
    if (is(1.0)) units = GroundUnits{};
    if (is(kFootMetres)) units = {GroundUnit::Feet, kFootMetres};
    if (is(kUsSurveyFootMetres)) units = {GroundUnit::UsSurveyFeet, kUsSurveyFootMetres};
    return units;
}

// The factor of a WKT text's last UNIT["name", factor] (LENGTHUNIT and
// ANGLEUNIT alike): 0 when there is none, or it is not a number above 0.
double LastUnitFactor(const std::string& wkt) {
    const std::size_t unit = wkt.rfind("UNIT[\"");
    if (unit == std::string::npos) return 0.0;
    const std::size_t nameEnd = wkt.find('"', unit + 6);
    const std::size_t comma = nameEnd == std::string::npos ? nameEnd : wkt.find_first_not_of(" \t\r\n", nameEnd + 1);
    if (comma == std::string::npos || wkt[comma] != ',') return 0.0;
    const char* start = wkt.c_str() + comma + 1;
    char* end = nullptr;
    const double factor = std::strtod(start, &end);
    return end != start && std::isfinite(factor) && factor > 0.0 ? factor : 0.0;
}

// The unit of a WKT text: a projected system's is its last UNIT, the one of
// the projection itself (the geographic system inside it has one for angles);
// a geographic system's is degrees. A projected system names its geographic
// base inside: what the text starts with tells the two apart. False for text
// that is neither, or a projection without a unit.
bool WktUnits(const std::string& wkt, GroundUnits& units) {
    const std::size_t projected = std::min(wkt.find("PROJCS["), wkt.find("PROJCRS["));
    const std::size_t geographic = std::min(wkt.find("GEOGCS["), wkt.find("GEOGCRS["));
    if (projected != std::string::npos && projected < geographic) {
        const double factor = LastUnitFactor(wkt);
        if (factor == 0.0) return false;
        units = LengthUnits(factor);
        return true;
    }
    if (geographic == std::string::npos) return false;
    units.unit = GroundUnit::Degrees;
    return true;
}

// The word after `keyword` on the first line that starts with it, in the
// older ESRI keyword lines ("Projection    UTM"); empty when none does.
std::string KeywordValue(std::string text, const char* keyword) {
    std::replace(text.begin(), text.end(), '\r', '\n');  // a lone CR ends a line too
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line, '\n');) {
        std::istringstream words(line);
        std::string first, value;
        if (words >> first >> value && first == keyword) return value;
    }
    return "";
}

// The unit of the older keyword lines: degrees for "Projection GEOGRAPHIC";
// otherwise the "Units" line's, METERS (or no Units line) or FEET, which GIS
// tools read as US survey feet. False without a Projection line, or for a
// unit not known here.
bool KeywordUnits(const std::string& text, GroundUnits& units) {
    const std::string projection = KeywordValue(text, "PROJECTION");
    if (projection.empty()) return false;
    if (projection == "GEOGRAPHIC") {
        units.unit = GroundUnit::Degrees;
        return true;
    }
    const std::string unit = KeywordValue(text, "UNITS");
    if (unit.empty() || unit == "METERS" || unit == "METRES") units = LengthUnits(1.0);
    else if (unit == "FEET") units = LengthUnits(kUsSurveyFootMetres);
    else return false;
    return true;
}

// Without a .prj: degrees when the cells are small and the grid lies within
// +-180 / +-90, else metres.
GroundUnits GuessedUnits(const GridHeader& header) {
    GroundUnits units;
    const double dx = header.cellWidth, dy = header.cellHeight;
    const double west = header.cornerX, south = header.cornerY;
    const double east = west + header.ncols * dx, north = south + header.nrows * dy;
    if (dx > 0 && dy > 0 && dx <= 0.01 && dy <= 0.01 && west >= -180 && east <= 180 && south >= -90 && north <= 90) {
        units.unit = GroundUnit::Degrees;
        units.guessed = true;
    }
    return units;
}

}  // namespace

bool ReadProjectionBeside(const std::filesystem::path& gridPath, std::string& text) {
    std::filesystem::path prj = gridPath;
    prj.replace_extension(".prj");
    std::error_code error;
    if (!std::filesystem::exists(prj, error)) return false;
    text.clear();
    std::ifstream in(prj, std::ios::binary);
    if (!in) return true;
    text.assign(kMaxProjectionBytes, '\0');
    in.read(text.data(), static_cast<std::streamsize>(text.size()));
    text.resize(static_cast<std::size_t>(std::max<std::streamsize>(in.gcount(), 0)));
    return true;
}

GroundUnits GroundUnitsOf(const GridHeader& header, bool hasProjection, const std::string& projection) {
    GroundUnits units;
    if (hasProjection) {
        const std::string text = Upper(projection);
        if (WktUnits(text, units) || KeywordUnits(text, units)) return units;
    }
    units = GuessedUnits(header);
    units.projectionUnreadable = hasProjection;
    return units;
}

std::string LatitudeProblem(const GridHeader& header, const GroundUnits& units) {
    if (units.unit != GroundUnit::Degrees) return "";
    const double south = header.cornerY, north = south + header.nrows * header.cellHeight;
    const double beyond = north > 90.0 + kPoleSlackDegrees    ? north
                          : south < -90.0 - kPoleSlackDegrees ? south
                                                              : 0.0;
    if (beyond == 0.0) return "";
    // Single precision is plenty for the message: 91.99, not 91.99000000000001.
    return "in degrees, its rows reach latitude " + ShortestText(static_cast<float>(beyond)) +
           ", beyond the pole (latitudes lie within -90 to 90)";
}
