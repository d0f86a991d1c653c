// The computations behind the file-info panel, the region, units and error
// fields and the size estimates, free of any window code.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "grid/grid_types.h"

// Field texts are read into 16-character buffers: at most 15 characters count.
constexpr std::size_t kFieldChars = 15;

// A count as text: below 1000 (every negative value too) plain, otherwise
// with one space between groups of three digits: 1 234 567.
std::wstring FormatGrouped(int64_t value);
// A value as "%.2f" (ties away from zero), as wide text.
std::wstring Fixed2Text(float value);

// The leading integer of a field text (first kFieldChars characters): leading
// whitespace skipped, optional sign, digits up to the first other character;
// no digits gives 0; beyond the 32-bit range gives the nearest 32-bit limit.
int32_t LeadingInteger(const std::wstring& text);

// What a region field must be rewritten to, or nothing when it may stand: a
// value below 1 becomes "1"; a value above `upperLimit` becomes the limit. An
// upper limit below 1 (a grid of one column or row) is not applied, so the
// clamp always settles.
std::optional<std::wstring> ClampedRegionText(const std::wstring& text, int32_t upperLimit);
// The value a region field stands for: its number once clamped (an empty
// field that waits for typing counts as the 1 it will be refilled with).
int32_t ClampedRegionValue(const std::wstring& text, int32_t upperLimit);

// A field text's leading number (of its first kFieldChars characters), as the
// classic-locale wide-text-to-double conversion reads it with a decimal comma
// taken as the point: 0 when no number starts the text. `alone` is true when
// a number starts it and nothing but white space follows.
struct FieldNumber {
    double value = 0.0;
    bool alone = false;
};
FieldNumber ReadFieldNumber(const std::wstring& text);

// The units field's leading number (ReadFieldNumber), narrowed to float.
float UnitsValue(const std::wstring& text);
// The units field's number when the text is that number and nothing else
// (white space aside); nothing for "abc", "" or "1.5abc".
std::optional<float> UnitsFromText(const std::wstring& text);
// True when the units field holds a negative number and must become "1.0".
bool UnitsTextIsNegative(const std::wstring& text);
// True when `unitMeters` can drive a conversion: a finite number above zero.
bool UnitsAreUsable(float unitMeters);

struct RegionEstimates {
    int64_t cells = 0;
    int64_t corners = 0;
    int64_t interpolatedVertices = 0;
    int64_t floatingVertices = 0;
    int64_t triangles = 0;
    int64_t quads = 0;
};
// The counts of a region; an empty region counts 0 everywhere.
RegionEstimates EstimateRegion(const RegionWindow& region);
// The three lines of each method's estimate column: "~Verts\n~Tris\n~Quads".
std::wstring InterpolatedEstimateText(const RegionEstimates& estimates);
std::wstring FloatingEstimateText(const RegionEstimates& estimates);

struct FileInfoTexts {
    int64_t records = 0;
    std::wstring column1;  // file name, columns, rows, records
    std::wstring column2;  // xll center, yll center, cell size, no data value
};
// The panel texts for a selected file; the shown name is cut to 63 characters.
FileInfoTexts MakeFileInfoTexts(const std::wstring& stem, const std::wstring& ext,
                                const GridHeader& header);
