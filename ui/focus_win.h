// Keyboard focus in the main window: the keys a dialog answers (Tab and
// Shift+Tab in layout order, Space on a button, Enter, Esc), where the focus
// starts and where it returns. Window thread only.
#pragma once

#include <windows.h>

// Hands a message of the loop to the dialog keyboard handling; true when it
// was handled there (and dispatched). A control reached by the keyboard is
// scrolled into view.
bool HandleDialogKeys(HWND window, MSG& message);

// Gives a control the focus, selects an edit field's whole text (so typing
// replaces it) and scrolls the control into view.
void FocusControl(HWND window, int id);

// WM_ACTIVATE: remembers the focused control when the window is deactivated
// (by a dialog, a message box or another program) and gives it the focus
// back on activation; without one, Select file or else Convert gets it.
void OnActivate(HWND window, WPARAM wParam);

// The button that Enter presses: the focused image button or Output button,
// otherwise Convert (Enter in an edit field converts).
int EnterButton(HWND window);
