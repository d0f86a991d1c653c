// Step 1: choosing the grid file.
#pragma once

#include <windows.h>

// Asks for a grid file, reads its header and makes it the selected file:
// fills the file-info panel and the region fields, enables the later steps,
// computes the estimates and chooses Interpolated. A cancelled dialog or a
// file that is not a grid only shows a warning and keeps the previous
// selection whole. Window thread only.
void SelectGridFile(HWND window);
