// The window side of a conversion: the job thread, which runs the portable
// job against the window's progress bar and status line, and the summary box
// that ends every job.
#pragma once

#include <windows.h>

#include "grid/grid_reader.h"
#include "mesh/conversion_job.h"

// Posted to the main window by the job thread as its very last step.
constexpr UINT kJobEndedMessage = WM_APP + 1;

// A job ready to run, made on the window thread: a copy of everything the job
// reads, and its own grid stream, standing right behind the header.
struct JobStart {
    HWND window = nullptr;
    JobRequest request;
    GridStream input;
};

// Thread entry; takes over a JobStart made with new and posts kJobEndedMessage
// to its window once the summary is done.
DWORD WINAPI RunConversionThread(LPVOID start);

// The last step of every job, on the job thread: shows "Ready..." and the
// summary box, unless the job was cancelled by closing the window. A path
// too long for the box is broken into lines there, so the box fits the screen.
void ShowJobSummary(HWND window, const JobSummary& summary);
