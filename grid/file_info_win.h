// The window side of the file-info panel, the region and units fields and
// the size estimates. Window thread only.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

// The text of an edit field as read into 16 characters (at most 15 count).
std::wstring ReadFieldText(HWND field);

// Fills the two value columns of the file-info panel from inputStem,
// inputExt and header, and sets records.
void ShowFileInfo(HWND window);

// Rewrites a region field that holds a number below 1 or above `upperLimit`.
// The rewrite makes the field report a change again, which re-enters the
// command branch before this returns; the second pass finds nothing to do.
void ClampRegionField(HWND field, int32_t upperLimit);

// Replaces a negative number in the units field by "1.0".
void ClampUnitsField(HWND field);

// Reads the four region fields into region and rewrites both methods'
// vertex, triangle and quad estimates.
void UpdateEstimates(HWND window);
