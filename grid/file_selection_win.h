// Step 1: choosing the grid file.
#pragma once

#include <windows.h>
#include <shellapi.h>

#include <string>

// Result of the open-file dialog: the full path, or nothing.
struct ChosenFile {
    bool chosen = false;
    std::wstring path;
};

// The open-file dialog with its title and filter (pairs of a shown name and
// its patterns, each ended by a null, the list by another); the file must
// exist. Nothing when it was cancelled.
ChosenFile AskForFile(HWND window, const wchar_t* filter, const wchar_t* title);

// Asks for a grid file, reads its header and makes it the selected file:
// fills the file-info panel and the region fields, enables the later steps,
// computes the estimates and chooses Interpolated. A cancelled dialog or a
// file that is not a grid only shows a warning and keeps the previous
// selection whole. Window thread only.
void SelectGridFile(HWND window);

// Makes `path` (relative to the current directory, or full) the selected
// file with the same checks and warnings as a file chosen in the dialog.
// The dialog, a dropped file and a path given at start all end here.
void SelectGridPath(HWND window, const std::wstring& path);

// WM_DROPFILES: selects the first dropped file as SelectGridPath does and
// releases the drop. Ignored while a job runs.
void SelectDroppedGridFile(HWND window, HDROP drop);

// Why the reader refused a grid's header (its `problem`), as a paragraph to
// add to a warning; empty when it gave no reason (not a grid at all).
std::wstring HeaderProblemText(const std::string& problem);
