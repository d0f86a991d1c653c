// The status line, the enable groups that lead the user through the five
// steps, the method selection and the drawing of the four image buttons.
// SetStatus and EnableInputSteps are also called from the job thread: the
// window thread carries out the messages they send while the caller waits.
#pragma once

#include <windows.h>

#include "grid/grid_types.h"

// Shows "Status: <text>" in the status line of step 5.
void SetStatus(HWND window, const wchar_t* text);

// Sets `converting` and repaints the Convert button, whose picture (CONVERT
// or CANCEL) follows the flag: a click repaints the button anyway, but a job
// started or ended by a key or by the job's own end must repaint it too.
void SetConverting(HWND window, bool converting);

void EnableFileInfo(HWND window, bool enable);
// Step 2; also sets regionEnabled, which picks the region picture.
void EnableRegionGroup(HWND window, bool enable);
// Step 3; the simplified choice follows as EnableSimplifiedChoice sets it.
void EnableMethodGroup(HWND window, bool enable);
// The Simplified check box and its error field: enabled while the method
// buttons are and Interpolated is the chosen method.
void EnableSimplifiedChoice(HWND window);
void EnableInterpolatedEstimate(HWND window, bool enable);
void EnableFloatingEstimate(HWND window, bool enable);
// Step 4: the units, the geometry and the Output button.
void EnableUnitsGroup(HWND window, bool enable);
// The geometry's lists and the units as the output allows, while step 4 is
// enabled: a binary format or a fitted size chooses True scale and greys the
// geometry's list (their numbers are true scale only), and a fitted size,
// which sets the scale itself, greys the units; Classic chooses Z up and
// greys the up axis. Called when the output or the geometry changed.
void EnableGeometryChoices(HWND window);
// The Output button names the format, then each that still fits its face of
// the solid, the fitted size, and the texture or without one the normals when
// the file holds them: "&Output: PLY, relief...", "&Output: OBJ, 120 mm...",
// "&Output: STL, solid...".
void SetOutputButtonText(HWND window);
// The choices of steps 4 and 5 as the controls show them.
MeshGeometryKind ChosenGeometry(HWND window);
UpAxis ChosenUpAxis(HWND window);
bool HeightBitmapChosen(HWND window);
// Ticked and enabled: the Interpolated surface is simplified.
bool SimplifiedChosen(HWND window);
// The file-info panel and steps 2 to 5.
void EnableAllSteps(HWND window, bool enable);
// The select-file button, the file-info panel, steps 2 to 4 and the
// height-bitmap check box of step 5.
void EnableInputSteps(HWND window, bool enable);

// Sets the method and repaints both method buttons for it.
void SelectMethod(HWND window, MeshMethod method);

// Draws the image of an image button on its custom-draw notifications;
// ignores every other notification. The caller answers 0 (CDRF_DODEFAULT).
void DrawImageButton(HWND window, const NMHDR* header);

// A warning box owned by the main window with the caption "Ooups!".
void ShowWarning(HWND window, const wchar_t* text);
