// A plain, literal implementation of both mesh methods: std::getline, one
// std::istringstream per row, `>> float`, one snprintf per number and corner
// records per cell. The differential tests hold the fast core against it, and
// the benchmark times it as "the plain way".
#pragma once

#include <cstdint>
#include <istream>
#include <ostream>
#include <string>

#include "grid/grid_types.h"
#include "job/job_counts.h"

enum class ReferenceRounding {
    TiesAway,  // exact "%.2f" with ties away from zero, as the program writes
    Printf,    // the C library's "%.2f" (the plain way; ties may differ)
};

// Converts the data section read from `data` (standing just behind the
// header) as the program does, writing everything after the header block.
JobCounts ReferenceConvert(std::istream& data, const GridHeader& header, MeshMethod method,
                                 const RegionWindow& region, float unitMeters,
                                 const std::string& outputName, ReferenceRounding rounding,
                                 std::ostream& out);

// Reads a standard six-pair header with formatted extraction.
bool ReferenceReadHeader(std::istream& in, GridHeader& header);

// The program's "%.2f" rule, computed from the C library's exact expansion.
std::string ReferenceFixed2(float value);
