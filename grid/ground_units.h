// What a grid's coordinates count in: metres, degrees of a geographic
// coordinate system, or feet. Told by a ".prj" file beside the grid (the
// coordinate system as WKT text, as GIS tools write it), or, without one,
// guessed from the header: cells of at most 0.01 whose extent lies within
// +-180 / +-90 are degrees.
#pragma once

#include <filesystem>
#include <string>

#include "grid/grid_types.h"

enum class GroundUnit { Metres, Degrees, Feet, UsSurveyFeet };

struct GroundUnits {
    GroundUnit unit = GroundUnit::Metres;
    bool guessed = false;  // no ".prj" said so: taken from the header
};

// The text of the ".prj" file beside `gridPath` (same folder and stem, any
// case of the extension on Windows); false when there is none or it cannot be
// read. Read at most 64 KiB.
bool ReadProjectionBeside(const std::filesystem::path& gridPath, std::string& text);

// The unit of the grid's coordinates: from the projection text when there is
// one (`hasProjection`), else guessed from the header.
GroundUnits GroundUnitsOf(const GridHeader& header, bool hasProjection, const std::string& projection);

// Metres in one unit of length (1 for metres and degrees, which are turned
// into metres otherwise).
double MetresPerUnit(GroundUnit unit);
