// The command branch: turns clicks and edits into the program's commands.
// Window thread only.
#pragma once

#include <windows.h>

// Handles one WM_COMMAND of the main window: first by control id whatever the
// notification, then, independently, edit-field changes (EN_CHANGE).
void HandleCommand(HWND window, WPARAM wParam, LPARAM lParam);

// A grid file was selected (or the selection failed): the Simplified choice
// follows the method chosen with it, and the Interpolated estimate shows
// whether its counts are known before converting.
void GridSelected(HWND window);

// kJobEndedMessage: the job thread has ended. Waits for it, re-enables the
// inputs, clears `converting`, and destroys the window when it was closed
// while the job ran.
void EndConversion(HWND window);

// WM_CLOSE. Without a job the window is destroyed at once. While a job runs,
// the job is cancelled and the window is destroyed when it has ended (see
// EndConversion), so nothing partial stays on disk. No question is asked.
void CloseMainWindow(HWND window);
