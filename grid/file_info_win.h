// The window side of the file-info panel, the region and units fields and
// the size estimates. Window thread only.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

// The text of an edit field as read into 16 characters (at most 15 count).
std::wstring ReadFieldText(HWND field);

// The upper limit of region field `id` (IDC_XMIN .. IDC_YMAX) for the
// selected grid: X min and Y min stop one short of the column and row counts.
int32_t RegionFieldLimit(int id);

// Creates the tooltip that shows the selected file's full path over the
// file name; called once with the controls.
void CreateFileNameTip(HWND window);

// Fills the two value columns of the file-info panel from inputPath,
// inputStem, inputExt and header, and sets records. A name too wide for its
// line is shortened in its middle; the tooltip shows the full path.
void ShowFileInfo(HWND window);

// True while a region field has the focus and is empty: it waits for the
// typing to go on and is refilled only when it loses the focus or at Convert.
bool RegionFieldWaits(HWND field);

// Rewrites a region field that holds a number below 1 or above `upperLimit`,
// caret after the new text.
// The rewrite makes the field report a change again, which re-enters the
// command branch before this returns; the second pass finds nothing to do.
void ClampRegionField(HWND field, int32_t upperLimit);

// Replaces a negative number in the units field by "1.0".
void ClampUnitsField(HWND field);

// Reads the four region fields into region (a waiting empty field as the
// value it will be refilled with) and rewrites both methods' vertex,
// triangle and quad estimates.
void UpdateEstimates(HWND window);
