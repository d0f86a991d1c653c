// What a grid's coordinates count in: metres, degrees of a geographic
// coordinate system, feet or another unit of length. Told by a ".prj" file
// beside the grid (the coordinate system as WKT text, as GIS tools write it,
// or the older keyword lines "Projection UTM", "Units FEET"), or, without
// one, guessed from the header: cells of at most 0.01 whose extent lies
// within +-180 / +-90 are degrees.
#pragma once

#include <filesystem>
#include <string>

#include "grid/grid_types.h"

enum class GroundUnit { Metres, Degrees, Feet, UsSurveyFeet, OtherLength };

struct GroundUnits {
    GroundUnit unit = GroundUnit::Metres;
    // Metres in one unit of length (1 for metres; 1 for degrees too, which
    // are turned into metres otherwise). OtherLength: the .prj's factor.
    double metresPerUnit = 1.0;
    bool guessed = false;  // no ".prj" said so: taken from the header
    // A ".prj" stands beside the grid but says nothing understood (empty,
    // not text, a folder, an unknown unit): the unit was guessed as without one.
    bool projectionUnreadable = false;
};

// Whether a ".prj" file stands beside `gridPath` (same folder and stem, any
// case of the extension on Windows), and its text: at most 64 KiB of it,
// empty when it cannot be read (a folder of that name, no permission).
bool ReadProjectionBeside(const std::filesystem::path& gridPath, std::string& text);

// The unit of the grid's coordinates: from the projection text when there is
// one (`hasProjection`) and it can be understood, else guessed from the header.
GroundUnits GroundUnitsOf(const GridHeader& header, bool hasProjection, const std::string& projection);

// Why True scale cannot place the grid: in degrees, its rows reach beyond a
// pole (north of 90 or south of -90). Empty when they do not, and for a grid
// in other units.
std::string LatitudeProblem(const GridHeader& header, const GroundUnits& units);
