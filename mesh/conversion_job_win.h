// The window side of a conversion: the job thread entries, which run the
// portable job against the window's progress bar, status line and controls,
// and the summary that ends every job.
#pragma once

#include <windows.h>

#include "mesh/conversion_job.h"

// Thread entries; the argument is the main window. They return 0 once the
// summary box has been dismissed.
DWORD WINAPI RunInterpolatedJob(LPVOID window);
DWORD WINAPI RunFloatingPlanesJob(LPVOID window);

// The last step of every job, on the job thread: re-reads the header so the
// next job starts at the first data line, shows the summary box, then clears
// cancelRequested and converting and re-enables the inputs.
void ShowJobSummary(HWND window, const JobSummary& summary);
