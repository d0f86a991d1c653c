#include "grid/ground_units.h"

#include <algorithm>
#include <cctype>
#include <fstream>

namespace {

constexpr std::size_t kMaxProjectionBytes = std::size_t{64} << 10;

std::string Upper(std::string text) {
    for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return text;
}

// The unit of a projected system's WKT: its last UNIT["name", ...] (or
// LENGTHUNIT), the one of the projection itself (the geographic system inside
// it has one for angles).
GroundUnit ProjectedUnit(const std::string& wkt) {
    const std::size_t unit = wkt.rfind("UNIT[\"");
    if (unit == std::string::npos) return GroundUnit::Metres;
    const std::size_t name = wkt.find('"', unit) + 1;
    const std::string unitName = wkt.substr(name, wkt.find('"', name) - name);
    const bool survey = unitName.find("US") != std::string::npos || unitName.find("SURVEY") != std::string::npos;
    if (unitName.find("FOOT") != std::string::npos || unitName.find("FEET") != std::string::npos ||
        unitName == "FT")
        return survey ? GroundUnit::UsSurveyFeet : GroundUnit::Feet;
    return GroundUnit::Metres;
}

}  // namespace

bool ReadProjectionBeside(const std::filesystem::path& gridPath, std::string& text) {
    std::filesystem::path prj = gridPath;
    prj.replace_extension(".prj");
    std::ifstream in(prj, std::ios::binary);
    if (!in) return false;
    text.assign(kMaxProjectionBytes, '\0');
    in.read(text.data(), static_cast<std::streamsize>(text.size()));
    text.resize(static_cast<std::size_t>(in.gcount()));
    return true;
}

GroundUnits GroundUnitsOf(const GridHeader& header, bool hasProjection, const std::string& projection) {
    GroundUnits units;
    if (hasProjection) {
        const std::string wkt = Upper(projection);
        // A projected system names its geographic base inside: what it starts
        // with tells the two apart.
        const std::size_t projected = std::min(wkt.find("PROJCS["), wkt.find("PROJCRS["));
        const std::size_t geographic = std::min(wkt.find("GEOGCS["), wkt.find("GEOGCRS["));
        if (projected != std::string::npos && projected < geographic) units.unit = ProjectedUnit(wkt);
        else if (geographic != std::string::npos) units.unit = GroundUnit::Degrees;
        return units;
    }
    const double dx = header.cellsize, dy = CellSizeY(header);
    const double west = header.xllcorner, south = header.yllcorner;
    const double east = west + header.ncols * dx, north = south + header.nrows * dy;
    if (dx > 0 && dy > 0 && dx <= 0.01 && dy <= 0.01 && west >= -180 && east <= 180 && south >= -90 && north <= 90) {
        units.unit = GroundUnit::Degrees;
        units.guessed = true;
    }
    return units;
}

double MetresPerUnit(GroundUnit unit) {
    switch (unit) {
    case GroundUnit::Feet: return 0.3048;
    case GroundUnit::UsSurveyFeet: return 1200.0 / 3937.0;
    default: return 1.0;
    }
}
