// The command branch: turns clicks and edits into the program's commands.
// Window thread only.
#pragma once

#include <windows.h>

// Handles one WM_COMMAND of the main window: first by control id whatever the
// notification, then, independently, edit-field changes (EN_CHANGE).
void HandleCommand(HWND window, WPARAM wParam, LPARAM lParam);
